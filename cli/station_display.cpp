#include "station_display.h"

namespace {

// Live lines and a console's progress line are redrawn at most this often.
const ULONGLONG kRedrawGapMs = 100;

} // namespace

double ByteRate(int32_t sent, double seconds) {
    return seconds > 0.05 && sent > 1 ? (sent - 1) / seconds : 0;
}

std::string LiveLine(const PortView& view) {
    char line[160];
    int length = snprintf(line, sizeof line, "COM%-4d  %-44.44s", view.port, view.step.c_str());
    if (view.size > 0) {
        const int percent = static_cast<int>(static_cast<int64_t>(view.sent) * 100 / view.size);
        length += snprintf(line + length, sizeof line - length, "  %3d %%", percent);
        if (view.rate > 0) {
            snprintf(line + length, sizeof line - length, "  %6.0f bytes/s", view.rate);
        }
    }
    return line;
}

std::string ProgressLine(int32_t sent, int32_t size, double elapsedSeconds) {
    const int percent = size > 0 ? static_cast<int>(static_cast<int64_t>(sent) * 100 / size) : 100;
    char line[120];
    int length = snprintf(line, sizeof line, "%3d %%  %8ld of %ld bytes", percent,
                          static_cast<long>(sent), static_cast<long>(size));
    const double rate = ByteRate(sent, elapsedSeconds);
    if (rate > 0) {
        const long left = static_cast<long>((size - sent) / rate + 0.5);
        snprintf(line + length, sizeof line - length, "  %7.0f bytes/s  %ld:%02ld left", rate,
                 left / 60, left % 60);
    }
    return line;
}

std::string SummaryLine(int port, const std::string& modules, const std::string& outcome,
                        double seconds) {
    char line[256];
    if (port == 0) { // the heading
        snprintf(line, sizeof line, "%-7s %-13s %-48s %8s", "port", modules.c_str(),
                 outcome.c_str(), "time");
    } else {
        snprintf(line, sizeof line, "COM%-4d %-13s %-48s %6.1f s", port, modules.c_str(),
                 outcome.c_str(), seconds);
    }
    return line;
}

StationDisplay::StationDisplay(DisplayKind kind, const std::vector<int16_t>& ports, FILE* errors,
                               bool console, FILE* consoleCopy)
    : kind_(kind), errors_(errors), console_(console), consoleCopy_(consoleCopy),
      ports_(ports.size()) {
    for (size_t k = 0; k < ports.size(); ++k) {
        ports_[k].view.port = ports[k];
    }
    if (kind_ == kLiveLines) {
        screen_ = GetStdHandle(STD_ERROR_HANDLE);
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (GetConsoleScreenBufferInfo(screen_, &info)) {
            width_ = info.dwSize.X;
        }
    }
}

// A line that stays, written whole; the lock is held.
void StationDisplay::Line(const std::string& line) {
    if (kind_ == kLiveLines && top_ >= 0) {
        Redraw({line});
        return;
    }
    CloseProgressLine();
    fprintf(errors_, "%s\n", line.c_str());
    fflush(errors_);
}

// Ends a progress line left open on the console, so the next text starts a
// line of its own; the lock is held.
void StationDisplay::CloseProgressLine() {
    if (progressLineOpen_) {
        fputc('\n', errors_);
        progressLineOpen_ = false;
    }
}

void StationDisplay::Say(const std::string& line) {
    std::lock_guard<std::mutex> hold(lock_);
    Line(line);
}

void StationDisplay::Ask(const std::string& line) {
    std::lock_guard<std::mutex> hold(lock_);
    Line(line);
    if (consoleCopy_ != nullptr) {
        fprintf(consoleCopy_, "%s\n", line.c_str());
        fflush(consoleCopy_);
    }
}

void StationDisplay::Step(size_t index, const std::string& step) {
    if (step.empty() || step == " " || index >= ports_.size()) {
        return; // a blank clears the dialog's line: no step
    }
    std::lock_guard<std::mutex> hold(lock_);
    ports_[index].view.step = step;
    if (kind_ == kSingleRunLines) {
        Line(step);
    }
}

void StationDisplay::Notice(size_t index, const std::string& text, bool lasting) {
    if (index >= ports_.size()) {
        return;
    }
    std::lock_guard<std::mutex> hold(lock_);
    ports_[index].view.step = text;
    if (kind_ != kLiveLines || lasting) {
        Line("COM" + std::to_string(ports_[index].view.port) + ": " + text);
    }
}

void StationDisplay::Progress(size_t index, int32_t sent, int32_t size) {
    if (index >= ports_.size() || size <= 0) {
        return;
    }
    std::lock_guard<std::mutex> hold(lock_);
    PortState& state = ports_[index];
    const ULONGLONG nowMs = GetTickCount64();
    if (sent <= 1 || state.view.size == 0) {
        state.downloadStartMs = nowMs;
        state.lastProgressMs = 0;
        state.lastTenth = 0;
        if (kind_ != kSingleRunLines) {
            state.view.step = "Update firmware";
        }
    }
    state.view.sent = sent;
    state.view.size = size;
    if (kind_ == kLiveLines) {
        return; // the next redraw shows it
    }
    if (kind_ == kSingleRunLines && console_) {
        if (sent < size && nowMs - state.lastProgressMs < kRedrawGapMs) {
            return;
        }
        state.lastProgressMs = nowMs;
        const std::string line = ProgressLine(sent, size, (nowMs - state.downloadStartMs) / 1000.0);
        fprintf(errors_, "\r%-72s", line.c_str());
        progressLineOpen_ = true;
        fflush(errors_);
        return;
    }
    // Elsewhere a line every tenth of the way.
    const int tenth = static_cast<int>(static_cast<int64_t>(sent) * 10 / size);
    if (tenth > state.lastTenth) {
        state.lastTenth = tenth;
        const std::string prefix =
            kind_ == kPlainLines ? "COM" + std::to_string(state.view.port) + ": " : "";
        fprintf(errors_, "%s%3d %% (%ld of %ld bytes)\n", prefix.c_str(), tenth * 10,
                static_cast<long>(sent), static_cast<long>(size));
        fflush(errors_);
    }
}

void StationDisplay::EndProgress(size_t index) {
    std::lock_guard<std::mutex> hold(lock_);
    if (index < ports_.size()) {
        ports_[index].view.size = 0;
        ports_[index].view.sent = 0;
    }
    CloseProgressLine();
    fflush(errors_);
}

std::vector<PortView> StationDisplay::Views(ULONGLONG nowMs) {
    std::vector<PortView> views;
    for (const PortState& state : ports_) {
        PortView view = state.view;
        if (view.size > 0) {
            view.rate = ByteRate(view.sent, (nowMs - state.downloadStartMs) / 1000.0);
        }
        views.push_back(view);
    }
    return views;
}

void StationDisplay::Refresh(bool now) {
    if (kind_ != kLiveLines) {
        return;
    }
    std::lock_guard<std::mutex> hold(lock_);
    const ULONGLONG nowMs = GetTickCount64();
    if (!now && nowMs - lastRedrawMs_ < kRedrawGapMs) {
        return;
    }
    Redraw({});
}

// The lock is held.
void StationDisplay::Redraw(const std::vector<std::string>& above) {
    const ULONGLONG nowMs = GetTickCount64();
    lastRedrawMs_ = nowMs;
    if (top_ >= 0) {
        SetConsoleCursorPosition(screen_, COORD{0, top_});
    }
    // Every line is written to the screen's width less one, so that it
    // overwrites what stood there and never wraps.
    const int room = width_ > 1 ? width_ - 1 : 79;
    for (const std::string& line : above) {
        fprintf(errors_, "%-*.*s\n", room, room, line.c_str());
    }
    for (const PortView& view : Views(nowMs)) {
        const std::string line = LiveLine(view);
        fprintf(errors_, "%-*.*s\n", room, room, line.c_str());
    }
    fflush(errors_);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(screen_, &info)) {
        top_ = static_cast<SHORT>(info.dwCursorPosition.Y - static_cast<SHORT>(ports_.size()));
    }
}
