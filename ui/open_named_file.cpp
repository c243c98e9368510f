#include "text_adapters.h"
#include "text_conversion.h"

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
    ConvertToCodePage(CP_ACP, fileName, conversionArea, kConversionAreaSize);
    return CreateFileA(conversionArea, access, shareMode, nullptr, disposition, flagsAndAttributes,
                       nullptr);
}
