#include "script_store.h"

#include "script_memory.h"
#include "text_adapters.h"

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

// OpenNamedFile's flags: read, others may read too.
enum : uint16_t { kReadSharedForReading = 1 | 4 };

// The file's size when it fits a signed 32-bit count, else -1. A size that
// cannot be taken reads as 0xFFFFFFFF and so is refused as too large as well.
static int32_t FileSizeOf(HANDLE file) {
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    if (high != 0 || low > 0x7FFFFFFFu) {
        return -1;
    }
    return static_cast<int32_t>(low);
}

int16_t LoadScript(int16_t slot, const WCHAR* fileName) {
    if (slot < 0 || slot >= kScriptSlots || ScriptStore[slot].loaded) {
        return 1;
    }
    // A name of no existing file is refused; the store never creates files.
    HANDLE file =
        OpenNamedFile(fileName, kReadSharedForReading, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    const int32_t size = FileSizeOf(file);
    uint8_t* data = size < 0 ? nullptr : TakeScriptMemory(size);
    if (data == nullptr) {
        CloseHandle(file);
        return 1;
    }
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    DWORD read = 0;
    if (!ReadFile(file, data, static_cast<DWORD>(size), &read, nullptr) ||
        read != static_cast<DWORD>(size)) {
        ReturnScriptMemory(data);
        CloseHandle(file);
        return 2;
    }
    CloseHandle(file);
    ScriptSlot* entry = &ScriptStore[slot];
    entry->size = size;
    entry->data = data;
    entry->loaded = 1;
    return 0;
}

int16_t ReleaseScript(int16_t slot) {
    if (slot < 0 || slot >= kScriptSlots || !ScriptStore[slot].loaded) {
        return 0;
    }
    ScriptSlot* entry = &ScriptStore[slot];
    ReturnScriptMemory(entry->data);
    entry->data = nullptr;
    entry->size = 0;
    entry->loaded = 0;
    return 0;
}
