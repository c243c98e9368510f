// The station's rows on their way to the log, written on a thread of their
// own: the main thread hands a row over and goes on at once, whatever the
// file is doing (another station holding its lock, a share that hangs a
// write). A log that cannot be written for a while (a full disk, a share
// gone for a moment, a file locked by a spreadsheet) does not stop the
// station: its rows wait in memory, in order, and are tried again every
// kRetryMs, the file opened anew. A row cut short by a write that took only
// part of it is completed, never written again. What never reached the file
// is given back at the end.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "module_log.h"

class LogWriter {
  public:
    // onProblem, when given, hears the log's state (Problem()) from the
    // writing thread whenever it changes.
    explicit LogWriter(ModuleLog* log, std::function<void(const std::string&)> onProblem = nullptr);
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;
    ~LogWriter();

    // Starts the thread that writes the rows; without it the caller writes
    // them with WriteDue. False when no thread could be had.
    bool Start();
    // Puts the row behind the rows that wait; never waits for the file.
    void Add(const std::string& row);
    // Writes the rows that wait: at once when the last try went well, else
    // when kRetryMs have passed since it or when now is set. The thread's
    // work; a caller without the thread calls it itself.
    void WriteDue(ULONGLONG nowMs, bool now = false);
    // Ends the thread after a last try of the rows that wait (a stop given
    // meanwhile cuts a wait for another program's lock short). False when
    // the thread was still in a write after limitMs: it is left to it.
    bool Finish(DWORD limitMs);

    size_t Waiting() const;
    // "log not written: REASON, N rows waiting"; empty while it is written.
    std::string Problem() const;
    // The rows that wait, under the log's header, as CSV; a row cut short
    // in the file comes whole.
    std::string Leftover() const;

    enum : ULONGLONG { kRetryMs = 3000 };

  private:
    static DWORD WINAPI Thread(LPVOID self);
    std::string ProblemHeld() const;

    ModuleLog* log_;
    std::function<void(const std::string&)> onProblem_;
    mutable std::mutex lock_; // over what follows; never held over a file call
    std::deque<std::string> rows_;
    size_t frontWritten_ = 0; // bytes of the first row already in the file
    std::string reason_;
    ULONGLONG lastTryMs_ = 0;
    std::string told_; // the problem told last
    HANDLE wake_ = nullptr;
    HANDLE thread_ = nullptr;
    std::atomic<bool> finishing_{false};
};
