// The START run: one job on the module at the chosen COM port, from the
// dialog's inputs to the result line, inside the dialog's own thread.
#pragma once

#include <windows.h>

// Runs the job chosen in the dialog and shows its outcome there; returns
// when the run is over, whatever its outcome.
void RunProgramming(HWND dialog);

// Sounds the failure beep: frequency in Hz, duration in ms. Process-wide so
// that a test can hear it.
typedef BOOL(WINAPI* BeepSound)(DWORD frequency, DWORD duration);
extern BeepSound failureBeep;

// Tells the system whether it must stay awake (SetThreadExecutionState).
// Process-wide so that a test can watch it.
typedef EXECUTION_STATE(WINAPI* ExecutionStateCall)(EXECUTION_STATE state);
extern ExecutionStateCall setExecutionState;
