// The state of one START run, shared by the run and the module procedures.
#pragma once

#include <windows.h>

#include <cstdint>

enum RunMode { kFirmwareMode, kProfibusIdMode };

enum : int32_t {
    kRunBufferSize = 1000, // the banner, every reply, the progress texts
    kRunTextSize = 1000,   // 16-bit characters of a text on its way to a control
    kScriptNameRoom = 260, // the platform's path limit, terminator included
};

// Script slot that holds the firmware file during a run.
enum : int16_t { kRunScriptSlot = 1 };

struct RunContext {
    HWND dialog; // owner of the prompt, the status line and the result line
    RunMode mode;
    int16_t port; // COM port number; 0 when no port is chosen
    uint8_t runBuffer[kRunBufferSize];
    WCHAR textArea[kRunTextSize];
    WCHAR scriptName[kScriptNameRoom];
};

// The outcome of a step: nullptr for success, else the failure text that the
// run shows in the result line.
typedef const char* RunFailure;
