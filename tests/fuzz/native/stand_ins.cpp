// For the native build of the fuzz targets only: what the server's answers
// read from the platform (the page's resources, the log file, the clock, the
// token file, the PC's name) stands in here, with fixed answers.
#include <string>

#include "log_download.h"
#include "log_stamps.h"
#include "mqtt_option.h"
#include "serve_option.h"
#include "served_files.h"

bool PageFile(Route route, std::string* body, std::string* contentType) {
    if (route != kPageRoute && route != kStyleRoute && route != kScriptRoute) {
        return false;
    }
    *body = "<!doctype html><title>station</title>";
    *contentType = route == kPageRoute ? "text/html; charset=utf-8" : "text/plain; charset=utf-8";
    return true;
}

LogFileReader::~LogFileReader() = default;

std::string LogFileReader::Open(const std::string& name) {
    return "the log \"" + name + "\" cannot be read (no files in the native build)";
}

std::string StationName(const StationState& state) {
    return state.Job().station.empty() ? "STATION-PC" : state.Job().station;
}

std::string UtcNowText() {
    return "2026-12-08T12:00:00Z";
}

std::string Sha256Text(const uint8_t*, size_t) {
    return "";
}

std::string ReadTokenFile(const std::string& name, std::string*) {
    return "the token file \"" + name + "\" cannot be read (no files in the native build)";
}
