#include "support/colour_registry.h"

const char kColourKey[] = "SOFTWARE\\Orbenta\\LUMIGRAD";
const char kNoValue[] = "<missing>";

const ColourKeyPlace kOwnColourKey = {kColourKey, 0};
const ColourKeyPlace kWow64ColourKey = {"SOFTWARE\\Wow6432Node\\Orbenta\\LUMIGRAD",
                                        KEY_WOW64_64KEY};
const ColourKeyPlace k64BitColourKey = {kColourKey, KEY_WOW64_64KEY};

bool HasA64BitRegistryView() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

bool WriteColourValue(const std::string& name, const std::string& bytes, DWORD type,
                      const ColourKeyPlace& place) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, place.path, 0, nullptr, 0, KEY_ALL_ACCESS | place.view,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LONG status =
        RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

std::string ReadColourValue(const std::string& name, const ColourKeyPlace& place) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, place.path, 0, KEY_QUERY_VALUE | place.view, &key) !=
        ERROR_SUCCESS) {
        return kNoValue;
    }
    BYTE data[2000];
    DWORD size = sizeof data;
    LONG status = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, data, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(reinterpret_cast<char*>(data), size) : kNoValue;
}

void DeleteColourKey(const ColourKeyPlace& place) {
    // The tree under the key, then the key itself, both in the place's view.
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, place.path, 0, KEY_ALL_ACCESS | place.view, &key) ==
        ERROR_SUCCESS) {
        RegDeleteTreeA(key, nullptr);
        RegCloseKey(key);
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, place.path, place.view, 0);
    }
}
