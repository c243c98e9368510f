// How korvan-cli is stopped from outside: Ctrl+C or Ctrl+Break, its console
// window closed, the user logging off or Windows shutting down, or a line
// controller setting the station's named stop event. A stop interrupts the
// station's ports (their transfers and waits end within some 50 ms) and is
// seen by every wait of the station; it is never lost, from the program's
// first step on.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Most ports a stop interrupts: a run on any port watches up to 64.
enum : int { kStopPortRoom = 64 };

// Catches the stops of the console (its control events) from now on. The
// program's first step: no stop is lost.
void CatchConsoleStops();

// Watches for the end of the user's session (log-off, shut-down) with a
// hidden window on a thread of its own, while a station's modules may be
// under way; the watch ends, within a bound, with EndSessionWatch.
void WatchSessionEnd();
void EndSessionWatch();

// The ports a stop interrupts; a stop that came before is seen by the
// station before it opens any port.
void SetStopPorts(const int16_t* ports, int count);

// Watches the named event for a stop. The event is reset first: a stop
// that a line controller gave before this station began was meant for an
// earlier one. Empty when watching, else the reason.
std::string WatchStopEvent(const std::string& eventName);

// True once a stop has come.
bool StopRequested();

// What every stop does: interrupts the ports, then raises the flag (so that
// whoever sees the flag finds the ports interrupted). From any thread.
void RequestStop();

// The station has written what a stop owes (the log's lines, the summary).
// A stop that ends the process once it is handled (the window closed, the
// session ending) waits for this, at most kCloseGraceMs.
void StopHandled();

// Windows ends a process a few seconds (5 by default) after its console
// window was closed or its session began to end.
enum : DWORD { kCloseGraceMs = 4500 };

// The console's control handler, as Windows calls it on a thread of its
// own (a test plays Windows' part with it).
BOOL WINAPI OnConsoleControl(DWORD event);

// The end of the user's session as a window of the program hears of it:
// Windows sends these to the top-level windows of a program that uses
// them, instead of the control handler's log-off and shut-down events. The
// hidden window's procedure; a test sends it the messages.
LRESULT CALLBACK SessionWindowProc(HWND window, UINT message, WPARAM first, LPARAM second);
