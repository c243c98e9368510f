#include "log_writer.h"

void LogWriter::Add(const std::string& row, ULONGLONG nowMs) {
    rows_.push_back(row);
    if (rows_.size() == 1) {
        WriteWaiting(nowMs);
    }
}

void LogWriter::Retry(ULONGLONG nowMs, bool now) {
    if (!rows_.empty() && (now || nowMs - lastTryMs_ >= kRetryMs)) {
        WriteWaiting(nowMs);
    }
}

// Writes the rows in order until one fails; the file is opened anew for the
// next try, since a share that went away leaves its handle dead.
void LogWriter::WriteWaiting(ULONGLONG nowMs) {
    lastTryMs_ = nowMs;
    if (!log_->IsOpen()) {
        const std::string problem = log_->Reopen();
        if (!problem.empty()) {
            reason_ = problem;
            return;
        }
    }
    while (!rows_.empty()) {
        const std::string problem = log_->Append(rows_.front());
        if (!problem.empty()) {
            reason_ = problem;
            log_->Close();
            return;
        }
        rows_.pop_front();
    }
    reason_.clear();
}

std::string LogWriter::Problem() const {
    if (rows_.empty()) {
        return "";
    }
    return "log not written: " + reason_ + ", " + std::to_string(rows_.size()) +
           (rows_.size() == 1 ? " row waiting" : " rows waiting");
}

std::string LogWriter::Leftover() const {
    if (rows_.empty()) {
        return "";
    }
    std::string text = kModuleLogHeader;
    for (const std::string& row : rows_) {
        text += row;
    }
    return text;
}
