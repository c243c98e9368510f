// A settings file read from the disk by its UTF-8 name, with the folder its
// relative paths are taken from.
#include <windows.h>

#include "run_texts.h"
#include "settings_options.h"
#include "utf8_file_names.h"

namespace {

// A settings file is a page of text: more is a wrong file.
const DWORD kSettingsFileRoom = 64 * 1024;

} // namespace

std::string ReadSettingsFile(const std::string& name, std::vector<Setting>* settings,
                             std::string* folder) {
    HANDLE file = OpenUtf8NamedFile(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) {
        return "cannot be read: " + SystemMessage(GetLastError());
    }
    std::string text(kSettingsFileRoom + 1, '\0');
    DWORD got = 0;
    const BOOL read = ReadFile(file, &text[0], kSettingsFileRoom + 1, &got, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!read) {
        return "cannot be read: " + SystemMessage(error);
    }
    if (got > kSettingsFileRoom) {
        return "is larger than 64 KiB: no settings file";
    }
    text.resize(got);
    WCHAR wideName[kWideNameRoom];
    WCHAR full[kWideNameRoom];
    WCHAR* namePart = nullptr;
    if (WidenUtf8Name(name.c_str(), wideName, kWideNameRoom) == 0 ||
        GetFullPathNameW(wideName, kWideNameRoom, full, &namePart) == 0 || namePart == nullptr) {
        return "has no folder: " + SystemMessage(GetLastError());
    }
    *namePart = L'\0';
    *folder = Utf8Of(full);
    return ReadSettingsText(text, settings);
}
