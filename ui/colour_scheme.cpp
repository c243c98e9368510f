#include "colour_scheme.h"

#include "text_adapters.h"

ColourScheme ColourTable;

void GetColourSlot(int16_t slot, COLORREF* colour, HBRUSH* brush) {
    if (slot < 0 || slot >= kColourSlots) {
        *colour = 0;
        *brush = nullptr;
        return;
    }
    *colour = ColourTable.slots[slot].colour;
    *brush = ColourTable.slots[slot].brush;
}

// ---- Loading ----

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

// ---- Saving ----

static void WriteColourValues(HKEY key) {
    char narrowName[kColourNameRoom];
    WCHAR name[kColourNameRoom];
    uint8_t data[kColourDataRoom];
    for (int16_t slot = 0; slot < kColourSlots; ++slot) {
        const ColourSlot* entry = &ColourTable.slots[slot];
        if (entry->brush == nullptr) {
            continue;
        }
        BuildColourValueName(slot, narrowName);
        WidenText(name, narrowName);
        int32_t size = BuildColourValueData(entry->colour, ColourTable.wideValueText, data);
        SetRegValue(key, name, 0, REG_SZ, data, static_cast<DWORD>(size));
    }
}

void SaveColourTable() {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (CreateRegKey(HKEY_LOCAL_MACHINE, kColourKeyPath, 0, kColourKeyClass,
                     REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                     &disposition) == ERROR_SUCCESS) {
        WriteColourValues(key);
        RegCloseKey(key);
    }
    for (int16_t slot = 0; slot < kColourSlots; ++slot) {
        ColourSlot* entry = &ColourTable.slots[slot];
        if (entry->brush != nullptr) {
            DeleteObject(entry->brush);
            entry->brush = nullptr;
        }
    }
}
