// Debounce of the carrier-detect line over two samples about one tick apart.
#pragma once

#include <cstdint>

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
