// KORVAN_Setup.exe as a whole: started as a process of its own, its dialog
// found by caption among that process's windows and quit; the colour scheme
// is then in the registry. Holds the colour_registry lock. Also its image:
// what it imports, and the processor it is built for.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "support/colour_registry.h"

#include "support/window_search.h"

namespace {

const char kCaption[] = "  KORVAN_Setup.exe  V1.01   -   Programme Korvan modules ";

// The program's path as Windows sees it; under Wine the build's Unix path
// lies on drive Z:.
std::string ProgramPath() {
    std::string path = KORVAN_SETUP_EXE;
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
        for (char& c : path) {
            if (c == '/') {
                c = '\\';
            }
        }
    }
    return path;
}

// A value's text in the 8-bit form: the text and one zero byte.
std::string Stored(const char* text) {
    return std::string(text) + std::string(1, '\0');
}

const char* const kDefaultTexts[8] = {
    "255 255 242 ", "240 233 208 ", "240 233 208 ", "0 0 0 ",
    "0 0 0 ",       "255 255 242 ", "212 208 200 ", "212 208 200 ",
};

std::string SlotName(int slot) {
    return std::string("COLOR 0") + static_cast<char>('0' + slot);
}

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DeleteColourKey();
    }
    void TearDown() override {
        if (process.hProcess != nullptr) {
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(process.hProcess, 99);
            }
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        DeleteColourKey();
    }
    // Starts the program, waits for its dialog and presses Quit. The exit
    // code, or -1 when something on the way failed.
    long RunAndQuit(const std::string& arguments) {
        std::string commandLine = "\"" + ProgramPath() + "\"" + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process)) {
            ADD_FAILURE() << "cannot start " << commandLine << ": " << GetLastError();
            return -1;
        }
        DialogQuery query;
        query.process = process.dwProcessId;
        query.caption = kCaption;
        HWND dialog = WaitForDialog(query, 30000);
        if (dialog == nullptr) {
            ADD_FAILURE() << "the program showed no dialog";
            return -1;
        }
        // The dialog has started up: both lists are filled.
        EXPECT_GE(SendDlgItemMessageA(dialog, 21, CB_GETCOUNT, 0, 0), 8);
        EXPECT_EQ(SendDlgItemMessageA(dialog, 111, CB_GETCOUNT, 0, 0), 127);
        HWND quit = GetDlgItem(dialog, 2);
        EXPECT_EQ(WindowTextA(quit), "Quit");
        PostMessageA(quit, BM_CLICK, 0, 0);
        if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the program did not end after Quit";
            return -1;
        }
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        return static_cast<long>(exitCode);
    }
    PROCESS_INFORMATION process = {};
};

// The names the executable imports from the module named dll.
std::string ImportedNames(const std::string& path, const char* dll) {
    HMODULE image = LoadLibraryExA(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (image == nullptr) {
        ADD_FAILURE() << "cannot map " << path << ": " << GetLastError();
        return "";
    }
    const BYTE* base = reinterpret_cast<const BYTE*>(image);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::string names;
    for (const IMAGE_IMPORT_DESCRIPTOR* entry =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         entry->Name != 0; ++entry) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) {
            continue;
        }
        DWORD thunks =
            entry->OriginalFirstThunk != 0 ? entry->OriginalFirstThunk : entry->FirstThunk;
        for (const IMAGE_THUNK_DATA* thunk =
                 reinterpret_cast<const IMAGE_THUNK_DATA*>(base + thunks);
             thunk->u1.AddressOfData != 0; ++thunk) {
            if (!IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)) {
                const IMAGE_IMPORT_BY_NAME* name =
                    reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData);
                names += std::string(reinterpret_cast<const char*>(name->Name)) + " ";
            }
        }
    }
    FreeLibrary(image);
    return names;
}

// The file's first bytes, up to count.
std::string FileStart(const std::string& path, DWORD count) {
    std::string bytes(count, '\0');
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD read = 0;
    if (file == INVALID_HANDLE_VALUE || !ReadFile(file, &bytes[0], count, &read, nullptr)) {
        read = 0;
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    bytes.resize(read);
    return bytes;
}

} // namespace

TEST_F(ProgramTest, QuitAtOnceEndsWithZeroAndWritesTheDefaultScheme) {
    EXPECT_EQ(RunAndQuit(""), 0);
    for (int slot = 0; slot < 8; ++slot) {
        EXPECT_EQ(ReadColourValue(SlotName(slot)), Stored(kDefaultTexts[slot])) << "slot " << slot;
    }
    EXPECT_EQ(ReadColourValue("COLOR 08"), kNoValue);
}

TEST_F(ProgramTest, AGivenSchemeComesBackUnchangedAndTheCommandLineIsIgnored) {
    ASSERT_TRUE(WriteColourValue("COLOR 03", Stored("0 0 255 ")));
    ASSERT_TRUE(WriteColourValue("COLOR 12", Stored("10 20 30 ")));
    EXPECT_EQ(RunAndQuit(" /x --port COM9 Korvan.dcs"), 0);
    for (int slot = 0; slot < 8; ++slot) {
        const char* text = slot == 3 ? "0 0 255 " : kDefaultTexts[slot];
        EXPECT_EQ(ReadColourValue(SlotName(slot)), Stored(text)) << "slot " << slot;
    }
    EXPECT_EQ(ReadColourValue("COLOR 12"), Stored("10 20 30 "));
}

TEST(ProgramImage, SwitchesOffWindowGhosting) {
    // Runs hold the dialog thread for minutes: the program must keep the
    // platform from replacing its window by a frozen copy meanwhile.
    const std::string names = ImportedNames(ProgramPath(), "user32.dll");
    EXPECT_NE(names.find("DisableProcessWindowsGhosting "), std::string::npos) << names;
    EXPECT_NE(names.find("DialogBoxParamA "), std::string::npos) << names;
}

// The program is 32-bit x86; a 64-bit build for the tests (on a machine that
// starts no 32-bit programs) makes it 64-bit x86, like this test.
TEST(ProgramImage, IsAnX86WindowsProgramOfTheBuildsWidth) {
    const bool wide = sizeof(void*) == 8;
    const std::string image = FileStart(ProgramPath(), 4096);
    IMAGE_DOS_HEADER dos;
    ASSERT_GE(image.size(), sizeof dos);
    memcpy(&dos, image.data(), sizeof dos);
    ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
    IMAGE_NT_HEADERS64 nt; // the larger of the two; the fields read here lie alike in both
    ASSERT_GE(dos.e_lfanew, 0);
    ASSERT_LE(static_cast<size_t>(dos.e_lfanew) + sizeof nt, image.size());
    memcpy(&nt, image.data() + dos.e_lfanew, sizeof nt);
    ASSERT_EQ(nt.Signature, static_cast<DWORD>(IMAGE_NT_SIGNATURE));
    EXPECT_EQ(nt.FileHeader.Machine, wide ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ((nt.FileHeader.Characteristics & IMAGE_FILE_32BIT_MACHINE) != 0, !wide);
    EXPECT_EQ(nt.OptionalHeader.Magic,
              wide ? IMAGE_NT_OPTIONAL_HDR64_MAGIC : IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}
