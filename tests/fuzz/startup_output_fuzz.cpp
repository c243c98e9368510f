// The module's start-up output, byte by byte as the detection takes it (at
// most kDetectionByteLimit bytes): the banner "Konfigmode..." counts only
// with four bytes or more before it, and the report keeps the printable
// bytes before the banner, the first 200 of them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "banner_scan.h"
#include "startup_text.h"

#define CHECK(condition)                                                                           \
    if (!(condition)) {                                                                            \
        fprintf(stderr, "broken: %s\n", #condition);                                               \
        abort();                                                                                   \
    }

enum : size_t { kDetectionBytes = 1000 }; // kDetectionByteLimit of the run

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    BannerScan scan;
    StartBannerScan(&scan);
    StartupText startup;
    StartStartupText(&startup);
    size_t taken = 0;
    bool seen = false;
    for (; taken < size && taken < kDetectionBytes && !seen; ++taken) {
        AddBannerByte(&scan, data[taken]);
        AddStartupByte(&startup, data[taken]);
        seen = BannerSeen(&scan);
    }
    char kept[kStartupTextLimit + 1];
    KeepStartupText(&startup, seen, kept);

    // The same, the plain way: the first end of the banner at the 17th byte
    // or later.
    static const char kBanner[] = "Konfigmode...";
    size_t end = 0;
    for (size_t k = 17; k <= size && k <= kDetectionBytes && end == 0; ++k) {
        if (memcmp(data + k - 13, kBanner, 13) == 0) {
            end = k;
        }
    }
    CHECK(seen == (end != 0));
    CHECK(taken == (seen ? end : (size < kDetectionBytes ? size : kDetectionBytes)));
    CHECK(scan.received == taken);
    std::string printable;
    for (size_t k = 0; k < (seen ? end - 13 : taken); ++k) {
        if (data[k] >= 0x20 && data[k] <= 0x7E) {
            printable += static_cast<char>(data[k]);
        }
    }
    CHECK(kept == printable.substr(0, kStartupTextLimit));
    return 0;
}
