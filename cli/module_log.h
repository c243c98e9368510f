// The record of a production station: one CSV line per module (RFC 4180:
// fields with a comma, a quote or a line break in quotes, quotes doubled;
// lines end in CR LF), a header line when the file is new, appended
// otherwise. A spreadsheet opens it as it is.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct ModuleLogLine {
    std::string timeUtc; // ISO 8601, "2026-12-08T09:15:02Z": when the module's run began
    int port = 0;
    std::string job; // "firmware", "profibus-id" or "read-id"
    std::string scriptName;
    int64_t scriptSize = -1;  // -1: no script (the Profibus-ID jobs)
    std::string scriptSha256; // lower-case hexadecimal
    int oldProfibusId = -1;   // -1: not read
    int newProfibusId = -1;   // -1: none set
    std::string startup;      // the module's start-up output before its banner
    int exitStatus = 0;
    std::string outcome; // the result text, without its blanks around
    std::string detail;
    double seconds = 0;
};

// The log's first line.
extern const char kModuleLogHeader[];

// One field as RFC 4180 wants it.
std::string CsvField(const std::string& text);

// The line of a module, with its CR LF.
std::string CsvLine(const ModuleLogLine& line);

// A moment of the system's clock in UTC as ISO 8601, to the second.
std::string UtcTimeText(const SYSTEMTIME& time);
std::string UtcNowText();

// The SHA-256 of bytes in lower-case hexadecimal; empty when the system
// cannot compute it.
std::string Sha256Text(const uint8_t* bytes, size_t count);

class ModuleLog {
  public:
    ModuleLog() = default;
    ModuleLog(const ModuleLog&) = delete;
    ModuleLog& operator=(const ModuleLog&) = delete;
    ~ModuleLog();

    // Opens (or makes) the file for appending, with the header when it is
    // new or empty. Empty when it could, else the system's reason.
    std::string Open(const std::string& name);
    bool IsOpen() const {
        return file_ != INVALID_HANDLE_VALUE;
    }
    // Appends a line whole. Empty when it did, else the system's reason.
    std::string Append(const ModuleLogLine& line);

  private:
    std::string WriteText(const std::string& text);
    HANDLE file_ = INVALID_HANDLE_VALUE;
};
