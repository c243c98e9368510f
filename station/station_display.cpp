#include "station_display.h"

#include <cstdio>

#include "run_texts.h"

namespace {

// The display looks at the station this often; live lines and a console's
// progress line are redrawn at most every kRedrawGapMs.
const DWORD kPassMs = 50;
const ULONGLONG kRedrawGapMs = 100;

std::string PortName(int port) {
    return "COM" + std::to_string(port);
}

} // namespace

StationDisplay::StationDisplay(DisplayKind kind, const StationState* state,
                               const DisplaySinks& sinks)
    : kind_(kind), state_(state), sinks_(sinks), places_(state->PortCount()) {
    if (kind_ == kLiveLines) {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (GetConsoleScreenBufferInfo(sinks_.errors, &info)) {
            width_ = info.dwSize.X;
        }
    }
}

StationDisplay::~StationDisplay() {
    if (thread_ != nullptr) {
        finishing_ = true;
        SetEvent(wake_);
        WaitForSingleObject(thread_, kGiveUpMs);
        CloseHandle(thread_);
    }
    if (wake_ != nullptr) {
        CloseHandle(wake_);
    }
}

bool StationDisplay::Start() {
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (wake_ != nullptr) {
        thread_ = CreateThread(nullptr, 0, Thread, this, 0, nullptr);
    }
    return thread_ != nullptr;
}

DWORD WINAPI StationDisplay::Thread(LPVOID argument) {
    StationDisplay* display = static_cast<StationDisplay*>(argument);
    while (!display->finishing_) {
        display->Pass(false);
        WaitForSingleObject(display->wake_, kPassMs);
    }
    display->Pass(true);
    display->finished_ = true;
    return 0;
}

bool StationDisplay::Finish(const std::string& errorsTail, const std::string& outputTail,
                            bool (*stopping)()) {
    errorsTail_ = errorsTail;
    outputTail_ = outputTail;
    if (thread_ == nullptr) {
        Pass(true);
        return true;
    }
    finishing_ = true;
    SetEvent(wake_);
    // The console may hold the last lines back for as long as a person
    // takes; a stop gives up on them.
    ULONGLONG stopSeenMs = 0;
    while (WaitForSingleObject(thread_, kPassMs) == WAIT_TIMEOUT) {
        if (stopSeenMs == 0 && stopping()) {
            stopSeenMs = GetTickCount64();
        }
        if (stopSeenMs != 0 && GetTickCount64() - stopSeenMs >= kGiveUpMs) {
            return false;
        }
    }
    return finished_;
}

// One look at the station: what it has done since the last, shown. The
// records are counted first: every line a port wrote before its module's
// record is then among the lines taken, and comes out before the outcome.
void StationDisplay::Pass(bool last) {
    const int64_t lastRecord = state_->Totals().sequence;
    std::vector<std::string> stay;
    std::vector<DisplayLine> stationLines;
    state_->StationLines().Take(&nextStationLine_, &stationLines);
    for (const DisplayLine& line : stationLines) {
        stay.push_back(line.text);
        if (line.kind == kAskLine && sinks_.consoleCopy != nullptr) {
            Write(sinks_.consoleCopy, line.text + "\r\n");
        }
    }
    for (size_t index = 0; index < places_.size(); ++index) {
        TakePortLines(index, &stay);
    }
    for (const ModuleRecord& record : state_->RecordsAfter(recordsShown_)) {
        if (record.sequence > lastRecord) {
            break;
        }
        TakeRecord(record, &stay);
        recordsShown_ = record.sequence;
    }
    TakeLogProblem(&stay);
    TakeBrokerProblem(&stay);
    if (last) {
        CloseProgressLine();
        if (!errorsTail_.empty()) {
            stay.push_back(errorsTail_);
        }
    }
    ShowLines(stay);
    if (!last) {
        UpdateProgressLine();
        return;
    }
    if (kind_ == kLiveLines) {
        Redraw({});
    }
    Write(sinks_.output, outputTail_);
    Summary();
}

void StationDisplay::TakePortLines(size_t index, std::vector<std::string>* stay) {
    PortPlace& place = places_[index];
    std::vector<DisplayLine> lines;
    const uint64_t lost = state_->PortLines(index).Take(&place.nextLine, &lines);
    const std::string prefix = PortName(state_->Port(index).port) + ": ";
    if (lost > 0 && kind_ != kLiveLines) {
        stay->push_back(prefix + "(" + std::to_string(lost) + " lines not shown)");
    }
    for (const DisplayLine& line : lines) {
        switch (line.kind) {
        case kStepLine:
            if (kind_ == kSingleRunLines) {
                stay->push_back(line.text);
            }
            break;
        case kNoticeLine:
        case kLastingNoticeLine:
            if (kind_ != kLiveLines || line.kind == kLastingNoticeLine) {
                stay->push_back(prefix + line.text);
            }
            break;
        case kTenthLine:
            if (kind_ == kPlainLines) {
                stay->push_back(prefix + TenthLine(line.sent, line.size));
            } else if (kind_ == kSingleRunLines && !sinks_.errorsIsConsole) {
                stay->push_back(TenthLine(line.sent, line.size));
            }
            break;
        case kDownloadEndLine:
            if (kind_ == kSingleRunLines && sinks_.errorsIsConsole) {
                ShowLines(*stay); // what came before, above the progress line
                stay->clear();
                const double seconds = (GetTickCount64() - place.downloadStartMs) / 1000.0;
                Write(sinks_.errors, "\r" + ProgressLine(line.sent, line.size,
                                                         place.downloadStartMs ? seconds : 0));
                progressLineOpen_ = true;
                CloseProgressLine();
            }
            place.shownSent = -1;
            break;
        default:
            stay->push_back(line.text);
            break;
        }
    }
}

// A module done: a single run tells its outcome as the dialog would (the
// success text on standard output, a failure's text and where it stopped on
// standard error); a station gives it a line, its detail below a failure,
// and a beep: a high short one for a success, the dialog's failure beep
// otherwise.
void StationDisplay::TakeRecord(const ModuleRecord& record, std::vector<std::string>* stay) {
    const RunReport& report = record.report;
    const bool succeeded = report.outcome == kRunSucceeded;
    if (kind_ == kSingleRunLines) {
        ShowLines(*stay);
        stay->clear();
        CloseProgressLine();
        if (succeeded && state_->Job().job == "read-id") {
            // The station address for a script; the whole record for a person.
            Write(sinks_.output, std::to_string(report.oldProfibusId) + "\r\n");
            Write(sinks_.errors, std::string("Configuration record: ") + report.record + "\r\n");
        } else if (succeeded) {
            Write(sinks_.output, record.result + "\r\n");
        } else {
            std::string text = FailureReport(report);
            for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at)) {
                text.replace(at, 1, "\r\n");
                at += 2;
            }
            Write(sinks_.errors, text);
        }
        return;
    }
    char line[300];
    snprintf(line, sizeof line, "%s: %s (%.1f s)", PortName(report.port).c_str(),
             record.outcomeText.c_str(), record.line.seconds);
    stay->push_back(line);
    if (!succeeded && !record.line.detail.empty()) {
        stay->push_back("  " + record.line.detail);
    }
    ShowLines(*stay);
    stay->clear();
    Beep(succeeded ? 2000 : 1500, succeeded ? 80 : 150);
}

// The log that cannot be written: a line when that begins or changes, and
// when it is written again.
void StationDisplay::TakeLogProblem(std::vector<std::string>* stay) {
    const std::string problem = state_->LogProblem();
    if (problem == logProblemShown_) {
        return;
    }
    if (kind_ != kLiveLines) {
        stay->push_back(problem.empty() ? "korvan-cli: the log is written again"
                                        : "korvan-cli: " + problem);
    }
    logProblemShown_ = problem;
    logLineDrawn_ = logLineDrawn_ || !problem.empty();
}

// The broker that does not take the records: a plain line when that begins,
// when its reason changes and when it takes them again (not for each record
// that waits: the live line counts them).
void StationDisplay::TakeBrokerProblem(std::vector<std::string>* stay) {
    const std::string problem = state_->BrokerProblem();
    const auto reason = [](const std::string& text) { return text.substr(0, text.rfind(", ")); };
    if (problem.empty() == brokerProblemShown_.empty() &&
        reason(problem) == reason(brokerProblemShown_)) {
        brokerProblemShown_ = problem;
        return;
    }
    if (kind_ != kLiveLines) {
        stay->push_back(problem.empty() ? "korvan-cli: the broker takes the records again"
                                        : "korvan-cli: " + problem);
    }
    brokerProblemShown_ = problem;
    brokerLineDrawn_ = brokerLineDrawn_ || !problem.empty();
}

void StationDisplay::ShowLines(const std::vector<std::string>& stay) {
    if (kind_ == kLiveLines) {
        const ULONGLONG nowMs = GetTickCount64();
        if (!stay.empty() || nowMs - lastDrawMs_ >= kRedrawGapMs) {
            Redraw(stay);
        }
        return;
    }
    if (stay.empty()) {
        return;
    }
    CloseProgressLine();
    std::string text;
    for (const std::string& line : stay) {
        text += line + "\r\n";
    }
    Write(sinks_.errors, text);
}

// A single run's download on a console: its progress line, rewritten in
// place.
void StationDisplay::UpdateProgressLine() {
    if (kind_ != kSingleRunLines || !sinks_.errorsIsConsole || places_.empty()) {
        return;
    }
    const PortSnapshot port = state_->Port(0);
    PortPlace& place = places_[0];
    if (port.size <= 0) {
        return;
    }
    place.downloadStartMs = port.downloadStartMs;
    const ULONGLONG nowMs = GetTickCount64();
    if (port.sent == place.shownSent || nowMs - lastDrawMs_ < kRedrawGapMs) {
        return;
    }
    lastDrawMs_ = nowMs;
    place.shownSent = port.sent;
    char line[100];
    snprintf(line, sizeof line, "\r%-72s",
             ProgressLine(port.sent, port.size, (nowMs - port.downloadStartMs) / 1000.0).c_str());
    Write(sinks_.errors, line);
    progressLineOpen_ = true;
}

// Ends a progress line left open on the console, so the next text starts a
// line of its own.
void StationDisplay::CloseProgressLine() {
    if (progressLineOpen_) {
        Write(sinks_.errors, "\r\n");
        progressLineOpen_ = false;
    }
}

// The lines that stay, then the live lines below them.
void StationDisplay::Redraw(const std::vector<std::string>& above) {
    const ULONGLONG nowMs = GetTickCount64();
    lastDrawMs_ = nowMs;
    if (top_ >= 0) {
        SetConsoleCursorPosition(sinks_.errors, COORD{0, top_});
    }
    std::vector<std::string> lines = above;
    for (size_t index = 0; index < places_.size(); ++index) {
        const PortSnapshot port = state_->Port(index);
        PortView view;
        view.port = port.port;
        view.step = port.step;
        view.sent = port.sent;
        view.size = port.size;
        if (port.size > 0) {
            view.rate = ByteRate(port.sent, (nowMs - port.downloadStartMs) / 1000.0);
        }
        lines.push_back(LiveLine(view));
    }
    if (logLineDrawn_) {
        lines.push_back(logProblemShown_.empty() ? "log written" : logProblemShown_);
    }
    if (brokerLineDrawn_) {
        lines.push_back(brokerProblemShown_.empty() ? "broker reached" : brokerProblemShown_);
    }
    // Every line is written to the screen's width less one, so that it
    // overwrites what stood there and never wraps.
    const int room = width_ > 1 ? width_ - 1 : 79;
    std::string text;
    char padded[512];
    for (const std::string& line : lines) {
        snprintf(padded, sizeof padded, "%-*.*s\r\n", room, room, line.c_str());
        text += padded;
    }
    Write(sinks_.errors, text);
    const size_t live = places_.size() + (logLineDrawn_ ? 1 : 0) + (brokerLineDrawn_ ? 1 : 0);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(sinks_.errors, &info)) {
        top_ = static_cast<SHORT>(info.dwCursorPosition.Y - static_cast<SHORT>(live));
    }
}

// The closing table of a station: a row a port, in command-line order.
void StationDisplay::Summary() {
    if (kind_ == kSingleRunLines) {
        return;
    }
    std::string text = SummaryLine(0, 0, 0, "", 0) + "\r\n";
    for (size_t index = 0; index < places_.size(); ++index) {
        const PortSnapshot port = state_->Port(index);
        ModuleRecord last;
        const std::string outcome =
            state_->RecordOf(port.lastSequence, &last) ? last.outcomeText : "no module";
        text += SummaryLine(port.port, port.modules, port.failed, outcome, port.seconds) + "\r\n";
    }
    Write(sinks_.output, text);
}

// Writes text whole, however many writes the sink takes for it.
void StationDisplay::Write(HANDLE sink, const std::string& text) {
    if (sink == nullptr || sink == INVALID_HANDLE_VALUE) {
        return;
    }
    for (size_t at = 0; at < text.size();) {
        DWORD written = 0;
        if (!consoleCalls.write(sink, text.data() + at, static_cast<DWORD>(text.size() - at),
                                &written, nullptr) ||
            written == 0) {
            return;
        }
        at += written;
    }
}
