#include "port_watch.h"

#include "run_context.h"

void StartWatchedPort(WatchedPort* watched, int16_t port, uint64_t nowMs) {
    watched->port = port;
    watched->state = kWatching;
    StartBannerScan(&watched->scan);
    watched->lastByteMs = nowMs;
}

WatchState TakeWatchedBytes(WatchedPort* watched, const uint8_t* bytes, int32_t count,
                            uint64_t nowMs, int32_t* used) {
    *used = 0;
    if (watched->state != kWatching || CheckWatchedSilence(watched, nowMs) != kWatching) {
        return watched->state;
    }
    while (*used < count && watched->state == kWatching) {
        AddBannerByte(&watched->scan, bytes[(*used)++]);
        if (BannerSeen(&watched->scan)) {
            watched->state = kBannerArrived;
        } else if (watched->scan.received >= static_cast<uint32_t>(kDetectionByteLimit)) {
            watched->state = kTalkedTooLong;
        }
    }
    watched->lastByteMs = nowMs;
    return watched->state;
}

WatchState CheckWatchedSilence(WatchedPort* watched, uint64_t nowMs) {
    if (watched->state == kWatching && nowMs - watched->lastByteMs >= kBannerSilenceMs) {
        watched->state = kFellSilent;
    }
    return watched->state;
}

int32_t WatchWaitMs(const WatchedPort* watched, int16_t count, uint64_t startMs, int32_t limitMs,
                    uint64_t nowMs) {
    const uint64_t overallEnd = startMs + static_cast<uint64_t>(limitMs < 0 ? 0 : limitMs);
    uint64_t end = overallEnd;
    for (int16_t k = 0; k < count; ++k) {
        if (watched[k].state == kWatching && watched[k].lastByteMs + kBannerSilenceMs < end) {
            end = watched[k].lastByteMs + kBannerSilenceMs;
        }
    }
    return end > nowMs ? static_cast<int32_t>(end - nowMs) : 0;
}
