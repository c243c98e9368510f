// What the simulated module has seen and done, for tests and people: the
// report of counts and last exchanges, the log of events as they happen, and
// the report as text.
#pragma once

#include <cstdint>

enum : int32_t {
    kFirmwareCapacity = 262144,  // script bytes kept; more are counted and summed only
    kAckRecordCapacity = 2560,   // acknowledgement indices kept
    kRecordCapacity = 512,       // values of a configuration record
    kConfigReplyCapacity = 4100, // bytes of a configuration reply, line end included
    kConfirmationCapacity = 80,
};

struct SimReport {
    int16_t poweredOn;
    int32_t powerOnCount;
    int32_t bannerCount;      // start-up outputs that ended in the banner
    int32_t answer14Count;    // 0x14 received while ready
    int32_t answer10Count;    // 0x10 received while ready
    int32_t ignoredByteCount; // bytes that meant nothing to the ready module

    // The last firmware download (cleared by every 0x10).
    int16_t downloadStarted;
    int32_t firmwareByteCount; // script bytes decoded
    int32_t badCharacterCount; // characters that were not upper-case hexadecimal digits
    int16_t checksumComplete;  // the four checksum digits have come
    char checksumText[5];      // the digits as received
    uint16_t checksumReceived; // their value (0 when they were not hexadecimal)
    uint16_t firmwareSum;      // the module's own 16-bit sum of the script bytes
    int16_t checksumMatched;
    int32_t ackCount;                            // "." acknowledgements sent
    int32_t ackIndices[kAckRecordCapacity];      // script index after which each was sent
    int32_t faultyAckIndex;                      // where the acknowledgement fault struck; -1 none
    uint8_t confirmation[kConfirmationCapacity]; // the confirmation sent
    int32_t confirmationLength;

    // Configuration reads (0x15).
    int32_t configReadCount;
    uint8_t configSent[kConfigReplyCapacity]; // the last reply, line end included
    int32_t configSentLength;

    // The last write-back (cleared by every 0x04).
    int16_t writeBackStarted;
    int16_t writeBackComplete; // checksum line and final line feed have come
    int32_t writeBackCount;    // values received
    uint8_t writeBackValues[kRecordCapacity];
    int32_t writeBackBadCharacterCount;
    char writeBackChecksumText[5];
    uint16_t writeBackChecksumReceived;
    uint16_t writeBackSum;
    int16_t writeBackMatched;
    int16_t writeBackStored;

    // The module's configuration record; value 14 is the station address.
    int32_t recordCount;
    uint8_t record[kRecordCapacity];
    int16_t stationAddress;
};

// The report as text for people.
enum : int32_t { kReportTextCapacity = 8192 };

// Writes the report as lines of text, NUL-terminated, cut to capacity;
// returns the length. Control bytes show as <0D>, long lists are shortened.
int32_t FormatSimReport(const SimReport* report, char* text, int32_t capacity);

// A fixed ring of text lines that tell what the module did; the console
// program prints them. When nobody takes them, the oldest give way.
enum : int32_t { kEventLines = 128, kEventLineLength = 128 };

struct EventLog {
    char lines[kEventLines][kEventLineLength];
    int32_t first; // oldest line not yet taken
    int32_t count;
    int32_t droppedCount;
};

void EmptyEventLog(EventLog* log);

// Appends a printf-style line, cut to kEventLineLength - 1 characters.
void AddEvent(EventLog* log, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Copies the oldest line into line (capacity bytes, NUL-terminated) and
// removes it. False when the log is empty.
bool TakeEvent(EventLog* log, char* line, int32_t capacity);
