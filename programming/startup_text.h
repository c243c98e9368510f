// The module's start-up output as a run's report keeps it: the printable
// bytes (blank to tilde) it sends before its banner, the first 200 of them.
// The banner is printable too and comes last: it is cut off again once seen.
#pragma once

#include <cstdint>

#include "banner_scan.h"

enum : int32_t { kStartupTextLimit = 200 }; // characters kept

struct StartupText {
    char text[kStartupTextLimit + kBannerLength + 1];
    int32_t seen; // printable bytes so far
};

void StartStartupText(StartupText* startup);
void AddStartupByte(StartupText* startup, uint8_t byte);

// The text kept, into kept (kStartupTextLimit + 1 bytes, terminated): the
// printable bytes before the banner when bannerSeen, else all of them, at
// most kStartupTextLimit.
void KeepStartupText(const StartupText* startup, bool bannerSeen, char* kept);
