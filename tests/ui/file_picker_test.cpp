// "Setup" and its file picker, the platform's common open-file dialog owned
// by the main dialog, driven from a second thread: found among the windows
// of the dialog's thread, its file-name field filled, Open or Cancel pressed.
#include <gtest/gtest.h>

#include <windows.h>

#include <commdlg.h>
#include <dlgs.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "dialog_ids.h"
#include "main_dialog.h"
#include "support/window_search.h"

namespace {

// True when the code page carries c there and back unchanged.
bool CodePageCarries(wchar_t c) {
    char bytes[8];
    BOOL defaultUsed = FALSE;
    int count =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &c, 1, bytes, 8, nullptr, &defaultUsed);
    wchar_t back[4] = {};
    return count > 0 && !defaultUsed &&
           MultiByteToWideChar(CP_ACP, 0, bytes, count, back, 4) == 1 && back[0] == c;
}

// Letters of the ANSI code page that lie outside Latin-1, so that a copy of
// low bytes corrupts them (in 1252: the euro sign, OE, S with caron, the en
// dash), and one of Latin-1 beyond ASCII.
std::wstring CodePageLetters() {
    std::wstring letters;
    for (wchar_t c :
         {L'\u20AC', L'\u0152', L'\u0160', L'\u2013', L'\u0416', L'\u0141', L'\u03A9', L'\u00E9'}) {
        if (CodePageCarries(c)) {
            letters += c;
        }
    }
    return letters;
}

HWND NameField(HWND picker) {
    HWND field = FindDescendant(picker, "Edit", cmb13);
    return field != nullptr ? field : FindDescendant(picker, "Edit", edt1);
}

void Press(HWND picker, int id) {
    HWND button = FindDescendant(picker, "Button", id);
    ASSERT_NE(button, nullptr) << "no button " << id;
    PostMessageA(button, BM_CLICK, 0, 0);
}

std::wstring CurrentDirectory() {
    static wchar_t directory[32768];
    GetCurrentDirectoryW(32768, directory);
    return directory;
}

class FilePickerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        startDirectory = CurrentDirectory();
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        base = MakeFolder(std::wstring(temp) + L"korvan picker " +
                          std::to_wstring(GetCurrentProcessId()));
        dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN_DIALOG),
                                    nullptr, MainDialogProc, 0);
        ASSERT_NE(dialog, nullptr);
        ShowWindow(dialog, SW_SHOW);
        edit = GetDlgItem(dialog, IDC_FILE_NAME);
    }
    void TearDown() override {
        DestroyWindow(dialog);
        SetCurrentDirectoryW(startDirectory.c_str());
        for (auto made = madePaths.rbegin(); made != madePaths.rend(); ++made) {
            if (!DeleteFileW(made->c_str())) {
                RemoveDirectoryW(made->c_str());
            }
        }
    }
    std::wstring MakeFolder(const std::wstring& path) {
        EXPECT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << GetLastError();
        madePaths.push_back(path);
        return path;
    }
    std::wstring MakeFile(const std::wstring& path) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
        CloseHandle(file);
        madePaths.push_back(path);
        return path;
    }
    // A folder under base whose path is at least length characters long.
    std::wstring MakeLongFolder(const std::wstring& start, size_t length) {
        std::wstring path = MakeFolder(base + L"\\" + start);
        while (path.size() < length) {
            path = MakeFolder(path + L"\\" +
                              std::wstring(std::min<size_t>(40, length - path.size()), L'w'));
        }
        return path;
    }

    // Presses "Setup" in this thread; drive gets the picker in another. The
    // text of the picker's file-name field when it opened goes to nameShown.
    // False when no picker opened.
    bool PressSetup(const std::function<void(HWND)>& drive) {
        const DWORD self = GetCurrentThreadId();
        bool opened = false;
        std::atomic<bool> setupReturned(false);
        nameShown.clear();
        std::thread driver([&] {
            DialogQuery query;
            query.thread = self;
            query.owner = dialog;
            // Until "Setup" has returned without a picker, or 20 s have passed.
            HWND picker = nullptr;
            for (int wait = 0; picker == nullptr && !setupReturned && wait < 200; ++wait) {
                picker = WaitForDialog(query, 100);
            }
            if (picker == nullptr) {
                return;
            }
            opened = true;
            nameShown = WindowTextW(NameField(picker));
            drive(picker);
            if (!WaitForWindowGone(picker, 20000)) {
                ADD_FAILURE() << "the picker stayed open";
                PostMessageA(picker, WM_COMMAND, IDCANCEL, 0);
            }
        });
        SendDlgItemMessageA(dialog, IDC_FILE_SETUP, BM_CLICK, 0, 0);
        setupReturned = true;
        driver.join();
        return opened;
    }

    std::wstring startDirectory;
    std::wstring base;
    std::vector<std::wstring> madePaths;
    HWND dialog = nullptr;
    HWND edit = nullptr;
    std::wstring nameShown;
};

} // namespace

TEST(OpenFileBlock, AsksForOneExistingDcsFile) {
    OPENFILENAMEA block;
    memset(&block, 0xCC, sizeof block);
    char file[kPickerFileRoom] = "Korvan.dcs";
    HWND owner = reinterpret_cast<HWND>(0x1234);
    FillOpenFileBlock(&block, owner, file);

    // The size of the fields up to lpTemplateName, without those of later
    // versions: 76 bytes in a 32-bit program (136 in a 64-bit test build).
    EXPECT_EQ(block.lStructSize, sizeof(void*) == 4 ? 76u : 136u);
    EXPECT_EQ(block.lStructSize, static_cast<DWORD>(OPENFILENAME_SIZE_VERSION_400A));
    EXPECT_EQ(block.lStructSize,
              static_cast<DWORD>(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR)));
    EXPECT_EQ(block.hwndOwner, owner);
    EXPECT_EQ(block.hInstance, nullptr);
    EXPECT_EQ(std::string(block.lpstrFilter, 25), std::string("DCS-Files (*.DCS)\0*.dcs\0\0", 25));
    EXPECT_EQ(block.lpstrCustomFilter, nullptr);
    EXPECT_EQ(block.nMaxCustFilter, 0u);
    EXPECT_EQ(block.nFilterIndex, 0u);
    EXPECT_EQ(block.lpstrFile, file);
    EXPECT_EQ(block.nMaxFile, 780u); // 259 characters of 3 bytes in UTF-8
    EXPECT_EQ(block.lpstrFileTitle, nullptr);
    EXPECT_EQ(block.nMaxFileTitle, 260u);
    EXPECT_EQ(block.lpstrInitialDir, nullptr);
    EXPECT_EQ(block.lpstrTitle, nullptr);
    EXPECT_EQ(block.Flags, 4100u);
    EXPECT_EQ(block.nFileOffset, 0);
    EXPECT_EQ(block.nFileExtension, 0);
    EXPECT_STREQ(block.lpstrDefExt, "dcs");
    EXPECT_EQ(block.lCustData, 0);
    EXPECT_EQ(block.lpfnHook, nullptr);
    EXPECT_EQ(block.lpTemplateName, nullptr);
}

TEST_F(FilePickerTest, CancelLeavesTheEditTextAndTheWorkingDirectory) {
    const std::wstring start = MakeLongFolder(L"start", 210);
    ASSERT_TRUE(SetCurrentDirectoryW(start.c_str()));
    // Longer than the picker can take (259): Cancel must not cut it.
    const std::wstring name = L"C:\\" + std::wstring(290, L'k') + CodePageLetters() + L".dcs";
    SetWindowTextW(edit, name.c_str());
    ASSERT_EQ(WindowTextW(edit), name);

    ASSERT_TRUE(PressSetup([](HWND picker) { Press(picker, IDCANCEL); })) << "no picker";
    EXPECT_EQ(WindowTextW(edit), name);
    EXPECT_EQ(CurrentDirectory(), start);

    SetWindowTextW(edit, L"Korvan.dcs");
    ASSERT_TRUE(PressSetup([](HWND picker) { Press(picker, IDCANCEL); }));
    EXPECT_EQ(nameShown, L"Korvan.dcs");
    EXPECT_EQ(WindowTextW(edit), L"Korvan.dcs");
    EXPECT_EQ(CurrentDirectory(), start);
}

TEST_F(FilePickerTest, AChosenFileGivesItsFullPathAndTheWorkingDirectoryStays) {
    const std::wstring letters = CodePageLetters();
    ASSERT_FALSE(letters.empty()) << "code page " << GetACP();
    const std::wstring folder = MakeLongFolder(L"firmware " + letters, 110);
    const std::wstring file = MakeFile(folder + L"\\Korvan " + letters + L".dcs");
    ASSERT_GT(file.size(), 99u);
    ASSERT_LT(file.size(), 260u);
    // The working directory is longer than 199 characters.
    const std::wstring start = MakeLongFolder(L"start", 230);
    ASSERT_TRUE(SetCurrentDirectoryW(start.c_str()));

    ASSERT_TRUE(PressSetup([&](HWND picker) {
        SendMessageW(NameField(picker), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file.c_str()));
        Press(picker, IDOK);
    })) << "no picker";
    EXPECT_EQ(nameShown, L"Korvan.dcs");
    EXPECT_EQ(WindowTextW(edit), file);
    EXPECT_EQ(CurrentDirectory(), start);
}

TEST_F(FilePickerTest, ThePickerOpensWithTheWholeNameOfTheEdit) {
    const std::wstring letters = CodePageLetters();
    const std::wstring folder = MakeLongFolder(L"firmware " + letters, 150);
    const std::wstring file = MakeFile(folder + L"\\" + letters + L" Korvan.dcs");
    SetWindowTextW(edit, file.c_str());
    const std::wstring start = MakeLongFolder(L"start", 230);
    ASSERT_TRUE(SetCurrentDirectoryW(start.c_str()));

    ASSERT_TRUE(PressSetup([](HWND picker) { Press(picker, IDOK); })) << "no picker";
    // The picker opens in the file's folder and shows the name alone: Open
    // then gives the same full path only if the whole path came through.
    EXPECT_EQ(nameShown, letters + L" Korvan.dcs");
    EXPECT_EQ(WindowTextW(edit), file);
    // The picker went to the file's folder; the program stays where it was.
    EXPECT_EQ(CurrentDirectory(), start);
}
