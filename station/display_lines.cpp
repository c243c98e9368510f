#include "display_lines.h"

#include <cstdio>

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

std::string TenthLine(int32_t sent, int32_t size) {
    const int tenth = size > 0 ? static_cast<int>(static_cast<int64_t>(sent) * 10 / size) : 10;
    char line[80];
    snprintf(line, sizeof line, "%3d %% (%ld of %ld bytes)", tenth * 10, static_cast<long>(sent),
             static_cast<long>(size));
    return line;
}

std::string DurationText(double seconds) {
    char text[40];
    if (seconds < 59.95) {
        snprintf(text, sizeof text, "%.1f s", seconds < 0 ? 0.0 : seconds);
        return text;
    }
    const long long whole = static_cast<long long>(seconds + 0.5);
    snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

std::string SummaryLine(int port, int modules, int failed, const std::string& outcome,
                        double seconds) {
    char line[256];
    if (port == 0) { // the heading
        snprintf(line, sizeof line, "%-6s %7s %6s %-48s %8s", "port", "modules", "failed",
                 "outcome", "time");
    } else {
        const std::string name = "COM" + std::to_string(port);
        snprintf(line, sizeof line, "%-6s %7d %6d %-48.48s %8s", name.c_str(), modules, failed,
                 outcome.c_str(), DurationText(seconds).c_str());
    }
    return line;
}
