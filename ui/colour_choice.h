// Which colour slots and colours a control of the main dialog is drawn with.
#pragma once

#include <windows.h>

#include <cstdint>

// Text colour of every control but the status and result lines.
enum : int16_t { kTextColourSlot = 3 };
// Text colour of the status and result lines: red 255, green 0, blue 0.
static const COLORREF kLineTextColour = RGB(255, 0, 0);

// The lines drawn in red; the dialog has 301 and 303 of them.
enum : int32_t { kRedLineCount = 4 };
extern const int kRedLineIds[kRedLineCount];

// The background slot of a WM_CTLCOLOR* message (0x133..0x138); -1 for any
// other message.
int16_t BackgroundSlotOf(UINT message);
