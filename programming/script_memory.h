// The buffers of the script store. Kept in a file of their own, so that a
// test can link a heap that refuses in their place.
#pragma once

#include <cstdint>

// size bytes (size >= 0), or nullptr when they cannot be had.
uint8_t* TakeScriptMemory(int32_t size);
void ReturnScriptMemory(uint8_t* data);
