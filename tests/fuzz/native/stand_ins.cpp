// For the native build of the fuzz targets only: what the server's answers
// read from the platform (the page's resources, the log file, the clock, the
// token file) stands in here, with fixed answers.
#include <string>

#include "log_stamps.h"
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

std::string ReadGrowingFile(const std::string& name, std::string* text) {
    *text = std::string("\xEF\xBB\xBF") + "time_utc,port\r\n";
    return name.empty() ? "no name" : "";
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
