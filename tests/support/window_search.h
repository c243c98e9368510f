// Test support: finding the dialog windows that a program under test shows,
// from another thread or process.
#pragma once

#include <windows.h>

#include <string>

// What a dialog window ("#32770", top level, visible) must match; zero or
// nullptr fields match anything.
struct DialogQuery {
    DWORD process = 0;
    DWORD thread = 0;
    HWND owner = nullptr;
    const char* caption = nullptr;
};

// Polls every 20 ms for up to timeoutMs; nullptr when no dialog matched.
HWND WaitForDialog(const DialogQuery& query, int timeoutMs);

// Waits up to timeoutMs for window to be gone; false when it is still there.
bool WaitForWindowGone(HWND window, int timeoutMs);

// The first descendant of parent with the class name and control identifier.
HWND FindDescendant(HWND parent, const char* className, int id);

std::string WindowTextA(HWND window);
std::wstring WindowTextW(HWND window);
