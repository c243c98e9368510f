#include "script_memory.h"
#include "script_store.h"

int16_t ReleaseScript(int16_t slot) {
    if (slot < 0 || slot >= kScriptSlots || !ScriptStore[slot].loaded) {
        return 0;
    }
    ScriptSlot* entry = &ScriptStore[slot];
    CloseHandle(entry->file);
    ReturnScriptMemory(entry->data);
    entry->file = nullptr;
    entry->data = nullptr;
    entry->size = 0;
    entry->loaded = 0;
    return 0;
}
