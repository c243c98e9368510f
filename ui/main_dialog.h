// The main dialog: its procedure, the state it keeps between messages, and
// the pieces of it that are plain data.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include <cstdint>

enum : int32_t {
    kFileNameRoom = 260,    // a path of up to 259 characters and its terminator
    kDialogTextSize = 1000, // 16-bit characters of a text on its way to a control
    // Bytes of such a path in the ANSI code page: in UTF-8 (the program's
    // code page from Windows 10 version 1903 on) a 16-bit character takes up
    // to 3 bytes.
    kPickerFileRoom = 3 * kFileNameRoom,
};

// The file name on its way into the edit and to and from the file picker.
extern WCHAR fileNameBuffer[kFileNameRoom];
// The same name in the ANSI code page, as the picker reads and writes it.
extern char pickerFileBuffer[kPickerFileRoom];
// The picker's parameter block, filled afresh before every use.
extern OPENFILENAMEA openFileBlock;

// The dialog procedure of dialog resource 10.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// ---- The lists ----

enum : int16_t {
    kPortEntries = 8,         // COM1 to COM8 always head the port list
    kProfibusIdEntries = 127, // IDs 1 to 127
};
// Room of an entry text with its terminator.
enum : int32_t { kListEntryRoom = 64 };

// "COM" and the port number in decimal ("COM1").
void ComposePortEntry(int16_t port, char* text);

// The ID in decimal; ID 126 reads "126 (Address Setting via Profibus possible)".
void ComposeProfibusIdEntry(int16_t id, char* text);

// The port number of the chosen port list entry; 0 when none is chosen,
// kAnyPort (run_face.h) for the entry that finds the module.
int16_t ChosenPortEntry(HWND dialog);

// The last entry of the port list: a run that finds the module itself.
extern const char kAnyPortEntry[];

// The port numbers of the list's port entries, in list order (at most
// capacity); the count.
int16_t ListedPorts(HWND dialog, int16_t* ports, int16_t capacity);

// Chooses the entry of port; none when the list has no such entry.
void ChoosePortEntry(HWND dialog, int16_t port);

// ---- The file picker ----

// "Setup": lets the technician pick the script file; a chosen file's full
// path goes into the file-name edit. The working directory stays as it was.
void PickScriptFile(HWND dialog);

// Fills block for an open-file picker owned by owner that starts with the
// name in file (room kPickerFileRoom bytes) and leaves the chosen path there:
// one existing .dcs file, no read-only box.
void FillOpenFileBlock(OPENFILENAMEA* block, HWND owner, char* file);

// ---- START ----

// Runs the job chosen in the dialog, with the dialog as the run's face: its
// controls give the choices, its lines show the texts, a message box makes
// the OFF/ON request.
void RunDialogJob(HWND dialog);

// 1 while a run started from the dialog is under way, else 0. The dialog
// answers what reaches it meanwhile (through the modal loop of the OFF/ON
// box, or sent while the run waits) but carries out no command, does not
// close and holds off a log-off or shut-down.
extern int16_t dialogRunUnderWay;

// Holds off a log-off or shut-down, with the reason the system shows
// (ShutdownBlockReasonCreate), and lets it go again
// (ShutdownBlockReasonDestroy). Process-wide so that a test can watch them.
struct ShutdownBlockCalls {
    BOOL(WINAPI* create)(HWND window, LPCWSTR reason);
    BOOL(WINAPI* destroy)(HWND window);
};
extern ShutdownBlockCalls shutdownBlock;

// Sounds the failure beep: frequency in Hz, duration in ms. Process-wide so
// that a test can hear it.
typedef BOOL(WINAPI* BeepSound)(DWORD frequency, DWORD duration);
extern BeepSound failureBeep;
