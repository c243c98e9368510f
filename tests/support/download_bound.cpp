#include "support/download_bound.h"

double DownloadLowerBoundMs(size_t size, int32_t baud, int32_t startupBytes) {
    const int32_t acks = size > 95 ? static_cast<int32_t>((size - 96) / 128 + 1) : 0;
    const double wireBytes = startupBytes        // start-up output and banner
                             + 1 + 2             // 0x14, "OK"
                             + 1 + 1             // 0x10, "."
                             + 2.0 * size + acks // pairs and acknowledgements
                             + 5                 // checksum line
                             + 1 + 12 + 1;       // leading byte, "Download ok.", LF
    const double fixedMs = 100                   // silence before the prompt
                           + 200                 // silence after the banner
                           + 500                 // silence after "OK"
                           + 200                 // pause before the checksum line
                           + 500;                // silence after the confirmation
    return wireBytes * 10 * 1000.0 / baud + fixedMs;
}
