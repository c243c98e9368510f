// Why the ports of a run on any port did not bring the module, in words for
// the run's detail: "no port opened: COM1 in use by another program; COM5,
// COM6, COM7 not on this PC". Plain data in, text out.
#pragma once

#include <cstdint>

enum PortLeftKind : int16_t {
    kLeftNotOpened,      // value: the system's error of the opening (0: opened, not set up)
    kLeftOpenHere,       // open in this program already
    kLeftBluetooth,      // a Bluetooth link, not opened
    kLeftFellSilent,     // value: the seconds of silence before the banner
    kLeftTalkedTooLong,  // value: the bytes received without the banner
    kLeftNoBannerInTime, // value: the seconds of the whole detection
    kLeftInterrupted,    // the run was cut short
};

struct PortLeft {
    PortLeftKind kind;
    uint32_t value;
};

// The reason of one port, e.g. "not on this PC"; text holds room bytes.
void PortLeftText(PortLeft why, char* text, int32_t room);

// "head: " and the count ports with their reasons, the ports of one reason
// together in the order they came, reasons apart by "; ". A text that does
// not fit room (terminator included) ends in "...".
void DescribePortsLeft(const int16_t* ports, const PortLeft* why, int16_t count, const char* head,
                       char* text, int32_t room);
