#include "script_memory.h"

#include <windows.h>

uint8_t* TakeScriptMemory(int32_t size) {
    return static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(size)));
}

void ReturnScriptMemory(uint8_t* data) {
    HeapFree(GetProcessHeap(), 0, data);
}
