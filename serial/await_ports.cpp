#include "await_ports.h"

#include <windows.h>

#include <cstring>

#include "device_calls.h"
#include "device_io.h"
#include "port_table.h"
#include "wait_hook.h"

// Longest wait between two looks at the ports' interruption.
enum : DWORD { kInterruptLookMs = 50 };

// True when a stop has been asked for on one of the ports.
static bool AnyInterrupted(const int16_t* ports, int16_t count) {
    for (int16_t k = 0; k < count; ++k) {
        if (PortInterrupted(ports[k])) {
            return true;
        }
    }
    return false;
}

int16_t SetWatchReadWait(int16_t portNumber, bool watching) {
    PortSlot* slot = OpenSlot(portNumber);
    if (slot == nullptr || !slot->directMode) {
        return 1;
    }
    COMMTIMEOUTS timeouts;
    ZeroMemory(&timeouts, sizeof timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant =
        static_cast<DWORD>(watching ? int32_t{kWatchReadWaitMs} : int32_t{kReadWaitMs});
    return deviceCalls.setCommTimeouts(slot->portHandle, &timeouts) ? 0 : 1;
}

// Starts a read of one byte on the slot unless one is under way: a read of
// more would wait, on some drivers, until all of them have come. False when
// the device refused it (its error state is then cleared).
static bool KeepReadUnderWay(PortSlot* slot) {
    if (slot->readPending != 0) {
        return true;
    }
    ZeroMemory(&slot->read->record, sizeof slot->read->record);
    slot->read->record.hEvent = slot->read->event;
    if (!deviceCalls.readFile(slot->portHandle, slot->read->bytes, 1, nullptr,
                              &slot->read->record) &&
        GetLastError() != ERROR_IO_PENDING) {
        DWORD errors = 0;
        deviceCalls.clearCommError(slot->portHandle, &errors, nullptr);
        return false;
    }
    // Ended at once or not, the event tells; the wait below collects it.
    slot->readPending = 1;
    return true;
}

int16_t AwaitPortBytes(const int16_t* ports, int16_t count, int32_t timeoutMs, uint8_t* bytes,
                       int32_t capacity, int32_t* got, int16_t* first) {
    *got = 0;
    if (count > kAwaitPortsLimit) {
        count = kAwaitPortsLimit;
    }
    const ULONGLONG startMs = GetTickCount64();
    const ULONGLONG limitMs = static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (AnyInterrupted(ports, count)) {
            return kAwaitInterrupted;
        }
        HANDLE events[kAwaitPortsLimit];
        int16_t indexOf[kAwaitPortsLimit];
        DWORD watched = 0;
        bool refused = false;
        for (int16_t n = 0; n < count; ++n) {
            const int16_t k = static_cast<int16_t>((*first + n) % count);
            PortSlot* slot = OpenSlot(ports[k]);
            if (slot == nullptr || !slot->directMode ||
                !DeviceReleased(slot->read->event, &slot->read->stuck)) {
                continue;
            }
            if (!KeepReadUnderWay(slot)) {
                refused = true;
                continue;
            }
            events[watched] = slot->read->event;
            indexOf[watched] = k;
            ++watched;
        }
        const ULONGLONG elapsedMs = GetTickCount64() - startMs;
        if (elapsedMs >= limitMs && watched == 0) {
            return -1;
        }
        DWORD waitMs = elapsedMs >= limitMs ? 0 : static_cast<DWORD>(limitMs - elapsedMs);
        if (refused && waitMs > static_cast<DWORD>(kReadWaitMs)) {
            waitMs = kReadWaitMs; // a refusing device is tried again after a read wait
        }
        if (waitMs > kInterruptLookMs) {
            waitMs = kInterruptLookMs;
        }
        if (watched == 0) {
            PauseMs(waitMs);
            continue;
        }
        const DWORD woken = AwaitObjects(watched, events, waitMs);
        if (woken >= WAIT_OBJECT_0 + watched) {
            if (GetTickCount64() - startMs >= limitMs) {
                return -1;
            }
            continue;
        }
        const int16_t k = indexOf[woken - WAIT_OBJECT_0];
        PortSlot* slot = OpenSlot(ports[k]);
        slot->readPending = 0;
        *first = static_cast<int16_t>((k + 1) % count);
        DWORD received = 0;
        if (!deviceCalls.getOverlappedResult(slot->portHandle, &slot->read->record, &received,
                                             FALSE)) {
            DWORD errors = 0;
            deviceCalls.clearCommError(slot->portHandle, &errors, nullptr);
            continue;
        }
        if (received == 0) {
            continue; // the device's own wait ended; the next round reads again
        }
        const int32_t taken =
            static_cast<int32_t>(received) < capacity ? static_cast<int32_t>(received) : capacity;
        memcpy(bytes, slot->read->bytes, static_cast<size_t>(taken));
        *got = taken;
        return k;
    }
}
