// Recognition of the module's start-up banner "Konfigmode..." in the bytes
// it sends after power-on. Only the count of bytes received and the 13 most
// recent ones are kept, however long the module talks.
#pragma once

#include <cstdint>

enum : int32_t { kBannerLength = 13 };

struct BannerScan {
    uint32_t received;             // bytes so far (stops counting at its limit)
    uint8_t recent[kBannerLength]; // the most recent bytes, oldest first
};

void StartBannerScan(BannerScan* scan);
void AddBannerByte(BannerScan* scan, uint8_t byte);

// True when the most recent bytes are the banner and at least four bytes came
// before it; a banner among the very first bytes does not count.
bool BannerSeen(const BannerScan* scan);
