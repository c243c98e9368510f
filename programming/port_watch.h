// The detection's rules for one port among several that are watched at
// once: the banner after at least four bytes, at most kBannerSilenceMs of
// silence before each byte up to it, at most kDetectionByteLimit bytes
// without it. Plain data, no device: the run feeds it what arrived and when.
#pragma once

#include <cstdint>

#include "banner_scan.h"

// Longest silence allowed before each byte up to the end of the banner.
enum : int32_t { kBannerSilenceMs = 10000 };

enum WatchState : int16_t {
    kWatching,      // no verdict yet
    kBannerArrived, // the module is on this port
    kFellSilent,    // kBannerSilenceMs without a byte before the banner
    kTalkedTooLong, // kDetectionByteLimit bytes without the banner
};

struct WatchedPort {
    int16_t port;
    WatchState state;
    BannerScan scan;
    uint64_t lastByteMs; // the last byte's arrival, or the watch's start
};

void StartWatchedPort(WatchedPort* watched, int16_t port, uint64_t nowMs);

// Takes count bytes that arrived at nowMs, up to the one that ends the
// banner or reaches the byte limit. The state afterwards; *used tells how
// many bytes were looked at.
WatchState TakeWatchedBytes(WatchedPort* watched, const uint8_t* bytes, int32_t count,
                            uint64_t nowMs, int32_t* used);

// Ends the watch of a port that has been silent too long at nowMs. The
// state afterwards.
WatchState CheckWatchedSilence(WatchedPort* watched, uint64_t nowMs);

// How long the run may wait at nowMs before a port of watched (count
// entries) falls silent or the watch's overall time (from startMs,
// limitMs long) runs out; 0 when that is now. Ports no longer watched do
// not count.
int32_t WatchWaitMs(const WatchedPort* watched, int16_t count, uint64_t startMs, int32_t limitMs,
                    uint64_t nowMs);
