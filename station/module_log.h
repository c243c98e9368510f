// A production station's log file (the rows: log_rows.h). Several stations
// may append to one log, a shared file on the line's server among them:
// each row goes in one write while the writer holds the lock of the file's
// end, after a line end where the last line was cut (a crash, a full disk),
// and is on the disk when the write returns. The header is written once,
// into a new or empty file. Others may read the file meanwhile.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "log_rows.h"

// How the log writes, as the system's WriteFile. Process-wide so that a
// test can play a disk that is full or a share that is gone for a while.
typedef BOOL(WINAPI* LogWriteCall)(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written,
                                   LPOVERLAPPED overlapped);
extern LogWriteCall logWrite;
// How the log puts a row on the disk, as the system's FlushFileBuffers.
typedef BOOL(WINAPI* LogFlushCall)(HANDLE file);
extern LogFlushCall logFlush;

class ModuleLog {
  public:
    ModuleLog() = default;
    ModuleLog(const ModuleLog&) = delete;
    ModuleLog& operator=(const ModuleLog&) = delete;
    ~ModuleLog();

    // Opens (or makes) the file named in UTF-8 for appending, with the
    // byte-order mark and the header when it is new or empty. Empty when it
    // could, else the system's reason, or why a file of other columns is not
    // appended to.
    std::string Open(const std::string& name);
    // Opens the same file again, after a failure.
    std::string Reopen();
    void Close();
    bool IsOpen() const {
        return file_ != INVALID_HANDLE_VALUE;
    }
    const std::string& Name() const {
        return name_;
    }
    // Appends a row (a CSV line with its CR LF) whole. Empty when it did,
    // else the system's reason.
    std::string Append(const std::string& row);
    std::string Append(const ModuleLogLine& line) {
        return Append(Row(line));
    }
    // The module's row as this file takes it: a file begun with the
    // earlier header keeps its columns.
    std::string Row(const ModuleLogLine& line) const {
        return CsvLine(line, headerBefore_);
    }
    bool HeaderBefore() const {
        return headerBefore_;
    }
    const char* Header() const {
        return headerBefore_ ? kModuleLogHeaderBefore : kModuleLogHeader;
    }
    // Appends what *written leaves of the row: *written bytes of it went in
    // by the last append (a write that took only part of it), and the rest
    // follows them, as long as the file still ends where they did (else the
    // whole row goes in after a line end). *written tells how much of the
    // row is in the file afterwards. A row written whole counts as written
    // even when the flush after it fails: it is not written again.
    std::string Append(const std::string& row, size_t* written);
    // Asked while a wait for another writer's lock goes on: true cuts it short.
    void SetGiveUp(std::function<bool()> giveUp) {
        giveUp_ = std::move(giveUp);
    }

    // The byte of the file that a writer locks while it appends: far beyond
    // any log's end, so that the lock keeps only other writers waiting.
    static constexpr uint64_t kLockOffset = 1ull << 62;
    // How long an append waits for another writer's lock.
    enum : DWORD { kLockWaitMs = 2000 };

  private:
    std::string StartFile();
    std::string EndsWithLineEnd(bool* ends);
    std::string Write(const std::string& text, DWORD* written = nullptr);
    std::string Lock();
    void Unlock();

    std::string name_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::function<bool()> giveUp_;
    uint64_t partEnd_ = 0; // where a row cut short ends in the file
    bool headerBefore_ = false;
};
