#include "support/full_disk.h"

std::atomic<bool> diskFull{false};

BOOL WINAPI FullDiskWrite(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written,
                          LPOVERLAPPED overlapped) {
    if (diskFull) {
        *written = 0;
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return WriteFile(file, bytes, count, written, overlapped);
}
