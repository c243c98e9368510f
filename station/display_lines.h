// The lines of korvan-cli's display, as text: a port's live line, the
// progress line of a single run, the closing summary, and their numbers.
#pragma once

#include <cstdint>
#include <string>

// One port as its live line shows it.
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

// A download's line every tenth of the way, e.g. " 30 % (1200 of 4000 bytes)".
std::string TenthLine(int32_t sent, int32_t size);

// A duration as the summary shows it: "12.3 s" up to a minute, "h:mm:ss"
// beyond ("7:30:00").
std::string DurationText(double seconds);

// A line of the closing table: port, modules, failed, last outcome, time.
// 79 characters for a whole shift (9,999 modules, 999 failed, the longest
// outcome, 24 hours, COM256), so that it fits a console of 80 columns.
// Port 0 gives the heading.
std::string SummaryLine(int port, int modules, int failed, const std::string& outcome,
                        double seconds);
