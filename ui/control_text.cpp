#include "text_adapters.h"
#include "text_conversion.h"

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
