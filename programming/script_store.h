// Firmware script files held whole in memory, one per numbered slot, so the
// download can take them byte by byte. The store does not look into a file.
//
// A slot is empty (no buffer, size 0, loaded 0) or loaded: the file is read
// once, opened for reading shared with other readers (another station, a
// copy being made) and closed again, and the slot holds what was read until
// ReleaseScript, whatever becomes of the file meanwhile. Dialog thread only.
#pragma once

#include <windows.h>

#include <cstdint>

enum : int16_t { kScriptSlots = 20 };

struct ScriptSlot {
    int32_t size;
    uint8_t* data;
    int16_t loaded;
};

extern ScriptSlot ScriptStore[kScriptSlots];

// Reads the existing file of that name whole into an empty slot 0 to 19.
// 0 loaded; 1 when the slot number is out of range or the slot is already
// loaded, when the file does not exist or cannot be opened for reading (a
// program that writes it), is 2 GiB or larger, or its buffer cannot be had; 2 when
// the file was read short. On failure the slot is left as it was and nothing
// stays open.
int16_t LoadScript(int16_t slot, const WCHAR* fileName);

// The slot's size; 0 for an empty slot or a number out of range.
int32_t ScriptSize(int16_t slot);

// The byte at index; 0 for an index outside the slot's data.
uint8_t ScriptByte(int16_t slot, int32_t index);

// Frees the slot's buffer; nothing for an empty slot or a
// number out of range. Always 0.
int16_t ReleaseScript(int16_t slot);
