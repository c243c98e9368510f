// The dialog's colour scheme: numbered colour slots, each a colour and a
// solid brush of it, kept in the registry under HKEY_LOCAL_MACHINE, key
// "SOFTWARE\Orbenta\LUMIGRAD", one text value per slot.
//
// LoadColourTable runs once before the main dialog, SaveColourTable once
// after it; GetColourSlot serves the dialog in between. Dialog thread only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "colour_values.h"

static const WCHAR kColourKeyPath[] = L"SOFTWARE\\Orbenta\\LUMIGRAD";
// Given to the key when it is created.
static const char kColourKeyClass[] = "Lumigrad";
// Room of the 8-bit name the enumeration may return: a longer name ends the
// reading.
enum : DWORD { kColourNameLimit = 500 };

// A slot is present while it has a brush. The table creates and deletes every brush.
struct ColourSlot {
    COLORREF colour;
    HBRUSH brush;
};

struct ColourScheme {
    ColourSlot slots[kColourSlots];
    // 1 when a value was read in the 16-bit form: every value is then
    // written back in that form.
    int16_t wideValueText;
};

extern ColourScheme ColourTable;

// Reads the slots the registry names, then gives slots 0 to 7 that are still
// missing their default colours. Every present slot gets its brush.
void LoadColourTable();

// Writes every present slot back (creating the key with the class "Lumigrad"
// when missing) and deletes every brush.
void SaveColourTable();

// The slot's colour and brush (nullptr when the slot is not present). A slot
// number outside 0 to 19 gives colour 0 and no brush.
void GetColourSlot(int16_t slot, COLORREF* colour, HBRUSH* brush);
