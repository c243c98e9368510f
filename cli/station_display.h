// What a station shows while it runs. On a console: one live line per port
// (port, step, percent, bytes per second), redrawn in place, with the
// outcome lines scrolling above them. Elsewhere (a log file, a pipe): a
// plain line per port every tenth of a download and at each outcome.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// One port as it stands.
struct PortView {
    int port = 0;
    std::string step; // the step under way, or what the port waits for
    int32_t sent = 0; // script bytes sent of size; size 0 outside a download
    int32_t size = 0;
    double rate = 0; // bytes per second of the download so far
};

// The live line of a port, e.g.
// "COM3    Programming    37 %     480 bytes/s".
std::string LiveLine(const PortView& view);

// A line of the closing table: port, modules, outcome, time; port 0 gives
// the heading with modules and outcome as its titles.
std::string SummaryLine(int port, const std::string& modules, const std::string& outcome,
                        double seconds);

class StationDisplay {
  public:
    // console: standard error is a console that can be drawn on.
    StationDisplay(bool console, size_t ports);
    // A line that stays: above the live lines on a console.
    void Say(const std::string& line);
    // The ports' lines, redrawn on a console; nothing elsewhere (the runs
    // write a line at every tenth of their download themselves).
    void Update(const std::vector<PortView>& views);

  private:
    void Redraw(const std::vector<std::string>& above);

    bool console_;
    HANDLE screen_ = nullptr;
    SHORT top_ = -1; // the first live line's row; -1 before the first drawing
    SHORT width_ = 80;
    std::vector<PortView> shown_;
};
