#include "script_store.h"

ScriptSlot ScriptStore[kScriptSlots];

static bool IsScriptSlot(int16_t slot) {
    return slot >= 0 && slot < kScriptSlots;
}

int32_t ScriptSize(int16_t slot) {
    return IsScriptSlot(slot) ? ScriptStore[slot].size : 0;
}

uint8_t ScriptByte(int16_t slot, int32_t index) {
    if (!IsScriptSlot(slot) || index < 0 || index >= ScriptStore[slot].size) {
        return 0;
    }
    return ScriptStore[slot].data[index];
}
