// Text adapters: the plain copies, cutting in both directions of the code
// page conversion, and each adapter against real windows, files and registry
// keys.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "text_adapters.h"
#include "text_conversion.h"

TEST(PlainCopies, EmptyTextsStayEmpty) {
    WCHAR wide[4] = {'x', 'x', 'x', 'x'};
    WidenText(wide, "");
    EXPECT_EQ(wide[0], 0);
    char narrow[4] = {'x', 'x', 'x', 'x'};
    NarrowText(narrow, L"");
    EXPECT_EQ(narrow[0], 0);
}

TEST(PlainCopies, CopyEveryCharacterByValue) {
    WCHAR wide[8];
    WidenText(wide, "a\xE9z");
    EXPECT_EQ(std::wstring(wide), std::wstring(L"a\x00E9z"));
    char narrow[8];
    NarrowText(narrow, L"\x0141\x00E9z");
    EXPECT_EQ(std::string(narrow), std::string("A\xE9z"));
}

TEST(PlainCopies, AsciiComesBackUnchangedThroughTheCodePage) {
    const char text[] = "Konfigmode... 0123456789 ~!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}";
    WCHAR wide[100];
    WidenText(wide, text);
    char back[100];
    ConvertToCodePage(CP_ACP, wide, back, sizeof back);
    EXPECT_STREQ(back, text);
}

// Converts into an output of size bytes inside a larger buffer and checks that
// nothing past the output was touched.
static std::string ToCodePage(UINT codePage, const WCHAR* text, int32_t size) {
    char buffer[64];
    memset(buffer, '#', sizeof buffer);
    ConvertToCodePage(codePage, text, buffer, size);
    for (int32_t i = size; i < static_cast<int32_t>(sizeof buffer); ++i) {
        EXPECT_EQ(buffer[i], '#') << "written past the output at " << i;
    }
    EXPECT_NE(memchr(buffer, 0, size), nullptr) << "output not terminated";
    return std::string(buffer);
}

TEST(ConvertToCodePage, CutsWhatDoesNotFitAndStaysInsideItsOutput) {
    EXPECT_EQ(ToCodePage(1252, L"abcdef", 4), "abc");
    EXPECT_EQ(ToCodePage(1252, L"abc", 4), "abc");
    EXPECT_EQ(ToCodePage(1252, L"abc", 1), "");
    EXPECT_EQ(ToCodePage(1252, nullptr, 4), "");
}

TEST(ConvertToCodePage, NeverSplitsADoubleByteCharacter) {
    // Hiragana a and i: two bytes each in code page 932.
    const WCHAR text[] = L"a\x3042\x3044";
    EXPECT_EQ(ToCodePage(932, text, 6), "a\x82\xA0\x82\xA2");
    EXPECT_EQ(ToCodePage(932, text, 5), "a\x82\xA0");
    EXPECT_EQ(ToCodePage(932, text, 4), "a\x82\xA0");
    EXPECT_EQ(ToCodePage(932, text, 3), "a");
}

TEST(ConvertToCodePage, NeverSplitsASurrogatePair) {
    const WCHAR text[] = L"a\xD83D\xDE00";
    EXPECT_EQ(ToCodePage(CP_UTF8, text, 6), "a\xF0\x9F\x98\x80");
    EXPECT_EQ(ToCodePage(CP_UTF8, text, 5), "a");
}

static std::wstring FromCodePage(UINT codePage, const char* text, int32_t textSize, int32_t room,
                                 int32_t* stored) {
    WCHAR buffer[64];
    for (WCHAR& c : buffer) {
        c = 0xBEEF;
    }
    *stored = ConvertFromCodePage(codePage, text, textSize, buffer, room);
    for (int32_t i = room; i < 64; ++i) {
        EXPECT_EQ(buffer[i], 0xBEEF) << "written past the output at " << i;
    }
    return std::wstring(buffer);
}

TEST(ConvertFromCodePage, CutsToTheRoomOfItsOutput) {
    int32_t stored = 0;
    EXPECT_EQ(FromCodePage(1252, "abcdef", 7, 4, &stored), L"abc");
    EXPECT_EQ(stored, 4);
    EXPECT_EQ(FromCodePage(1252, "abc", 4, 4, &stored), L"abc");
    EXPECT_EQ(stored, 4);
    EXPECT_EQ(FromCodePage(1252, "abc", 4, 1, &stored), L"");
    EXPECT_EQ(stored, 1);
    EXPECT_EQ(FromCodePage(1252, "", 1, 4, &stored), L"");
    EXPECT_EQ(stored, 1);
    // A text without terminator ends with its area.
    EXPECT_EQ(FromCodePage(1252, "abcdef", 3, 10, &stored), L"abc");
    EXPECT_EQ(stored, 4);
}

TEST(ConvertFromCodePage, NeverSplitsAMultiByteCharacter) {
    int32_t stored = 0;
    const char shiftJis[] = "a\x82\xA0\x82\xA2";
    EXPECT_EQ(FromCodePage(932, shiftJis, sizeof shiftJis, 4, &stored), L"a\x3042\x3044");
    EXPECT_EQ(FromCodePage(932, shiftJis, sizeof shiftJis, 3, &stored), L"a\x3042");
    EXPECT_EQ(stored, 3);
    EXPECT_EQ(FromCodePage(932, shiftJis, sizeof shiftJis, 2, &stored), L"a");
    const char utf8[] = "a\xE3\x81\x82\xE3\x81\x84";
    EXPECT_EQ(FromCodePage(CP_UTF8, utf8, sizeof utf8, 3, &stored), L"a\x3042");
    EXPECT_EQ(FromCodePage(CP_UTF8, utf8, sizeof utf8, 2, &stored), L"a");
}

static HWND MakeWindow(const char* windowClass, DWORD style) {
    HWND window = CreateWindowExA(0, windowClass, "", style, 0, 0, 200, 200, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    EXPECT_NE(window, nullptr);
    return window;
}

TEST(ControlText, GetReadsAtMostLimitMinusOneCharacters) {
    HWND window = MakeWindow("STATIC", WS_POPUP);
    std::wstring text;
    for (int i = 0; i < 150; ++i) {
        text += static_cast<WCHAR>(L'A' + i % 26);
    }
    ASSERT_TRUE(SetControlText(window, text.c_str()));
    WCHAR buffer[110];
    for (WCHAR& c : buffer) {
        c = 0xBEEF;
    }
    EXPECT_EQ(GetControlText(window, buffer, 100), 100);
    EXPECT_EQ(std::wstring(buffer), text.substr(0, 99));
    for (int i = 100; i < 110; ++i) {
        EXPECT_EQ(buffer[i], 0xBEEF);
    }
    DestroyWindow(window);
}

TEST(ControlText, SetCutsATextLongerThanTheConversionArea) {
    HWND window = MakeWindow("STATIC", WS_POPUP);
    std::wstring text(25000, L'k');
    EXPECT_TRUE(SetControlText(window, text.c_str()));
    EXPECT_EQ(GetWindowTextLengthA(window), kConversionAreaSize - 1);
    DestroyWindow(window);
}

TEST(ControlText, AnEmptyControlReadsEmptyAndAMissingOneFails) {
    HWND window = MakeWindow("STATIC", WS_POPUP);
    WCHAR buffer[10] = {'x', 'x'};
    EXPECT_EQ(GetControlText(window, buffer, 10), 1);
    EXPECT_EQ(buffer[0], 0);
    DestroyWindow(window);
    buffer[0] = 'x';
    EXPECT_EQ(GetControlText(window, buffer, 10), 0);
    EXPECT_EQ(buffer[0], 0);
}

TEST(ListText, AddsEntriesInOrder) {
    HWND box = MakeWindow("COMBOBOX", WS_POPUP | CBS_DROPDOWNLIST);
    EXPECT_EQ(AddListText(box, L"COM1"), 0);
    EXPECT_EQ(AddListText(box, L"COM2"), 1);
    char entry[16] = "";
    SendMessageA(box, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(entry));
    EXPECT_STREQ(entry, "COM2");
    DestroyWindow(box);
}

// What a message box of this process showed before it was closed with OK.
struct SeenBox {
    std::atomic<bool> found{false};
    char title[100] = "";
    char text[100] = "";
};

static BOOL CALLBACK TakeOwnBox(HWND window, LPARAM found) {
    char windowClass[16];
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) &&
        GetClassNameA(window, windowClass, sizeof windowClass) > 0 &&
        strcmp(windowClass, "#32770") == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

static void CloseNextBox(SeenBox* seen) {
    for (int tries = 0; tries < 1000; ++tries) {
        HWND box = nullptr;
        EnumWindows(TakeOwnBox, reinterpret_cast<LPARAM>(&box));
        if (box != nullptr) {
            GetWindowTextA(box, seen->title, sizeof seen->title);
            GetDlgItemTextA(box, 0xFFFF, seen->text, sizeof seen->text);
            seen->found = true;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            return;
        }
        Sleep(10);
    }
}

static int ShowAndClose(const WCHAR* text, const WCHAR* caption, SeenBox* seen) {
    std::thread closer(CloseNextBox, seen);
    int answer = ShowMessageBox(nullptr, text, caption, MB_OK);
    closer.join();
    return answer;
}

TEST(MessageBoxText, ShowsTextAndCaptionAndAnEmptyTitleWithoutCaption) {
    SeenBox first;
    EXPECT_EQ(ShowAndClose(L"Switch the module off", L"Notice", &first), IDOK);
    ASSERT_TRUE(first.found);
    EXPECT_STREQ(first.title, "Notice");
    EXPECT_STREQ(first.text, "Switch the module off");

    // Not the caption of the box before.
    SeenBox second;
    EXPECT_EQ(ShowAndClose(L"and on again", nullptr, &second), IDOK);
    ASSERT_TRUE(second.found);
    EXPECT_STREQ(second.title, "");
    EXPECT_STREQ(second.text, "and on again");
}

static std::string TempName(const char* tag) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + "korvan_adapter_" + std::to_string(GetCurrentProcessId()) + "_" +
           tag + ".bin";
}

static std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    WidenText(&wide[0], text.c_str());
    wide.resize(text.size());
    return wide;
}

static HANDLE OpenShared(const std::string& name) {
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(NamedFile, FlagWordOneReadsOnlyAndSharesNothing) {
    const std::string name = TempName("read");
    const std::wstring wideName = Wide(name);
    // The disposition is passed on: no file, none made.
    EXPECT_EQ(OpenNamedFile(wideName.c_str(), 1, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES);

    HANDLE maker = OpenNamedFile(wideName.c_str(), 2, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(maker, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    EXPECT_TRUE(WriteFile(maker, "abc", 3, &done, nullptr));
    CloseHandle(maker);

    HANDLE file = OpenNamedFile(wideName.c_str(), 1, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char bytes[4] = "";
    EXPECT_TRUE(ReadFile(file, bytes, 3, &done, nullptr));
    EXPECT_STREQ(bytes, "abc");
    EXPECT_FALSE(WriteFile(file, "x", 1, &done, nullptr));
    HANDLE other = OpenShared(name);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(file);

    other = OpenShared(name);
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    CloseHandle(other);
    DeleteFileA(name.c_str());
}

TEST(NamedFile, FlagWordFifteenReadsWritesAndSharesBoth) {
    const std::string name = TempName("shared");
    const std::wstring wideName = Wide(name);
    HANDLE file = OpenNamedFile(wideName.c_str(), 15, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    EXPECT_TRUE(WriteFile(file, "xyz", 3, &done, nullptr));
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char bytes[4] = "";
    EXPECT_TRUE(ReadFile(file, bytes, 3, &done, nullptr));
    EXPECT_STREQ(bytes, "xyz");
    HANDLE other = OpenShared(name);
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    CloseHandle(other);
    CloseHandle(file);
    DeleteFileA(name.c_str());
}

// A key of this test's own under HKEY_CURRENT_USER, new and empty.
static std::string FreshKey(const char* tag) {
    std::string path = std::string("Software\\KorvanTest\\") + tag;
    RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
    return path;
}

TEST(RegistryAdapters, CreateOpenWriteAndEnumerate) {
    const std::string path = FreshKey("adapters");
    const std::wstring widePath = Wide(path);
    HKEY key = nullptr;
    EXPECT_EQ(OpenRegKey(HKEY_CURRENT_USER, widePath.c_str(), 0, KEY_QUERY_VALUE, &key),
              ERROR_FILE_NOT_FOUND);

    DWORD disposition = 0;
    ASSERT_EQ(CreateRegKey(HKEY_CURRENT_USER, widePath.c_str(), 0, "Klasse",
                           REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    char keyClass[32] = "";
    DWORD classSize = sizeof keyClass;
    RegQueryInfoKeyA(key, keyClass, &classSize, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr);
    EXPECT_STREQ(keyClass, "Klasse");

    // Value data passes untouched, zero bytes included.
    const BYTE data[] = {1, 0, 2, 0xFF};
    EXPECT_EQ(SetRegValue(key, L"COLOR 01", 0, REG_BINARY, data, sizeof data), ERROR_SUCCESS);
    BYTE stored[8] = {};
    DWORD storedSize = sizeof stored;
    EXPECT_EQ(RegQueryValueExA(key, "COLOR 01", nullptr, nullptr, stored, &storedSize),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(stored), storedSize),
              std::string(reinterpret_cast<const char*>(data), sizeof data));

    WCHAR name[kValueNameRoom];
    DWORD nameSize = 500, type = 0, dataSize = sizeof stored;
    EXPECT_EQ(EnumRegValue(key, 0, name, &nameSize, nullptr, &type, stored, &dataSize),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name), L"COLOR 01");
    EXPECT_EQ(nameSize, 8u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(dataSize, sizeof data);
    nameSize = 500;
    dataSize = sizeof stored;
    EXPECT_EQ(EnumRegValue(key, 1, name, &nameSize, nullptr, &type, stored, &dataSize),
              ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);

    EXPECT_EQ(OpenRegKey(HKEY_CURRENT_USER, widePath.c_str(), 0, KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
}

TEST(RegistryAdapters, EnumerationCutsALongNameToItsRoom) {
    const std::string path = FreshKey("long_name");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::string longName(499, 'n');
    ASSERT_EQ(RegSetValueExA(key, longName.c_str(), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>("1 2 3 "), 7),
              ERROR_SUCCESS);
    WCHAR name[kValueNameRoom + 10];
    for (WCHAR& c : name) {
        c = 0xBEEF;
    }
    BYTE data[500];
    DWORD nameSize = 500, type = 0, dataSize = sizeof data;
    EXPECT_EQ(EnumRegValue(key, 0, name, &nameSize, nullptr, &type, data, &dataSize),
              ERROR_SUCCESS);
    EXPECT_EQ(nameSize, 499u);
    EXPECT_EQ(std::wstring(name), std::wstring(kValueNameRoom - 1, L'n'));
    for (int i = kValueNameRoom; i < kValueNameRoom + 10; ++i) {
        EXPECT_EQ(name[i], 0xBEEF);
    }
    RegCloseKey(key);
    RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
}
