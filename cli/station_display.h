// What korvan-cli shows while its ports run, in one of three ways:
// - a single run (one port, one module): every step a line, and the
//   download's progress as a line rewritten in place on a console, a line
//   every tenth of the way elsewhere;
// - a station on a console: one live line per port (port, step, percent,
//   bytes per second), redrawn in place at most 10 times a second, with the
//   lines that stay (outcomes, notices) scrolling above them;
// - a station elsewhere (a log file, a pipe): a plain line per port every
//   tenth of a download, at each notice and at each outcome.
// The ports' threads and the station's main thread all write through it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

enum DisplayKind { kSingleRunLines, kLiveLines, kPlainLines };

// One port as it stands.
struct PortView {
    int port = 0;
    std::string step; // the step under way, or what the port waits for
    int32_t sent = 0; // script bytes sent of size; size 0 outside a download
    int32_t size = 0;
    double rate = 0; // bytes per second of the download so far
};

// Bytes per second of a download that has sent sent bytes in seconds: the
// first byte marks the start, so it does not count; 0 until there is a
// rate to tell.
double ByteRate(int32_t sent, double seconds);

// The live line of a port, e.g.
// "COM3    Programming    37 %     480 bytes/s".
std::string LiveLine(const PortView& view);

// The progress line of a single run on a console: percent, bytes sent of
// all, the rate and the time left, e.g.
// " 37 %      6144 of 16384 bytes      480 bytes/s  0:21 left".
std::string ProgressLine(int32_t sent, int32_t size, double elapsedSeconds);

// A line of the closing table: port, modules, outcome, time; 79 characters
// (the longest outcome included, up to 99 modules and 9999.9 s a port), so
// that it fits a console of 80 columns. Port 0 gives the heading with
// modules and outcome as its titles.
std::string SummaryLine(int port, const std::string& modules, const std::string& outcome,
                        double seconds);

class StationDisplay {
  public:
    // errors: where the lines go (standard error); console: it is a console
    // that can be drawn on. consoleCopy, when not null: the console itself,
    // for the request to a technician whose standard error goes to a file.
    StationDisplay(DisplayKind kind, const std::vector<int16_t>& ports, FILE* errors, bool console,
                   FILE* consoleCopy);
    DisplayKind Kind() const {
        return kind_;
    }
    // A line that stays: above the live lines on a console.
    void Say(const std::string& line);
    // A request to the technician (switch the module, press Enter): it
    // reaches the console also when standard error goes elsewhere.
    void Ask(const std::string& line);
    // The step under way on the port of index: a line of a single run, the
    // live line's step of a station.
    void Step(size_t index, const std::string& step);
    // Something the port's technician must know ("next module: switch it
    // ON", "adapter gone, waiting for it"): the live line's step, and a
    // line "COMn: text" where there are no live lines or when it lasts.
    void Notice(size_t index, const std::string& text, bool lasting);
    // The download of the port of index has sent sent of size script bytes.
    void Progress(size_t index, int32_t sent, int32_t size);
    // A download has ended (the progress line of a single run is closed).
    void EndProgress(size_t index);
    // Redraws the live lines when due (at most 10 times a second), or now.
    void Refresh(bool now = false);

  private:
    struct PortState {
        PortView view;
        ULONGLONG downloadStartMs = 0;
        ULONGLONG lastProgressMs = 0;
        int lastTenth = 0;
    };
    void Line(const std::string& line);
    void CloseProgressLine();
    void Redraw(const std::vector<std::string>& above);
    std::vector<PortView> Views(ULONGLONG nowMs);

    std::mutex lock_;
    DisplayKind kind_;
    FILE* errors_;
    bool console_;
    FILE* consoleCopy_;
    HANDLE screen_ = nullptr;
    SHORT top_ = -1; // the first live line's row; -1 before the first drawing
    SHORT width_ = 80;
    ULONGLONG lastRedrawMs_ = 0;
    bool progressLineOpen_ = false;
    std::vector<PortState> ports_;
};
