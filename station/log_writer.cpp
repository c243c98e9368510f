#include "log_writer.h"

#include "stop_signal.h"

namespace {

// How often the thread looks for due retries when no row wakes it.
const DWORD kLookMs = 100;

} // namespace

LogWriter::LogWriter(ModuleLog* log, std::function<void(const std::string&)> onProblem)
    : log_(log), onProblem_(std::move(onProblem)) {
    // A wait for another program's lock ends with a stop, or at the last try
    // once the station has been stopped.
    log_->SetGiveUp([] { return StopRequested(); });
}

LogWriter::~LogWriter() {
    if (thread_ != nullptr) {
        Finish(INFINITE);
    }
    if (wake_ != nullptr) {
        CloseHandle(wake_);
    }
    log_->SetGiveUp(nullptr);
}

bool LogWriter::Start() {
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (wake_ != nullptr) {
        thread_ = CreateThread(nullptr, 0, Thread, this, 0, nullptr);
    }
    return thread_ != nullptr;
}

DWORD WINAPI LogWriter::Thread(LPVOID self) {
    LogWriter* writer = static_cast<LogWriter*>(self);
    while (!writer->finishing_) {
        WaitForSingleObject(writer->wake_, kLookMs);
        writer->WriteDue(GetTickCount64());
    }
    writer->WriteDue(GetTickCount64(), true);
    return 0;
}

void LogWriter::Add(const std::string& row) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        rows_.push_back(row);
    }
    if (wake_ != nullptr) {
        SetEvent(wake_);
    }
}

bool LogWriter::Finish(DWORD limitMs) {
    if (thread_ == nullptr) {
        WriteDue(GetTickCount64(), true);
        return true;
    }
    finishing_ = true;
    SetEvent(wake_);
    if (WaitForSingleObject(thread_, limitMs) != WAIT_OBJECT_0) {
        return false;
    }
    CloseHandle(thread_);
    thread_ = nullptr;
    return true;
}

// Writes the rows in order until one fails; the file is opened anew for the
// next try, since a share that went away leaves its handle dead. The rows'
// lock is not held while the file is written.
void LogWriter::WriteDue(ULONGLONG nowMs, bool now) {
    std::string problem;
    {
        std::lock_guard<std::mutex> hold(lock_);
        const bool due = now || reason_.empty() || nowMs - lastTryMs_ >= kRetryMs;
        if (rows_.empty() || !due) {
            return;
        }
        lastTryMs_ = nowMs;
    }
    if (!log_->IsOpen()) {
        problem = log_->Reopen();
    }
    while (problem.empty()) {
        std::string row;
        size_t written = 0;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (rows_.empty()) {
                break;
            }
            row = rows_.front();
            written = frontWritten_;
        }
        problem = log_->Append(row, &written);
        std::lock_guard<std::mutex> hold(lock_);
        frontWritten_ = written;
        if (written == row.size()) {
            rows_.pop_front();
            frontWritten_ = 0;
        }
    }
    if (!problem.empty()) {
        log_->Close();
    }
    std::string tell;
    {
        std::lock_guard<std::mutex> hold(lock_);
        reason_ = problem;
        tell = ProblemHeld();
        if (tell == told_) {
            return;
        }
        told_ = tell;
    }
    if (onProblem_ != nullptr) {
        onProblem_(tell);
    }
}

size_t LogWriter::Waiting() const {
    std::lock_guard<std::mutex> hold(lock_);
    return rows_.size();
}

std::string LogWriter::Problem() const {
    std::lock_guard<std::mutex> hold(lock_);
    return ProblemHeld();
}

std::string LogWriter::ProblemHeld() const {
    if (rows_.empty() || reason_.empty()) {
        return "";
    }
    return "log not written: " + reason_ + ", " + std::to_string(rows_.size()) +
           (rows_.size() == 1 ? " row waiting" : " rows waiting");
}

std::string LogWriter::Leftover() const {
    std::lock_guard<std::mutex> hold(lock_);
    if (rows_.empty()) {
        return "";
    }
    std::string text = log_->Header();
    for (const std::string& row : rows_) {
        text += row;
    }
    return text;
}
