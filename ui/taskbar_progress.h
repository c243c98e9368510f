// The run's progress on the program's taskbar button, as the system's own
// file copies show theirs, for a technician across the bench: the share of
// script bytes sent while a download runs, a moving bar while the run waits
// for the module (from the OFF/ON request on), a red bar after a failure,
// which stays until the next run begins or the dialog ends, and nothing after
// a success.
//
// The button's interface (ITaskbarList3) may be used only once the system has
// sent the window the registered message "TaskbarButtonCreated". A system
// without a taskbar, or too old for the interface, never sends it or refuses
// the interface: the dialog then runs as it would without this file.
#pragma once

#include <windows.h>

#include <shobjidl.h>

#include <cstdint>

// Makes the button's interface; process-wide so that a test can hand in a
// stand-in. The default asks COM for the system's taskbar list.
typedef HRESULT (*TaskbarListMaker)(ITaskbarList3** list);
extern TaskbarListMaker makeTaskbarList;

// Lets a message from programs of a lower integrity level through to a
// window (ChangeWindowMessageFilterEx): started as administrator, the dialog
// would otherwise never hear "TaskbarButtonCreated" from the taskbar.
// Process-wide so that a test can watch it.
typedef BOOL(WINAPI* MessageFilterCall)(HWND window, UINT message, DWORD action,
                                        PCHANGEFILTERSTRUCT status);
extern MessageFilterCall changeMessageFilter;

// The registered message "TaskbarButtonCreated"; 0 when the system has none.
UINT TaskbarButtonMessage();
// True for that message.
bool IsTaskbarButtonMessage(UINT message);

// The dialog has started: its button is the one the run's steps below show
// on, once it exists. The taskbar's message is let through to it.
void WatchTaskbarButton(HWND window);
// "TaskbarButtonCreated" has come (again, after the taskbar itself was
// restarted): the interface is taken up afresh, on the dialog's thread.
void TaskbarButtonCreated(HWND window);
// The dialog ends: the interface is let go.
void ForgetTaskbarButton(HWND window);

// The run's steps, on the dialog's thread.
void TaskbarRunBegins();
void TaskbarAwaitsModule();
// sent of size script bytes have gone out; the button changes only when the
// share it shows (whole per cent) does.
void TaskbarShowsShare(int32_t sent, int32_t size);
void TaskbarShowsFailure();
void TaskbarRunEnds();

// The share of sent in size that the button shows, in whole per cent.
int32_t ShownShare(int32_t sent, int32_t size);
