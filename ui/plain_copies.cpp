#include "text_adapters.h"

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
