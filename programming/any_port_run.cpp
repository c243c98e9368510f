// A run that finds the module itself: it listens on every listed port at
// once and takes the one on which the banner arrives. Nothing is ever
// written to a port that did not send the banner, and the job starts on the
// module's port at once: the other ports are closed alongside it, on a
// thread of their own.
#include <windows.h>

#include <cstdio>

#include "any_port_texts.h"
#include "await_ports.h"
#include "port_records.h"
#include "port_table.h"
#include "port_watch.h"
#include "run_context.h"
#include "serial_port.h"
#include "wait_hook.h"

static_assert(static_cast<int>(kWatchPortLimit) <= static_cast<int>(kAwaitPortsLimit),
              "one wait watches every port of a run");

namespace {

// The ports under watch: open, in direct mode, with the watch's read wait.
// And why each port that left the watch (or never joined it) did so, for
// the detail of a run that found no module.
struct PortWatchTable {
    int16_t ports[kWatchPortLimit];
    WatchedPort watched[kWatchPortLimit];
    int16_t count;
    int16_t first; // where the next wait starts looking
    int16_t leftPorts[kWatchPortLimit];
    PortLeft leftWhy[kWatchPortLimit];
    int16_t leftCount;
    bool anyTalked; // some port sent bytes
};

void NoteLeft(PortWatchTable* table, int16_t port, PortLeft why) {
    if (table->leftCount < kWatchPortLimit) {
        table->leftPorts[table->leftCount] = port;
        table->leftWhy[table->leftCount] = why;
        ++table->leftCount;
    }
}

// Why a port could not be opened, from OpenPort's answer and the system's
// error.
PortLeft OpeningFailure(int16_t opened, int16_t port) {
    if (opened == kPortInUse) {
        return {kLeftOpenHere, 0};
    }
    return {kLeftNotOpened, PortOpenError(port)};
}

// Opens every listed port that can be opened now. A port this process
// holds already is passed over, and so is one that fails to open, and one
// of a Bluetooth link: opening it would call its partner by radio, which
// can hold the run for seconds.
void OpenListedPorts(const RunChoices* choices, PortWatchTable* table) {
    table->count = 0;
    table->first = 0;
    table->leftCount = 0;
    table->anyTalked = false;
    int16_t listed = choices->watchCount;
    if (listed > kWatchPortLimit) {
        listed = kWatchPortLimit;
    }
    int16_t wanted[kWatchPortLimit];
    int16_t wantedCount = 0;
    for (int16_t i = 0; i < listed; ++i) {
        if (IsPortNumber(choices->watchPorts[i])) {
            wanted[wantedCount++] = choices->watchPorts[i];
        }
    }
    int16_t kept[kWatchPortLimit];
    for (int16_t i = 0; i < wantedCount; ++i) {
        kept[i] = wanted[i];
    }
    const int16_t keptCount = PassOverBluetoothPorts(kept, wantedCount);
    for (int16_t i = 0, k = 0; i < wantedCount; ++i) {
        if (k < keptCount && kept[k] == wanted[i]) {
            ++k;
        } else {
            NoteLeft(table, wanted[i], {kLeftBluetooth, 0});
        }
    }
    for (int16_t i = 0; i < keptCount; ++i) {
        const int16_t port = kept[i];
        PortConfig config = ModuleLineConfig(port, nullptr); // direct mode
        const int16_t opened = OpenPort(&config);
        if (opened == kPortInUse) {
            NoteLeft(table, port, OpeningFailure(opened, port));
            continue;
        }
        if (opened != 0 || SetWatchReadWait(port, true) != 0) {
            NoteLeft(table, port, OpeningFailure(opened, port));
            ClosePort(port); // releases what a failed opening left
            continue;
        }
        table->ports[table->count++] = port;
    }
}

// Takes the k-th port out of the table; the last one takes its place. The
// port stays open.
void TakeOutOfWatch(PortWatchTable* table, int16_t k) {
    --table->count;
    table->ports[k] = table->ports[table->count];
    table->watched[k] = table->watched[table->count];
    if (table->first >= table->count) {
        table->first = 0;
    }
}

// Closes the k-th port of the table, which has left the watch for why.
void DropWatchedPort(PortWatchTable* table, int16_t k, PortLeft why) {
    NoteLeft(table, table->ports[k], why);
    ClosePort(table->ports[k]);
    TakeOutOfWatch(table, k);
}

void CloseWatchedPorts(PortWatchTable* table, PortLeft why) {
    for (int16_t k = 0; k < table->count; ++k) {
        NoteLeft(table, table->ports[k], why);
    }
    for (int16_t k = table->count - 1; k >= 0; --k) {
        ClosePort(table->ports[k]);
    }
    table->count = 0;
    table->first = 0;
}

// How the watch of the ports ended.
enum WatchEnd : int16_t { kWatchOver, kWatchInterrupted };

// Drops whatever arrives on the ports within milliseconds: what the
// devices sent before the request.
WatchEnd DropEarlyInput(PortWatchTable* table, int32_t milliseconds, uint8_t* scratch) {
    const ULONGLONG startMs = GetTickCount64();
    for (;;) {
        const ULONGLONG elapsedMs = GetTickCount64() - startMs;
        if (elapsedMs >= static_cast<ULONGLONG>(milliseconds)) {
            return kWatchOver;
        }
        int32_t got = 0;
        if (AwaitPortBytes(table->ports, table->count,
                           milliseconds - static_cast<int32_t>(elapsedMs), scratch, kReadChunk,
                           &got, &table->first) == kAwaitInterrupted) {
            return kWatchInterrupted;
        }
    }
}

// The state of a watched port as the reason it left the watch.
PortLeft LeftFor(WatchState state) {
    if (state == kTalkedTooLong) {
        return {kLeftTalkedTooLong, static_cast<uint32_t>(kDetectionByteLimit)};
    }
    return {kLeftFellSilent, static_cast<uint32_t>(kBannerSilenceMs / 1000)};
}

// Watches the ports for the banner under the detection's rules. The index
// of the port it arrived on, with *rest the bytes after it in the same
// read; -1 when no port sent it, and kAwaitInterrupted when the run was
// cut short (every port is closed then).
int16_t WatchForBanner(PortWatchTable* table, uint8_t* bytes, int32_t* rest) {
    const ULONGLONG startMs = GetTickCount64();
    for (int16_t k = 0; k < table->count; ++k) {
        StartWatchedPort(&table->watched[k], table->ports[k], startMs);
    }
    for (;;) {
        const ULONGLONG nowMs = GetTickCount64();
        for (int16_t k = table->count - 1; k >= 0; --k) {
            const WatchState state = CheckWatchedSilence(&table->watched[k], nowMs);
            if (state != kWatching) {
                DropWatchedPort(table, k, LeftFor(state));
            }
        }
        if (table->count == 0) {
            return -1;
        }
        if (nowMs - startMs >= static_cast<ULONGLONG>(detectionLimitMs)) {
            CloseWatchedPorts(
                table, {kLeftNoBannerInTime, static_cast<uint32_t>(detectionLimitMs / 1000)});
            return -1;
        }
        const int32_t waitMs =
            WatchWaitMs(table->watched, table->count, startMs, detectionLimitMs, nowMs);
        int32_t got = 0;
        const int16_t k = AwaitPortBytes(table->ports, table->count, waitMs, bytes, kReadChunk,
                                         &got, &table->first);
        if (k == kAwaitInterrupted) {
            CloseWatchedPorts(table, {kLeftInterrupted, 0});
            return kAwaitInterrupted;
        }
        if (k < 0) {
            continue;
        }
        table->anyTalked = true;
        int32_t used = 0;
        const WatchState state =
            TakeWatchedBytes(&table->watched[k], bytes, got, GetTickCount64(), &used);
        if (state == kBannerArrived) {
            *rest = got - used;
            return k;
        }
        if (state != kWatching) {
            DropWatchedPort(table, k, LeftFor(state));
        }
    }
}

// The ports that were watched beside the module's, closed on a thread of
// their own while the job runs: closing a port takes some 20 to 60 ms, and
// a module in programming mode waits for no one.
struct PortCloser {
    int16_t ports[kWatchPortLimit];
    int16_t count;
    HANDLE thread;
};
PortCloser closer;

DWORD WINAPI ClosePortsAlongside(LPVOID) {
    for (int16_t k = 0; k < closer.count; ++k) {
        ClosePort(closer.ports[k]);
    }
    return 0;
}

// Hands every port of the table but the k-th to the closer; nothing reads
// or writes them any more. Without a thread they are closed here.
void CloseOthersAlongside(PortWatchTable* table, int16_t k) {
    closer.count = 0;
    for (int16_t i = 0; i < table->count; ++i) {
        if (i != k) {
            closer.ports[closer.count++] = table->ports[i];
        }
    }
    closer.thread = CreateThread(nullptr, 0, ClosePortsAlongside, nullptr, 0, nullptr);
    if (closer.thread == nullptr) {
        ClosePortsAlongside(nullptr);
    }
}

// Closing one port is over within a few seconds, whatever its device does.
enum : DWORD { kClosingLimitPerPortMs = 4000 };

} // namespace

void FinishPortWatch() {
    if (closer.thread == nullptr) {
        return;
    }
    AwaitObject(closer.thread, kClosingLimitPerPortMs * (closer.count + 1));
    CloseHandle(closer.thread);
    closer.thread = nullptr;
}

RunOutcome FindModuleOnAnyPort(RunContext* run, bool* portOwned) {
    *portOwned = false;
    static PortWatchTable table; // the run's one watch; some 3 KB
    OpenListedPorts(&run->choices, &table);
    if (table.count == 0) {
        DescribePortsLeft(table.leftPorts, table.leftWhy, table.leftCount, "no port opened",
                          run->report.detail, kDetailRoom);
        return kPortNotOpened;
    }
    static uint8_t bytes[kReadChunk];
    if (DropEarlyInput(&table, 100, bytes) == kWatchInterrupted) {
        CloseWatchedPorts(&table, {kLeftInterrupted, 0});
        return kRunInterrupted;
    }
    if (run->face->requestPowerCycle(run->face->context, kAnyPort,
                                     "Please switch the Korvan module OFF and then ON") != 0) {
        CloseWatchedPorts(&table, {kLeftInterrupted, 0});
        return AnyPortInterrupted(&run->choices) ? kRunInterrupted : kNoKorvanModule;
    }
    ShowStatus(run, "Wait for detection of Korvan");
    int32_t rest = 0;
    const int16_t k = WatchForBanner(&table, bytes, &rest);
    run->report.moduleStarted = table.anyTalked ? 1 : 0;
    if (k == kAwaitInterrupted) {
        return kRunInterrupted;
    }
    if (k < 0) {
        DescribePortsLeft(table.leftPorts, table.leftWhy, table.leftCount, "no banner",
                          run->report.detail, kDetailRoom);
        return kNoKorvanModule;
    }
    const int16_t port = table.ports[k];
    CloseOthersAlongside(&table, k);
    run->choices.port = port;
    *portOwned = true;
    SetWatchReadWait(port, false);
    // After the banner one more byte is taken if it is already there: in
    // the read that brought the banner, or waiting in the device.
    if (rest == 0) {
        ReadPort(port, 1, 0, 0, run->runBuffer, kRunBufferSize);
    }
    if (run->choices.traceFileName[0] != 0) {
        OpenTrace(port, run->choices.traceFileName);
    }
    char text[40];
    snprintf(text, sizeof text, "Korvan found on COM%d", port);
    ShowStatus(run, text);
    if (run->face->portFound != nullptr) {
        run->face->portFound(run->face->context, port);
    }
    return kRunSucceeded;
}

bool AnyPortInterrupted(const RunChoices* choices) {
    for (int16_t i = 0; i < choices->watchCount && i < kWatchPortLimit; ++i) {
        if (PortInterrupted(choices->watchPorts[i])) {
            return true;
        }
    }
    return false;
}
