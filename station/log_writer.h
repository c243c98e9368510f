// The station's rows on their way to the log. A log that cannot be written
// for a while (a full disk, a share gone for a moment, a file locked by a
// spreadsheet) does not stop the station: its rows wait in memory, in
// order, and are tried again every kRetryMs, the file opened anew. What
// never reached the file is given back at the end.
#pragma once

#include <windows.h>

#include <deque>
#include <string>

#include "module_log.h"

class LogWriter {
  public:
    explicit LogWriter(ModuleLog* log) : log_(log) {}

    // Appends the row, or puts it behind the rows that wait.
    void Add(const std::string& row, ULONGLONG nowMs);
    // Tries the rows that wait again, when kRetryMs have passed since the
    // last try or when now is set.
    void Retry(ULONGLONG nowMs, bool now = false);
    size_t Waiting() const {
        return rows_.size();
    }
    // "log not written: REASON, N rows waiting"; empty while it is written.
    std::string Problem() const;
    // The rows that wait, under the log's header, as CSV.
    std::string Leftover() const;

    enum : ULONGLONG { kRetryMs = 3000 };

  private:
    void WriteWaiting(ULONGLONG nowMs);

    ModuleLog* log_;
    std::deque<std::string> rows_;
    std::string reason_;
    ULONGLONG lastTryMs_ = 0;
};
