#include "colour_key.h"
#include "colour_table.h"
#include "text_adapters.h"

// A slot named twice keeps the colour read last; its earlier brush goes.
static void SetSlotColour(int16_t slot, COLORREF colour) {
    ColourSlot* entry = &ColourTable.slots[slot];
    if (entry->brush != nullptr) {
        DeleteObject(entry->brush);
    }
    entry->colour = colour;
    entry->brush = CreateSolidBrush(colour);
}

// Reads value after value until the first one that cannot be read whole.
static void ReadColourValues(HKEY key) {
    WCHAR name[kValueNameRoom];
    char narrowName[kValueNameRoom];
    uint8_t data[kColourDataLimit];
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = kColourNameLimit;
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (EnumRegValue(key, index, name, &nameSize, nullptr, &type, data, &dataSize) !=
            ERROR_SUCCESS) {
            return;
        }
        NarrowText(narrowName, name);
        const int16_t slot = ColourSlotOfName(narrowName);
        if (slot < 0) {
            continue;
        }
        COLORREF colour =
            ScanColourText(data, static_cast<int32_t>(dataSize), &ColourTable.wideValueText);
        SetSlotColour(slot, colour);
    }
}

void LoadColourTable() {
    for (int16_t slot = 0; slot < kColourSlots; ++slot) {
        ColourSlot* entry = &ColourTable.slots[slot];
        if (entry->brush != nullptr) {
            DeleteObject(entry->brush);
            entry->brush = nullptr;
        }
    }
    ColourTable.wideValueText = 0;

    HKEY key = nullptr;
    if (OpenRegKey(HKEY_LOCAL_MACHINE, kColourKeyPath, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        ReadColourValues(key);
        RegCloseKey(key);
    }

    for (int16_t slot = 0; slot < kDefaultColourSlots; ++slot) {
        if (ColourTable.slots[slot].brush == nullptr) {
            SetSlotColour(slot, DefaultColour(slot));
        }
    }
}
