// The colour scheme's registry values as plain data: value names, the text
// of a value and its two stored forms.
//
// A slot's value is named "COLOR " and the slot number in two digits
// ("COLOR 07"); its text is red, green and blue in decimal, each followed by
// a blank ("240 233 208 "). The 8-bit form stores the text and a zero byte
// (n + 1 bytes); the 16-bit form stores every character followed by a zero
// byte and then one more zero byte (2n + 1 bytes).
#pragma once

#include <windows.h>

#include <cstdint>

enum : int16_t { kColourSlots = 20, kDefaultColourSlots = 8 };

// Longest value data read back; a longer value ends the reading.
enum : int32_t { kColourDataLimit = 500 };
// Room for the longest value data written: "255 255 255 " in the 16-bit form.
enum : int32_t { kColourDataRoom = 32 };
// Room for a value name as written: "COLOR 19" and its terminator.
enum : int32_t { kColourNameRoom = 9 };

// The colour of slots 0 to 7 when the registry gives none.
COLORREF DefaultColour(int16_t slot);

// The slot that a value name stands for: 0 to 19 for a name that begins with
// "COLOR " followed by two decimal digits (only these eight characters count);
// -1 for any other name, which the colour scheme passes over.
int16_t ColourSlotOfName(const char* name);

// Reads the three numbers of a value's length bytes of data. Blanks separate
// the fields; every other character counts as a digit of value (code - 48);
// each number keeps its low 8 bits. A zero byte in the data is stepped over
// once and marks the 16-bit form: *wideValueText becomes 1. The scan ends at
// the third blank or at the end of the data.
COLORREF ScanColourText(const uint8_t* data, int32_t length, int16_t* wideValueText);

// "COLOR xx" for slot 0 to 19 into name (kColourNameRoom bytes).
void BuildColourValueName(int16_t slot, char* name);

// The value data of a colour in the 8-bit form, or in the 16-bit form when
// wideValueText is 1, into data (kColourDataRoom bytes). The byte count.
int32_t BuildColourValueData(COLORREF colour, int16_t wideValueText, uint8_t* data);

// ---- The colours of the main dialog's controls ----

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
