// The line-status monitor thread of an open port: the 50 ms tick clock of
// direct-mode reads, and the watch on the carrier-detect line.
#pragma once

#include <windows.h>

#include <cstdint>

// Thread procedure; the argument is the port number.
DWORD WINAPI MonitorThread(LPVOID argument);

// ---- The carrier-detect line ----

// Debounce of the line over two samples about one tick apart.
struct CarrierDebounce {
    bool lastOn;  // carrier state of the last sample
    bool pending; // a drop was seen and waits for its confirming sample
};

// Starts the debounce from the first sample; nothing is pending.
void StartCarrierDebounce(CarrierDebounce* state, bool carrierOn);

// Takes the next sample. True exactly when a drop from on to off has lasted
// two consecutive samples: the line is lost and is reported once.
bool SampleCarrier(CarrierDebounce* state, bool carrierOn);

// Seconds since the monitor thread started, after tick number tickCount.
double TickSeconds(uint32_t tickCount);
