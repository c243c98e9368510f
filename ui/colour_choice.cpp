#include "colour_choice.h"

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
