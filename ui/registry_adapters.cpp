#include "text_adapters.h"
#include "text_conversion.h"

LONG OpenRegKey(HKEY root, const WCHAR* subKey, DWORD options, REGSAM access, HKEY* key) {
    ConvertToCodePage(CP_ACP, subKey, conversionArea, kConversionAreaSize);
    return RegOpenKeyExA(root, conversionArea, options, access, key);
}

LONG CreateRegKey(HKEY root, const WCHAR* subKey, DWORD reserved, const char* keyClass,
                  DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security, HKEY* key,
                  DWORD* disposition) {
    ConvertToCodePage(CP_ACP, subKey, conversionArea, kConversionAreaSize);
    return RegCreateKeyExA(root, conversionArea, reserved, const_cast<char*>(keyClass), options,
                           access, security, key, disposition);
}

LONG EnumRegValue(HKEY key, DWORD index, WCHAR* name, DWORD* nameSize, DWORD* reserved, DWORD* type,
                  BYTE* data, DWORD* dataSize) {
    if (nameSize != nullptr && *nameSize > static_cast<DWORD>(kConversionAreaSize)) {
        *nameSize = kConversionAreaSize;
    }
    LONG status =
        RegEnumValueA(key, index, conversionArea, nameSize, reserved, type, data, dataSize);
    if (name != nullptr) {
        ConvertFromCodePage(CP_ACP, conversionArea, kConversionAreaSize, name, kValueNameRoom);
    }
    return status;
}

LONG SetRegValue(HKEY key, const WCHAR* name, DWORD reserved, DWORD type, const BYTE* data,
                 DWORD size) {
    ConvertToCodePage(CP_ACP, name, conversionArea, kConversionAreaSize);
    return RegSetValueExA(key, conversionArea, reserved, type, data, size);
}
