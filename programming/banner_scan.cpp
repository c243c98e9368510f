#include "banner_scan.h"

#include <cstring>

static const uint8_t kBanner[kBannerLength] = {'K', 'o', 'n', 'f', 'i', 'g', 'm',
                                               'o', 'd', 'e', '.', '.', '.'};

// The banner counts from the 17th byte on: four bytes at least before it.
enum : uint32_t { kFirstBannerEnd = 17 };

void StartBannerScan(BannerScan* scan) {
    scan->received = 0;
    memset(scan->recent, 0, sizeof scan->recent);
}

void AddBannerByte(BannerScan* scan, uint8_t byte) {
    memmove(scan->recent, scan->recent + 1, kBannerLength - 1);
    scan->recent[kBannerLength - 1] = byte;
    if (scan->received < UINT32_MAX) {
        ++scan->received;
    }
}

bool BannerSeen(const BannerScan* scan) {
    return scan->received >= kFirstBannerEnd && memcmp(scan->recent, kBanner, kBannerLength) == 0;
}
