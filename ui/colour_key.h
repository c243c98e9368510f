// Where the colour scheme lives in the registry.
#pragma once

#include <windows.h>

static const WCHAR kColourKeyPath[] = L"SOFTWARE\\Orbenta\\LUMIGRAD";
// Given to the key when it is created.
static const char kColourKeyClass[] = "Lumigrad";
// Room of the 8-bit name the enumeration may return: a longer name ends the
// reading.
enum : DWORD { kColourNameLimit = 500 };
