#include "monitor_thread.h"

#include "device_calls.h"
#include "port_table.h"

void StartCarrierDebounce(CarrierDebounce* state, bool carrierOn) {
    state->lastOn = carrierOn;
    state->pending = false;
}

bool SampleCarrier(CarrierDebounce* state, bool carrierOn) {
    bool previousOn = state->lastOn;
    state->lastOn = carrierOn;
    if (!carrierOn && previousOn && !state->pending) {
        state->pending = true;
        return false;
    }
    bool lost = state->pending && !carrierOn;
    state->pending = false;
    return lost;
}

double TickSeconds(uint32_t tickCount) {
    return tickCount * 50.0 * 0.001;
}

static bool CarrierIsOn(HANDLE device) {
    DWORD status = 0;
    deviceCalls.getCommModemStatus(device, &status); // a failed read counts as carrier off
    return (status & MS_RLSD_ON) != 0;
}

DWORD WINAPI MonitorThread(LPVOID argument) {
    int16_t portNumber = static_cast<int16_t>(reinterpret_cast<intptr_t>(argument));
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    PortSlot* slot = &PortTable[portNumber];

    CarrierDebounce carrier;
    StartCarrierDebounce(&carrier, CarrierIsOn(slot->portHandle));
    slot->monitorRunning = 1;
    slot->tickCount = 0;
    slot->handshakeFlag = 1;

    // Each tick is due 50 ms after the one before, counted from the start:
    // a pass that took long (a device slow to answer for its modem lines)
    // shortens the next pause, so the clock never falls behind.
    const ULONGLONG startMs = GetTickCount64();
    do {
        // The carrier line is read only for an owner who wants to hear of
        // its loss: a port watched among many costs a tick, not a device call.
        if (slot->lineLostCallback != nullptr &&
            SampleCarrier(&carrier, CarrierIsOn(slot->portHandle))) {
            slot->lineLostCallback(slot->callbackTag);
        }
        uint32_t ticks = slot->tickCount + 1;
        slot->tickCount = ticks;
        if (slot->tickCallback != nullptr) {
            slot->tickCallback(slot->callbackTag, TickSeconds(ticks));
        }
        const ULONGLONG dueMs = startMs + 50ull * ticks;
        const ULONGLONG nowMs = GetTickCount64();
        Sleep(dueMs > nowMs ? static_cast<DWORD>(dueMs - nowMs) : 0);
    } while (slot->monitorRunning == 1);

    slot->handshakeFlag = 0;
    return 0;
}
