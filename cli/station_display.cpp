#include "station_display.h"

#include <cstdio>

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

std::string SummaryLine(int port, const std::string& modules, const std::string& outcome,
                        double seconds) {
    char line[256];
    if (port == 0) { // the heading
        snprintf(line, sizeof line, "%-7s  %-12s  %-48s  %9s", "port", modules.c_str(),
                 outcome.c_str(), "time");
    } else {
        snprintf(line, sizeof line, "COM%-4d  %-12s  %-48s  %7.1f s", port, modules.c_str(),
                 outcome.c_str(), seconds);
    }
    return line;
}

StationDisplay::StationDisplay(bool console, size_t ports) : console_(console), shown_(ports) {
    if (console_) {
        screen_ = GetStdHandle(STD_ERROR_HANDLE);
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (GetConsoleScreenBufferInfo(screen_, &info)) {
            width_ = info.dwSize.X;
        }
    }
}

void StationDisplay::Redraw(const std::vector<std::string>& above) {
    if (top_ >= 0) {
        SetConsoleCursorPosition(screen_, COORD{0, top_});
    }
    // Every line is written to the screen's width less one, so that it
    // overwrites what stood there and never wraps.
    const int room = width_ > 1 ? width_ - 1 : 79;
    for (const std::string& line : above) {
        fprintf(stderr, "%-*.*s\n", room, room, line.c_str());
    }
    for (const PortView& view : shown_) {
        const std::string line = LiveLine(view);
        fprintf(stderr, "%-*.*s\n", room, room, line.c_str());
    }
    fflush(stderr);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(screen_, &info)) {
        top_ = static_cast<SHORT>(info.dwCursorPosition.Y - static_cast<SHORT>(shown_.size()));
    }
}

void StationDisplay::Say(const std::string& line) {
    if (console_ && top_ >= 0) {
        Redraw({line});
        return;
    }
    fprintf(stderr, "%s\n", line.c_str());
    fflush(stderr);
}

void StationDisplay::Update(const std::vector<PortView>& views) {
    if (console_) {
        shown_ = views;
        Redraw({});
    }
}
