// What korvan-cli shows while its ports run, in one of three ways:
// - a single run (one port, one module): every step a line, and the
//   download's progress as a line rewritten in place on a console, a line
//   every tenth of the way elsewhere;
// - a station on a console: one live line per port (port, step, percent,
//   bytes per second), redrawn in place at most 10 times a second, with the
//   lines that stay (outcomes, notices) scrolling above them;
// - a station elsewhere (a log file, a pipe): a plain line per port every
//   tenth of a download, at each notice and at each outcome.
// The display has a thread of its own, the only one that writes to the
// console: it reads the station's state and its lines. A console that holds
// its writes back (a selection in it, a pipe that nobody reads) holds back
// the display and nothing else.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "console_calls.h"
#include "display_lines.h"
#include "station_state.h"

enum DisplayKind { kSingleRunLines, kLiveLines, kPlainLines };

// Where the display's text goes.
struct DisplaySinks {
    HANDLE errors = nullptr; // steps, notices, outcomes (standard error)
    HANDLE output = nullptr; // a single run's result, the summary (standard output)
    // When not null: the console itself, for the requests to a technician
    // whose standard error goes to a file.
    HANDLE consoleCopy = nullptr;
    bool errorsIsConsole = false; // live lines and the rewritten progress line need one
};

class StationDisplay {
  public:
    StationDisplay(DisplayKind kind, const StationState* state, const DisplaySinks& sinks);
    StationDisplay(const StationDisplay&) = delete;
    StationDisplay& operator=(const StationDisplay&) = delete;
    // Ends a thread still running, within a bound.
    ~StationDisplay();

    // Starts the display's thread. False when there is none: then Finish
    // shows everything on the caller's thread.
    bool Start();
    // Shows what is left, then errorsTail and outputTail, then (for a
    // station) the summary. Waits as long as the console holds the writes
    // back, unless stopping() is true: then at most kGiveUpMs more. True
    // once everything is written.
    bool Finish(const std::string& errorsTail, const std::string& outputTail, bool (*stopping)());

    enum : DWORD { kGiveUpMs = 500 };

  private:
    static DWORD WINAPI Thread(LPVOID display);
    void Pass(bool last);
    void TakePortLines(size_t index, std::vector<std::string>* stay);
    void TakeRecord(const ModuleRecord& record, std::vector<std::string>* stay);
    void TakeLogProblem(std::vector<std::string>* stay);
    void TakeBrokerProblem(std::vector<std::string>* stay);
    void ShowLines(const std::vector<std::string>& stay);
    void UpdateProgressLine();
    void CloseProgressLine();
    void Redraw(const std::vector<std::string>& above);
    void Summary();
    void Write(HANDLE sink, const std::string& text);

    const DisplayKind kind_;
    const StationState* const state_;
    const DisplaySinks sinks_;
    HANDLE thread_ = nullptr;
    HANDLE wake_ = nullptr;
    std::atomic<bool> finishing_{false};
    std::atomic<bool> finished_{false};
    std::string errorsTail_;
    std::string outputTail_;

    // The display's thread only.
    struct PortPlace {
        uint64_t nextLine = 0;
        ULONGLONG downloadStartMs = 0;
        int32_t shownSent = -1;
    };
    std::vector<PortPlace> places_;
    uint64_t nextStationLine_ = 0;
    int64_t recordsShown_ = 0;
    std::string logProblemShown_;
    bool logLineDrawn_ = false; // a live line for the log, once it had a problem
    std::string brokerProblemShown_;
    bool brokerLineDrawn_ = false; // a live line for the broker, once it was not reached
    bool progressLineOpen_ = false;
    ULONGLONG lastDrawMs_ = 0;
    SHORT top_ = -1; // the first live line's row; -1 before the first drawing
    SHORT width_ = 80;
};
