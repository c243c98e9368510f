// Conversions between 16-bit text and the 8-bit text of a code page, cut to
// the room of their output.
#pragma once

#include <windows.h>

#include <cstdint>

// 16-bit text into out (size bytes). The longest leading part of text whose
// 8-bit form fits size - 1 bytes is converted, never half of a surrogate pair;
// out always ends up terminated (empty when nothing converts). A text of
// nullptr counts as empty.
void ConvertToCodePage(UINT codePage, const WCHAR* text, char* out, int32_t size);

// 8-bit text, terminated or ending after textSize bytes, into out (room
// 16-bit characters). The longest leading part that fits room - 1 characters
// is converted, never part of a multi-byte character; out always ends up
// terminated. The number of characters stored, terminator included; 0 when
// the text cannot be converted at all (out then holds an empty text).
int32_t ConvertFromCodePage(UINT codePage, const char* text, int32_t textSize, WCHAR* out,
                            int32_t room);
