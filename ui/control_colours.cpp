#include "colour_choice.h"
#include "colour_table.h"
#include "dialog_handlers.h"

static bool IsRedLine(HWND dialog, HWND control) {
    for (int i = 0; i < kRedLineCount; ++i) {
        HWND line = GetDlgItem(dialog, kRedLineIds[i]);
        if (line != nullptr && line == control) {
            return true;
        }
    }
    return false;
}

HBRUSH ColourControl(HWND dialog, UINT message, HDC deviceContext, HWND control) {
    COLORREF text = 0;
    HBRUSH textBrush = nullptr;
    GetColourSlot(kTextColourSlot, &text, &textBrush);
    if (IsRedLine(dialog, control)) {
        text = kLineTextColour;
    }
    SetTextColor(deviceContext, text);

    COLORREF background = 0;
    HBRUSH brush = nullptr;
    GetColourSlot(BackgroundSlotOf(message), &background, &brush);
    SetBkColor(deviceContext, background);
    return brush;
}
