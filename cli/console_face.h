// The console as the face of a programming run, for korvan-cli.exe: the
// choices come from the command line, the steps and the download's progress
// go to standard error, the OFF/ON request waits for Enter on a console, or
// for the module's first byte when standard input is not one.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "module_log.h"
#include "run_face.h"

struct ConsoleFace {
    RunChoices choices;
    int32_t waitStartMs = 60000; // longest wait for the first byte without a console
    bool inputIsConsole = false;
    bool errorIsConsole = false;
    FILE* steps = stderr; // where the steps, the request and the progress go
    // On a console whose standard error goes elsewhere (a log file): the
    // console itself, which gets the OFF/ON request and the Enter line too.
    FILE* consoleCopy = nullptr;

    // What the run showed last in its result line, and what it found out.
    std::string result;
    RunReport report{};
    // When the module was switched on (the OFF/ON request answered), or
    // else when the run began: a log line's time and duration count from it.
    ULONGLONG moduleOnMs = 0;
    std::string moduleOnUtc;

    // The download's progress so far.
    bool progressLineOpen = false;
    ULONGLONG downloadStartMs = 0;
    ULONGLONG lastProgressMs = 0;
    int lastTenth = 0;
};

// The run's face on face; face must outlive the run.
RunFace MakeConsoleFace(ConsoleFace* face);

// What standard error gets after a failed run: the failure text and a line
// with its detail (for "Error on opening the COM-Port", the system's reason).
std::string FailureReport(const RunReport& report);

// Why port could not be opened, in words, from the system's error of its
// last opening.
std::string PortOpenReason(int16_t port);

// The system's text of an error code, on one line, with its number.
std::string SystemMessage(DWORD error);

// The progress line of a console: percent, bytes sent of all, the rate and
// the time left, e.g. " 37 %    6144 of 16384 bytes    480 bytes/s    0:21 left".
std::string ProgressLine(int32_t sent, int32_t size, double elapsedSeconds);
