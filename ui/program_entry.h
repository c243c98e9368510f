// The program's outer shell: the instance handle and the modal dialog runner.
#pragma once

#include <windows.h>

#include <cstdint>

// The program's instance; set first thing by the entry.
extern HINSTANCE instanceHandle;

HINSTANCE GetInstanceHandle();

// Runs dialog resource `resource` of the instance modally, owned by owner
// (or by nothing) and driven by procedure, with the initial parameter 0.
// The value the dialog ended with.
INT_PTR RunModalDialog(HWND owner, int16_t resource, DLGPROC procedure);
