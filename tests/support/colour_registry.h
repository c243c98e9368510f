// Test support: the colour scheme's registry key, read and written with the
// platform's 8-bit registry functions, independently of the code under test.
#pragma once

#include <windows.h>

#include <string>

extern const char kColourKey[]; // under HKEY_LOCAL_MACHINE
extern const char kNoValue[];   // what ReadColourValue gives for a missing value

// Where a key is opened: a path under HKEY_LOCAL_MACHINE and the registry
// view (0 for the program's own view, or KEY_WOW64_64KEY).
struct ColourKeyPlace {
    const char* path;
    REGSAM view;
};

// The key the program uses, in its own view.
extern const ColourKeyPlace kOwnColourKey;
// The same key of a 32-bit program seen from the 64-bit view of a 64-bit
// system: SOFTWARE\Wow6432Node\Orbenta\LUMIGRAD.
extern const ColourKeyPlace kWow64ColourKey;
// The key of 64-bit programs: SOFTWARE\Orbenta\LUMIGRAD in the 64-bit view.
extern const ColourKeyPlace k64BitColourKey;

// True when this is a 32-bit process on a 64-bit system, whose registry has
// a 64-bit view beside the process's own.
bool HasA64BitRegistryView();

// Writes a value of the key (creating the key); false when that fails.
bool WriteColourValue(const std::string& name, const std::string& bytes, DWORD type = REG_SZ,
                      const ColourKeyPlace& place = kOwnColourKey);

// The value's bytes, or kNoValue.
std::string ReadColourValue(const std::string& name, const ColourKeyPlace& place = kOwnColourKey);

void DeleteColourKey(const ColourKeyPlace& place = kOwnColourKey);
