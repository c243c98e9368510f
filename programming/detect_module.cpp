#include "banner_scan.h"
#include "module_procedures.h"
#include "serial_port.h"

// Longest silence allowed before each byte up to the end of the banner.
enum : int32_t { kBannerByteTimeoutMs = 10000 };

int16_t DetectModule(RunContext* run) {
    BannerScan scan;
    StartBannerScan(&scan);
    uint8_t* byte = run->runBuffer;
    if (ReadPort(run->port, 1, 0, kBannerByteTimeoutMs, byte, kRunBufferSize) != 0) {
        return 1;
    }
    AddBannerByte(&scan, byte[0]);
    bool waiting = true;
    for (;;) {
        if (!waiting) {
            return 0;
        }
        if (BannerSeen(&scan)) {
            waiting = false;
        }
        // After the banner one more byte is taken if it is already there.
        int32_t timeoutMs = waiting ? kBannerByteTimeoutMs : 0;
        if (ReadPort(run->port, 1, 0, timeoutMs, byte, kRunBufferSize) != 0) {
            return waiting ? 1 : 0;
        }
        AddBannerByte(&scan, byte[0]);
    }
}
