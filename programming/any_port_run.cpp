// A run that finds the module itself: it listens on every listed port at
// once and takes the one on which the banner arrives. Nothing is ever
// written to a port that did not send the banner.
#include <windows.h>

#include <cstdio>

#include "await_ports.h"
#include "port_table.h"
#include "port_watch.h"
#include "run_context.h"
#include "serial_port.h"

namespace {

// The ports under watch: open, in direct mode, with the watch's read wait.
struct PortWatchTable {
    int16_t ports[kWatchPortLimit];
    WatchedPort watched[kWatchPortLimit];
    int16_t count;
    int16_t first; // where the next wait starts looking
};

// Opens every listed port that can be opened now. A port this process
// holds already is passed over, and so is one that fails to open.
void OpenListedPorts(const RunChoices* choices, PortWatchTable* table) {
    table->count = 0;
    table->first = 0;
    int16_t listed = choices->watchCount;
    if (listed > kWatchPortLimit) {
        listed = kWatchPortLimit;
    }
    for (int16_t i = 0; i < listed; ++i) {
        const int16_t port = choices->watchPorts[i];
        if (!IsPortNumber(port)) {
            continue;
        }
        PortConfig config = ModuleLineConfig(port, nullptr); // direct mode
        const int16_t opened = OpenPort(&config);
        if (opened == kPortInUse) {
            continue;
        }
        if (opened != 0 || SetWatchReadWait(port, true) != 0) {
            ClosePort(port); // releases what a failed opening left
            continue;
        }
        table->ports[table->count++] = port;
    }
}

// Closes the k-th port of the table; the last one takes its place.
void DropWatchedPort(PortWatchTable* table, int16_t k) {
    ClosePort(table->ports[k]);
    --table->count;
    table->ports[k] = table->ports[table->count];
    table->watched[k] = table->watched[table->count];
    if (table->first >= table->count) {
        table->first = 0;
    }
}

void CloseWatchedPorts(PortWatchTable* table, int16_t keep) {
    for (int16_t k = table->count - 1; k >= 0; --k) {
        if (table->ports[k] != keep) {
            DropWatchedPort(table, k);
        }
    }
}

// Drops whatever arrives on the ports within milliseconds: what the
// devices sent before the request.
void DropEarlyInput(PortWatchTable* table, int32_t milliseconds, uint8_t* scratch) {
    const ULONGLONG startMs = GetTickCount64();
    for (;;) {
        const ULONGLONG elapsedMs = GetTickCount64() - startMs;
        if (elapsedMs >= static_cast<ULONGLONG>(milliseconds)) {
            return;
        }
        int32_t got = 0;
        AwaitPortBytes(table->ports, table->count, milliseconds - static_cast<int32_t>(elapsedMs),
                       scratch, kReadChunk, &got, &table->first);
    }
}

// Watches the ports for the banner under the detection's rules. The index
// of the port it arrived on, with *rest the bytes after it in the same
// read; -1 when no port sent it (every port is closed then).
int16_t WatchForBanner(PortWatchTable* table, uint8_t* bytes, int32_t* rest) {
    const ULONGLONG startMs = GetTickCount64();
    for (int16_t k = 0; k < table->count; ++k) {
        StartWatchedPort(&table->watched[k], table->ports[k], startMs);
    }
    for (;;) {
        const ULONGLONG nowMs = GetTickCount64();
        for (int16_t k = table->count - 1; k >= 0; --k) {
            if (CheckWatchedSilence(&table->watched[k], nowMs) != kWatching) {
                DropWatchedPort(table, k);
            }
        }
        if (table->count == 0 || nowMs - startMs >= static_cast<ULONGLONG>(detectionLimitMs)) {
            CloseWatchedPorts(table, 0);
            return -1;
        }
        const int32_t waitMs =
            WatchWaitMs(table->watched, table->count, startMs, detectionLimitMs, nowMs);
        int32_t got = 0;
        const int16_t k = AwaitPortBytes(table->ports, table->count, waitMs, bytes, kReadChunk,
                                         &got, &table->first);
        if (k < 0) {
            continue;
        }
        int32_t used = 0;
        const WatchState state =
            TakeWatchedBytes(&table->watched[k], bytes, got, GetTickCount64(), &used);
        if (state == kBannerArrived) {
            *rest = got - used;
            return k;
        }
        if (state != kWatching) {
            DropWatchedPort(table, k);
        }
    }
}

} // namespace

RunOutcome FindModuleOnAnyPort(RunContext* run, bool* portOwned) {
    *portOwned = false;
    static PortWatchTable table; // the run's one watch; some 3 KB
    OpenListedPorts(&run->choices, &table);
    if (table.count == 0) {
        return kPortNotOpened;
    }
    static uint8_t bytes[kReadChunk];
    DropEarlyInput(&table, 100, bytes);
    if (run->face->requestPowerCycle(run->face->context, kAnyPort,
                                     "Please switch the Korvan module OFF and then ON") != 0) {
        CloseWatchedPorts(&table, 0);
        return kNoKorvanModule;
    }
    ShowStatus(run, "Wait for detection of Korvan");
    int32_t rest = 0;
    const int16_t k = WatchForBanner(&table, bytes, &rest);
    if (k < 0) {
        return kNoKorvanModule;
    }
    const int16_t port = table.ports[k];
    run->choices.port = port;
    *portOwned = true;
    char text[40];
    snprintf(text, sizeof text, "Korvan found on COM%d", port);
    ShowStatus(run, text);
    if (run->face->portFound != nullptr) {
        run->face->portFound(run->face->context, port);
    }
    CloseWatchedPorts(&table, port);
    SetWatchReadWait(port, false);
    // After the banner one more byte is taken if it is already there: in
    // the read that brought the banner, or waiting in the device.
    if (rest == 0) {
        ReadPort(port, 1, 0, 0, run->runBuffer, kRunBufferSize);
    }
    if (run->choices.traceFileName[0] != 0) {
        OpenTrace(port, run->choices.traceFileName);
    }
    return kRunSucceeded;
}
