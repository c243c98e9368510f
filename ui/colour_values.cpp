#include "colour_values.h"

#include <cstdio>
#include <cstring>

COLORREF DefaultColour(int16_t slot) {
    static const COLORREF defaults[kDefaultColourSlots] = {
        RGB(255, 255, 242), RGB(240, 233, 208), RGB(240, 233, 208), RGB(0, 0, 0),
        RGB(0, 0, 0),       RGB(255, 255, 242), RGB(212, 208, 200), RGB(212, 208, 200),
    };
    return slot >= 0 && slot < kDefaultColourSlots ? defaults[slot] : 0;
}

static bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int16_t ColourSlotOfName(const char* name) {
    if (strncmp(name, "COLOR ", 6) != 0 || !IsDigit(name[6]) || !IsDigit(name[7])) {
        return -1;
    }
    int16_t slot = static_cast<int16_t>((name[6] - '0') * 10 + (name[7] - '0'));
    return slot < kColourSlots ? slot : -1;
}

COLORREF ScanColourText(const uint8_t* data, int32_t length, int16_t* wideValueText) {
    // Unsigned, so that long runs of digits wrap instead of overflowing; the
    // low 8 bits come out the same.
    uint32_t fields[3] = {0, 0, 0};
    int32_t field = 0;
    int32_t p = 0;
    while (p < length) {
        if (data[p] == 0) {
            *wideValueText = 1;
            ++p;
            if (p >= length) {
                break;
            }
        }
        const uint32_t c = data[p];
        if (c == ' ') {
            ++field;
            if (field > 2) {
                break;
            }
        } else {
            fields[field] = fields[field] * 10 + (c - '0');
        }
        ++p;
    }
    return RGB(fields[0] & 0xFF, fields[1] & 0xFF, fields[2] & 0xFF);
}

void BuildColourValueName(int16_t slot, char* name) {
    memcpy(name, "COLOR xx", kColourNameRoom);
    name[6] = static_cast<char>('0' + slot / 10);
    name[7] = static_cast<char>('0' + slot % 10);
}

int32_t BuildColourValueData(COLORREF colour, int16_t wideValueText, uint8_t* data) {
    char text[16];
    int32_t n = snprintf(text, sizeof text, "%u %u %u ", GetRValue(colour), GetGValue(colour),
                         GetBValue(colour));
    if (!wideValueText) {
        memcpy(data, text, n + 1);
        return n + 1;
    }
    for (int32_t i = 0; i < n; ++i) {
        data[2 * i] = static_cast<uint8_t>(text[i]);
        data[2 * i + 1] = 0;
    }
    data[2 * n] = 0;
    return 2 * n + 1;
}

const int kRedLineIds[kRedLineCount] = {301, 303, 305, 307};

int16_t BackgroundSlotOf(UINT message) {
    switch (message) {
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        return 5;
    case WM_CTLCOLORBTN:
        return 6;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return 1;
    case WM_CTLCOLORSCROLLBAR:
        return 7;
    }
    return -1;
}
