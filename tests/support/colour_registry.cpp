#include "support/colour_registry.h"

const char kColourKey[] = "SOFTWARE\\Orbenta\\LUMIGRAD";
const char kNoValue[] = "<missing>";

bool WriteColourValue(const std::string& name, const std::string& bytes, DWORD type) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kColourKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LONG status =
        RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

std::string ReadColourValue(const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kColourKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return kNoValue;
    }
    BYTE data[2000];
    DWORD size = sizeof data;
    LONG status = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, data, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(reinterpret_cast<char*>(data), size) : kNoValue;
}

void DeleteColourKey() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kColourKey);
}
