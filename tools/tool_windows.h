// The windows of a running KORVAN_Setup.exe as another process sees them:
// finding the dialog and its prompt box, reading and driving its controls.
//
// While a run works, the tool's dialog thread answers no sent message. So
// nothing here waits on that thread: texts and states are read through calls
// that do not send to another process (GetWindowTextA, IsWindowEnabled),
// commands that start or end work are posted, and the few sent messages
// (only while the dialog is idle) give up after a time-out.
#pragma once

#include <windows.h>

#include <cstdint>

// The caption of the tool's dialog, blanks included.
extern const char kToolCaption[];

// The tool's dialog: a visible "#32770" window with kToolCaption; nullptr
// when there is none.
HWND FindToolDialog();

// A visible "#32770" box owned by owner whose title is empty; nullptr when
// there is none.
HWND FindUntitledBox(HWND owner);

// True when every control of the dialog's input range (10 to 209) is enabled.
bool InputControlsEnabled(HWND dialog);

// The text of a static control or a caption of another process.
void ReadWindowText(HWND window, char* text, int32_t capacity);
void ReadControlText(HWND dialog, int id, char* text, int32_t capacity);

// Sends a message to control id of the dialog and waits at most 10 s for
// the answer. False when there is no such control or no answer came.
bool SendToControl(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam,
                   LRESULT* result);

// The entry of combo box id of the dialog whose item data is
// data; -1 when there is none.
LRESULT FindListEntryWithData(HWND dialog, int id, LRESULT data);

// Posts a message to control id of the dialog. False when there is no such
// control.
bool PostToControl(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);

// Sets the named event, waiting up to timeoutMs for it to exist. 0 when it
// was set, 1 when it never turned up.
int16_t SetNamedEvent(const char* name, int32_t timeoutMs);
