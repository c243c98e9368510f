#include "module_log.h"

#include "run_texts.h"
#include "utf8_file_names.h"

LogWriteCall logWrite = WriteFile;
LogFlushCall logFlush = FlushFileBuffers;

namespace {

// A positioned read of a file opened for synchronous access.
bool ReadAt(HANDLE file, uint64_t offset, void* bytes, DWORD count, DWORD* got) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return ReadFile(file, bytes, count, got, &at) != 0;
}

} // namespace

ModuleLog::~ModuleLog() {
    Close();
}

void ModuleLog::Close() {
    if (file_ != INVALID_HANDLE_VALUE) {
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }
}

std::string ModuleLog::Open(const std::string& name) {
    name_ = name;
    return Reopen();
}

std::string ModuleLog::Reopen() {
    Close();
    // Other stations append too; anybody may read.
    file_ =
        OpenUtf8NamedFile(name_.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (file_ == INVALID_HANDLE_VALUE) {
        return SystemMessage(GetLastError());
    }
    std::string problem = Lock();
    if (problem.empty()) {
        problem = StartFile();
        Unlock();
    }
    if (!problem.empty()) {
        Close();
    }
    return problem;
}

// The header of a new file, or whether the file's header is ours; the lock
// is held.
std::string ModuleLog::StartFile() {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_, &size)) {
        return SystemMessage(GetLastError());
    }
    headerBefore_ = false;
    if (size.QuadPart == 0) {
        return Write(std::string(kUtf8ByteOrderMark) + kModuleLogHeader);
    }
    // The header's length and a little more tell whether our lines fit.
    char start[256];
    DWORD got = 0;
    if (!ReadAt(file_, 0, start, sizeof start, &got)) {
        return SystemMessage(GetLastError());
    }
    const std::string text(start, got);
    if (text == kUtf8ByteOrderMark) {
        return Write(kModuleLogHeader); // a file made, but its header never written
    }
    headerBefore_ = HasHeaderBefore(text);
    return LogHeaderProblem(text);
}

std::string ModuleLog::Append(const std::string& row) {
    size_t written = 0;
    return Append(row, &written);
}

std::string ModuleLog::Append(const std::string& row, size_t* written) {
    if (file_ == INVALID_HANDLE_VALUE) {
        return "the log is not open";
    }
    std::string problem = Lock();
    if (!problem.empty()) {
        return problem;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file_, &size)) {
        problem = SystemMessage(GetLastError());
    }
    // The rest of a row cut short goes right behind it; after anybody
    // else's bytes it would be no row, and the row goes in whole.
    if (problem.empty() && *written > 0 && static_cast<uint64_t>(size.QuadPart) != partEnd_) {
        *written = 0;
    }
    std::string text = row.substr(*written);
    if (problem.empty() && *written == 0) {
        bool ends = true;
        problem = EndsWithLineEnd(&ends);
        text = ends ? row : "\r\n" + row;
    }
    if (problem.empty()) {
        DWORD wrote = 0;
        problem = Write(text, &wrote);
        // What went in of the row (a line end put before it does not count).
        const size_t ofRow = text.size() - (row.size() - *written);
        *written += wrote > ofRow ? wrote - ofRow : 0;
        partEnd_ = static_cast<uint64_t>(size.QuadPart) + wrote;
        // A row that went in whole stays written when its flush fails: the
        // problem is told, and the file is opened anew for the next row.
        if (problem.empty() && !logFlush(file_)) {
            problem = SystemMessage(GetLastError());
        }
    }
    Unlock();
    return problem;
}

// Whether the file's last line is whole (a line feed ends it); the lock is
// held.
std::string ModuleLog::EndsWithLineEnd(bool* ends) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_, &size)) {
        return SystemMessage(GetLastError());
    }
    *ends = true;
    if (size.QuadPart == 0) {
        return "";
    }
    char last = 0;
    DWORD got = 0;
    if (!ReadAt(file_, static_cast<uint64_t>(size.QuadPart) - 1, &last, 1, &got)) {
        return SystemMessage(GetLastError());
    }
    *ends = got == 1 && last == '\n';
    return "";
}

// One write of the whole text at the file's end; *written, when asked for,
// how much of it went in.
std::string ModuleLog::Write(const std::string& text, DWORD* written) {
    DWORD wrote = 0;
    const BOOL done =
        logWrite(file_, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
    if (written != nullptr) {
        *written = wrote;
    }
    if (!done) {
        return SystemMessage(GetLastError());
    }
    if (wrote != text.size()) {
        return "only " + std::to_string(wrote) + " of " + std::to_string(text.size()) +
               " bytes were written (the disk may be full)";
    }
    return "";
}

// Takes the lock of the file's end, waiting for another writer at most
// kLockWaitMs.
std::string ModuleLog::Lock() {
    const ULONGLONG startMs = GetTickCount64();
    for (;;) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(kLockOffset);
        at.OffsetHigh = static_cast<DWORD>(kLockOffset >> 32);
        if (LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
            return "";
        }
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
            return SystemMessage(error);
        }
        if (giveUp_ != nullptr && giveUp_()) {
            return "stopped while another program held the log's lock";
        }
        if (GetTickCount64() - startMs >= kLockWaitMs) {
            return "another program has held the log's lock for " +
                   std::to_string(kLockWaitMs / 1000) + " s";
        }
        Sleep(10);
    }
}

void ModuleLog::Unlock() {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(kLockOffset);
    at.OffsetHigh = static_cast<DWORD>(kLockOffset >> 32);
    UnlockFileEx(file_, 0, 1, 0, &at);
}
