#include "text_adapters.h"

#include "text_conversion.h"

char conversionArea[kConversionAreaSize];
char captionArea[kCaptionAreaSize];

// ---- Controls and message boxes ----

BOOL SetControlText(HWND window, const WCHAR* text) {
    ConvertToCodePage(CP_ACP, text, conversionArea, kConversionAreaSize);
    return SetWindowTextA(window, conversionArea);
}

int GetControlText(HWND window, WCHAR* buffer, int limit) {
    if (buffer == nullptr || limit <= 0) {
        return 0;
    }
    // The platform never writes more than the area holds.
    const int room = limit < kConversionAreaSize ? limit : kConversionAreaSize;
    conversionArea[0] = 0;
    SetLastError(ERROR_SUCCESS);
    // An empty text also reads as 0 characters, but leaves no error behind.
    if (GetWindowTextA(window, conversionArea, room) == 0 && GetLastError() != ERROR_SUCCESS) {
        buffer[0] = 0;
        return 0;
    }
    return ConvertFromCodePage(CP_ACP, conversionArea, room, buffer, limit);
}

LRESULT AddListText(HWND comboBox, const WCHAR* text) {
    ConvertToCodePage(CP_ACP, text, conversionArea, kConversionAreaSize);
    return SendMessageA(comboBox, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(conversionArea));
}

int ShowMessageBox(HWND owner, const WCHAR* text, const WCHAR* caption, UINT type) {
    ConvertToCodePage(CP_ACP, text, conversionArea, kConversionAreaSize);
    if (caption == nullptr) {
        // An empty title, not the one of an earlier box.
        captionArea[0] = 0;
    } else {
        ConvertToCodePage(CP_ACP, caption, captionArea, kCaptionAreaSize);
    }
    return MessageBoxA(owner, conversionArea, captionArea, type);
}

// ---- Files ----

enum : uint16_t { kFlagRead = 1, kFlagWrite = 2, kFlagShareRead = 4, kFlagShareWrite = 8 };

HANDLE OpenNamedFile(const WCHAR* fileName, uint16_t flagWord, DWORD disposition,
                     DWORD flagsAndAttributes) {
    DWORD access = 0;
    DWORD shareMode = 0;
    if (flagWord & kFlagRead) {
        access |= GENERIC_READ;
    }
    if (flagWord & kFlagWrite) {
        access |= GENERIC_WRITE;
    }
    if (flagWord & kFlagShareRead) {
        shareMode |= FILE_SHARE_READ;
    }
    if (flagWord & kFlagShareWrite) {
        shareMode |= FILE_SHARE_WRITE;
    }
    // The name goes to the wide call as it is: through the code page, a name
    // beyond it would reach the file system mangled.
    return CreateFileW(fileName, access, shareMode, nullptr, disposition, flagsAndAttributes,
                       nullptr);
}

// ---- Registry ----

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

// ---- Plain copies ----

void WidenText(WCHAR* out, const char* text) {
    int32_t i = 0;
    for (; text[i] != 0; ++i) {
        out[i] = static_cast<WCHAR>(static_cast<uint8_t>(text[i]));
    }
    out[i] = 0;
}

void NarrowText(char* out, const WCHAR* text) {
    int32_t i = 0;
    for (; text[i] != 0; ++i) {
        out[i] = static_cast<char>(text[i] & 0xFF);
    }
    out[i] = 0;
}
