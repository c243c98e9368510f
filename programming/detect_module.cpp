#include <windows.h>

#include "banner_scan.h"
#include "module_procedures.h"
#include "serial_port.h"

// Longest silence allowed before each byte up to the end of the banner.
enum : int32_t { kBannerByteTimeoutMs = 10000 };

int32_t detectionLimitMs = kDetectionLimitMs;

// What is left of the detection's overall time, at least 1 ms; 0 when it is
// over.
static int32_t RemainingMs(ULONGLONG startMs) {
    const ULONGLONG elapsed = GetTickCount64() - startMs;
    if (elapsed >= static_cast<ULONGLONG>(detectionLimitMs)) {
        return 0;
    }
    return static_cast<int32_t>(detectionLimitMs - elapsed);
}

int16_t DetectModule(RunContext* run) {
    const ULONGLONG startMs = GetTickCount64();
    BannerScan scan;
    StartBannerScan(&scan);
    uint8_t* byte = run->runBuffer;
    bool waiting = true;
    for (;;) {
        // A device that talks on without ever sending the banner (a GPS, a
        // PLC, another module's console) is given up after a run buffer full
        // of bytes, or once the detection's overall time has run out.
        const int32_t remainingMs = RemainingMs(startMs);
        if (waiting && (scan.received >= kDetectionByteLimit || remainingMs == 0)) {
            return 1;
        }
        // After the banner one more byte is taken if it is already there.
        int32_t timeoutMs = 0;
        if (waiting) {
            timeoutMs = remainingMs < kBannerByteTimeoutMs ? remainingMs : kBannerByteTimeoutMs;
        }
        if (ReadPort(run->port, 1, 0, timeoutMs, byte, kRunBufferSize) != 0) {
            return waiting ? 1 : 0;
        }
        if (!waiting) {
            return 0;
        }
        AddBannerByte(&scan, byte[0]);
        if (BannerSeen(&scan)) {
            waiting = false;
        }
    }
}
