#include "colour_key.h"
#include "colour_table.h"
#include "text_adapters.h"

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
