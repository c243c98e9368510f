// Script store against real files: loading, reading by index, releasing, and
// every way a load is refused without leaving anything open behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "script_store.h"
#include "text_adapters.h"

namespace {

std::string TempName(const char* tag) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + "korvan_script_" + std::to_string(GetCurrentProcessId()) + "_" +
           tag + ".dcs";
}

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    WidenText(&wide[0], text.c_str());
    wide.resize(text.size());
    return wide;
}

void WriteWhole(const std::string& name, const std::string& bytes) {
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

// A file of size bytes that takes no room on disk.
void WriteSparse(const std::string& name, LONGLONG size) {
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = size;
    ASSERT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);
}

// True when someone else may open the file for reading right now.
bool OthersCanOpen(const std::string& name) {
    HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

void ExpectEmpty(int16_t slot) {
    EXPECT_EQ(ScriptStore[slot].loaded, 0);
    EXPECT_EQ(ScriptStore[slot].data, nullptr);
    EXPECT_EQ(ScriptSize(slot), 0);
}

} // namespace

TEST(ScriptStore, LoadsTheWholeFileAndKeepsWhatItReadUntilReleased) {
    const std::string name = TempName("whole");
    const std::string bytes("\x00\xFF\x41\x0A\x00", 5);
    WriteWhole(name, bytes);

    ASSERT_EQ(LoadScript(1, Wide(name).c_str()), 0);
    EXPECT_EQ(ScriptStore[1].loaded, 1);
    ASSERT_EQ(ScriptSize(1), 5);
    for (int32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(ScriptByte(1, i), static_cast<uint8_t>(bytes[i])) << i;
    }
    EXPECT_EQ(ScriptByte(1, 1), 255);
    // Others may read the file, another slot among them, and replace it:
    // the slot keeps what it read.
    EXPECT_TRUE(OthersCanOpen(name));
    ASSERT_EQ(LoadScript(3, Wide(name).c_str()), 0);
    EXPECT_EQ(ScriptSize(3), 5);
    ReleaseScript(3);
    ASSERT_TRUE(DeleteFileA(name.c_str()));
    WriteWhole(name, "replaced");
    ASSERT_EQ(ScriptSize(1), 5);
    EXPECT_EQ(ScriptByte(1, 2), 0x41);

    EXPECT_EQ(ReleaseScript(1), 0);
    ExpectEmpty(1);
    EXPECT_TRUE(OthersCanOpen(name));
    // A second release does nothing.
    EXPECT_EQ(ReleaseScript(1), 0);
    ExpectEmpty(1);
    // The slot takes a file again.
    EXPECT_EQ(LoadScript(1, Wide(name).c_str()), 0);
    EXPECT_EQ(ScriptSize(1), 8);
    ReleaseScript(1);
    DeleteFileA(name.c_str());
}

TEST(ScriptStore, AnEmptyFileLoadsWithSizeZero) {
    const std::string name = TempName("empty");
    WriteWhole(name, "");
    EXPECT_EQ(LoadScript(1, Wide(name).c_str()), 0);
    EXPECT_EQ(ScriptStore[1].loaded, 1);
    EXPECT_EQ(ScriptSize(1), 0);
    EXPECT_EQ(ScriptByte(1, 0), 0);
    ReleaseScript(1);
    DeleteFileA(name.c_str());
}

TEST(ScriptStore, AMissingFileIsRefusedAndNotCreated) {
    const std::string name = TempName("missing");
    DeleteFileA(name.c_str());
    EXPECT_EQ(LoadScript(1, Wide(name).c_str()), 1);
    ExpectEmpty(1);
    EXPECT_EQ(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(LoadScript(1, L""), 1);
    EXPECT_EQ(LoadScript(1, nullptr), 1);
    ExpectEmpty(1);
}

TEST(ScriptStore, AFileHeldWithoutSharingIsRefused) {
    const std::string name = TempName("held");
    WriteWhole(name, "abc");
    HANDLE holder = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LoadScript(1, Wide(name).c_str()), 1);
    ExpectEmpty(1);
    CloseHandle(holder);
    EXPECT_EQ(LoadScript(1, Wide(name).c_str()), 0);
    ReleaseScript(1);
    DeleteFileA(name.c_str());
}

TEST(ScriptStore, FilesOfTwoGibibytesOrMoreAreRefusedAndLeftClosed) {
    // 2 GiB does not fit the signed size; 4 GiB + 10 would pass as 10 bytes
    // if only the low half of the size were looked at.
    const LONGLONG sizes[] = {0x80000000LL, 0x10000000ALL};
    for (LONGLONG size : sizes) {
        const std::string name = TempName("large");
        WriteSparse(name, size);
        EXPECT_EQ(LoadScript(1, Wide(name).c_str()), 1) << size;
        ExpectEmpty(1);
        EXPECT_TRUE(OthersCanOpen(name)) << size;
        DeleteFileA(name.c_str());
    }
}

TEST(ScriptStore, ALoadedSlotIsNotLoadedOver) {
    const std::string first = TempName("first");
    const std::string second = TempName("second");
    WriteWhole(first, "12");
    WriteWhole(second, "3456");
    ASSERT_EQ(LoadScript(1, Wide(first).c_str()), 0);
    EXPECT_EQ(LoadScript(1, Wide(second).c_str()), 1);
    EXPECT_EQ(ScriptSize(1), 2);
    EXPECT_EQ(ScriptByte(1, 1), '2');
    EXPECT_TRUE(OthersCanOpen(second));
    // Other slots are independent.
    EXPECT_EQ(LoadScript(19, Wide(second).c_str()), 0);
    EXPECT_EQ(ScriptSize(19), 4);
    ReleaseScript(1);
    ReleaseScript(19);
    DeleteFileA(first.c_str());
    DeleteFileA(second.c_str());
}

TEST(ScriptStore, SlotNumbersOutOfRangeDoNoHarm) {
    const std::string name = TempName("range");
    WriteWhole(name, "abc");
    const int16_t outside[] = {-1, 20, 32767, -32768};
    for (int16_t slot : outside) {
        EXPECT_EQ(LoadScript(slot, Wide(name).c_str()), 1) << slot;
        EXPECT_EQ(ScriptSize(slot), 0) << slot;
        EXPECT_EQ(ScriptByte(slot, 0), 0) << slot;
        EXPECT_EQ(ReleaseScript(slot), 0) << slot;
    }
    EXPECT_TRUE(OthersCanOpen(name));
    // An index outside the data reads as 0.
    ASSERT_EQ(LoadScript(0, Wide(name).c_str()), 0);
    EXPECT_EQ(ScriptByte(0, 3), 0);
    EXPECT_EQ(ScriptByte(0, -1), 0);
    ReleaseScript(0);
    DeleteFileA(name.c_str());
}
