// What the simulated module does: its faults, its pacing and its files.
#pragma once

#include <cstdint>

// Answer to a handshake byte (0x14 or 0x10).
enum SimAnswerFault : int16_t {
    kAnswerNormal = 0, // "OK" to 0x14, "." to 0x10
    kAnswerNone = 1,   // silence
    kAnswerWrong = 2,  // the option's wrong answer text
};

// What the module sends when it is powered on.
enum SimStartupFault : int16_t {
    kStartupNormal = 0,      // a version line, then the banner
    kStartupBannerOnly = 1,  // the banner with no bytes before it
    kStartupWrongLetter = 2, // the version line, then "konfigmode..."
    kStartupEndless = 3,     // start-up lines without end and without banner
};

// The acknowledgement of one chosen block of the firmware download.
enum SimAckFault : int16_t {
    kAckNormal = 0,
    kAckMissing = 1, // nothing is sent
    kAckWrong = 2,   // wrongAck instead of "."
    kAckLate = 3,    // "." after ackDelayMs
};

// The confirmation line after a matching firmware checksum.
enum SimConfirmFault : int16_t {
    kConfirmNormal = 0,        // CR "Download ok." LF
    kConfirmNoLeadingByte = 1, // "Download ok." LF
    kConfirmCrLf = 2,          // CR "Download ok." CR LF
    kConfirmOtherText = 3,     // CR otherConfirmText LF
    kConfirmMissing = 4,       // nothing
};

// How many simulators one process runs at once, each with options of its own.
enum : int16_t { kSimulatorSlots = 8 };

enum : int32_t {
    kSimPathCapacity = 260,
    kSimConfigTextLimit = 4000, // longest configuration reply, in characters
    kSimStartupTextCapacity = 128,
};

struct SimOptions {
    int32_t pacingBaud;     // 0: answer at once; else bytes take their wire time at this rate
    int32_t powerOnDelayMs; // from the power-on to the first start-up byte

    int16_t startupFault;  // SimStartupFault
    int16_t bannerLineEnd; // 1: CR LF after the banner
    int16_t powerGlitch;   // 1: the line glitches at power-on: 0x00 0xFF 0xF8 come first
    // The line before the banner; empty: the version, "Korvan V2.07".
    char startupText[kSimStartupTextCapacity];

    int16_t answer14;      // SimAnswerFault
    char wrongAnswer14[8]; // sent instead of "OK"
    int16_t answer10;      // SimAnswerFault
    char wrongAnswer10[8]; // sent instead of "."

    int16_t ackFault; // SimAckFault
    int32_t
        ackFaultBlock;  // the acknowledgement it applies to: 0 after script byte 95, 1 after 223...
    int32_t ackDelayMs; // kAckLate
    uint8_t wrongAck;   // kAckWrong

    int16_t confirmFault; // SimConfirmFault
    char otherConfirmText[64];
    int32_t confirmDelayMs; // from the last checksum digit to the confirmation

    int16_t checksumCheckFails; // 1: every checksum counts as wrong (firmware and write-back)

    // Configuration reply: the record as hexadecimal text, then changed as follows.
    int32_t configLength;    // > 0: cut to, or padded with "0" to, this many characters
    int16_t configLowerCase; // 1: lower-case digits
    int32_t configNonHexAt;  // >= 0: the character at this position becomes "Z"
    int32_t configZeroAt;    // >= 0: a zero byte is inserted at this position
    int16_t configSilent;    // 1: no reply to 0x15 at all
    int16_t configLineFeed;  // 1: a line feed after the carriage return

    int16_t initialStationAddress;    // >= 0: replaces value 14 of the record at start
    char stateFile[kSimPathCapacity]; // keeps the record across runs; empty: none
    char traceFile[kSimPathCapacity]; // serial trace of the port; empty: none
};

// A module without faults: receive thread, unpaced, default record.
void SetDefaultSimOptions(SimOptions* options);
