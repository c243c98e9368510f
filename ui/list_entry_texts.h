// The entries of the dialog's two lists, as 8-bit text.
#pragma once

#include <cstdint>

enum : int16_t {
    kPortEntries = 8,         // COM1 to COM8
    kProfibusIdEntries = 127, // IDs 1 to 127
};
// Room of an entry text with its terminator.
enum : int32_t { kListEntryRoom = 64 };

// "COM" and the port number in decimal ("COM1").
void ComposePortEntry(int16_t port, char* text);

// The ID in decimal; ID 126 reads "126 (Address Setting via Profibus possible)".
void ComposeProfibusIdEntry(int16_t id, char* text);
