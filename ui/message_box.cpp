#include "text_adapters.h"
#include "text_conversion.h"

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
