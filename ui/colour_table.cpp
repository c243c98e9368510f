#include "colour_table.h"

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
