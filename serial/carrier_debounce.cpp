#include "carrier_debounce.h"

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
