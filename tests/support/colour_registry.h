// Test support: the colour scheme's registry key, read and written with the
// platform's 8-bit registry functions, independently of the code under test.
#pragma once

#include <windows.h>

#include <string>

extern const char kColourKey[]; // under HKEY_LOCAL_MACHINE
extern const char kNoValue[];   // what ReadColourValue gives for a missing value

// Writes a value of the key (creating the key); false when that fails.
bool WriteColourValue(const std::string& name, const std::string& bytes, DWORD type = REG_SZ);

// The value's bytes, or kNoValue.
std::string ReadColourValue(const std::string& name);

void DeleteColourKey();
