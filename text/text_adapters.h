// Text adapters: the program's texts are zero-terminated 16-bit characters;
// the platform's 8-bit functions get them converted to the ANSI code page at
// the moment of the call, through one shared conversion area. A file's name
// alone goes to the platform's wide call as it is (OpenNamedFile).
//
// Every adapter returns the platform's result unchanged. A text that does not
// fit its area or the caller's buffer is cut at a character boundary; the
// result is always a terminated text inside the area or buffer. The areas are
// not guarded: the adapters belong to the dialog thread.
#pragma once

#include <windows.h>

#include <cstdint>

enum : int32_t { kConversionAreaSize = 20000, kCaptionAreaSize = 1000 };

// Room, in 16-bit characters with the terminator, of the value name that
// EnumRegValue hands back.
enum : int32_t { kValueNameRoom = 100 };

// The 8-bit form of the text of the adapter call under way.
extern char conversionArea[kConversionAreaSize];
// The 8-bit form of a message box caption; empty for a box without caption.
extern char captionArea[kCaptionAreaSize];

BOOL SetControlText(HWND window, const WCHAR* text);

// Reads at most limit - 1 characters of the window's text into buffer (room
// for limit characters). The number of 16-bit characters stored, terminator
// included; 0 when the text cannot be read (buffer then holds an empty text).
int GetControlText(HWND window, WCHAR* buffer, int limit);

// CB_ADDSTRING: the new entry's index, or CB_ERR / CB_ERRSPACE.
LRESULT AddListText(HWND comboBox, const WCHAR* text);

// A caption of nullptr gives the box an empty title. The button pressed.
int ShowMessageBox(HWND owner, const WCHAR* text, const WCHAR* caption, UINT type);

// CreateFileW on the 16-bit name as it is (the one adapter that needs no code
// page), without security attributes or template. flagWord bit 0 asks
// for GENERIC_READ, bit 1 for GENERIC_WRITE, bit 2 shares reading, bit 3
// shares writing; other bits are ignored.
HANDLE OpenNamedFile(const WCHAR* fileName, uint16_t flagWord, DWORD disposition,
                     DWORD flagsAndAttributes);

// Registry adapters: only key paths and value names are converted, value data
// and the key class pass through untouched.
LONG OpenRegKey(HKEY root, const WCHAR* subKey, DWORD options, REGSAM access, HKEY* key);
LONG CreateRegKey(HKEY root, const WCHAR* subKey, DWORD reserved, const char* keyClass,
                  DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security, HKEY* key,
                  DWORD* disposition);
// name has room for kValueNameRoom characters and receives the conversion of
// whatever the platform left in the area; it means something only when the
// result is ERROR_SUCCESS. *nameSize is the 8-bit room the platform may use
// (at most kConversionAreaSize) and comes back as the platform reports it.
LONG EnumRegValue(HKEY key, DWORD index, WCHAR* name, DWORD* nameSize, DWORD* reserved, DWORD* type,
                  BYTE* data, DWORD* dataSize);
LONG SetRegValue(HKEY key, const WCHAR* name, DWORD reserved, DWORD type, const BYTE* data,
                 DWORD size);

// Plain copies without code page. The caller's output has room for the whole
// input and its terminator.
// Each byte becomes the 16-bit character of the same value.
void WidenText(WCHAR* out, const char* text);
// Each 16-bit character becomes its low 8 bits.
void NarrowText(char* out, const WCHAR* text);
