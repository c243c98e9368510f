// For the native build of the fuzz targets only: the few Win32 names that
// the headers of the station's state (run_face.h, module_log.h,
// station_state.h) and of the port table (port_table.h, which the command
// line's port names include) use for their types, so that the server's
// answers and korvan-cli's command line build on Linux. Nothing here is
// called but the clocks, the process's number and the UTF-8 conversion of
// the command line.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

typedef int BOOL;
typedef unsigned long DWORD;
typedef unsigned long ULONG;
typedef unsigned long long ULONGLONG;
typedef wchar_t WCHAR;
typedef void* HANDLE;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef struct _OVERLAPPED {
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;
typedef struct _DCB {
    DWORD DCBlength;
} DCB;
typedef DWORD EXECUTION_STATE;
#define WINAPI
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(-1))

inline DWORD GetCurrentProcessId() {
    return 4242;
}

inline DWORD GetTickCount() {
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count());
}

inline ULONGLONG GetTickCount64() {
    return static_cast<ULONGLONG>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now().time_since_epoch())
                                      .count());
}

// UTF-16 to UTF-8 as the command line needs it; here wchar_t holds a whole
// code point (UTF-32), and one that is no scalar value becomes U+FFFD.
enum : unsigned { CP_UTF8 = 65001 };
inline int WideCharToMultiByte(unsigned, DWORD, const wchar_t* text, int length, char* bytes,
                               int room, const char*, BOOL*) {
    std::string out;
    for (int k = 0; length < 0 ? true : k < length; ++k) {
        uint32_t c = static_cast<uint32_t>(text[k]);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        if (length < 0 && text[k] == 0) {
            break;
        }
    }
    if (room == 0) {
        return static_cast<int>(out.size());
    }
    if (static_cast<int>(out.size()) > room) {
        return 0;
    }
    memcpy(bytes, out.data(), out.size());
    return static_cast<int>(out.size());
}
