#include "list_entry_texts.h"

#include <cstdio>
#include <cstring>

// The one ID that the module can also be given over the Profibus itself.
enum : int16_t { kBusSettableId = 126 };

void ComposePortEntry(int16_t port, char* text) {
    snprintf(text, kListEntryRoom, "COM%d", port);
}

void ComposeProfibusIdEntry(int16_t id, char* text) {
    if (id == kBusSettableId) {
        strcpy(text, "126 (Address Setting via Profibus possible)");
        return;
    }
    snprintf(text, kListEntryRoom, "%d", id);
}
