#include "receive_ring.h"

static int16_t NextIndex(int32_t index) {
    return static_cast<int16_t>((index + 1) % kRingSize);
}

int32_t RingFreeCells(const ReceiveRing* ring) {
    int32_t unread = (ring->writeIndex - ring->readIndex + kRingSize) % kRingSize;
    return kRingSize - 1 - unread;
}

void RingStore(ReceiveRing* ring, uint8_t byte, bool marked) {
    const uint8_t plain[1] = {byte};
    const uint8_t framed[3] = {'{', byte, '}'};
    const uint8_t* cells = marked ? framed : plain;
    int32_t count = RingCellsNeeded(marked);
    int32_t free = RingFreeCells(ring);
    if (free < count) {
        count = free + 1; // up to readIndex: the ring reads empty afterwards
    }
    int32_t index = ring->writeIndex;
    for (int32_t i = 0; i < count; ++i) {
        ring->data[index] = cells[i];
        index = NextIndex(index);
    }
    ring->writeIndex = static_cast<int16_t>(index);
}

bool RingTake(ReceiveRing* ring, uint8_t* byte) {
    int16_t index = ring->readIndex;
    if (index == ring->writeIndex) {
        return false;
    }
    *byte = ring->data[index];
    ring->readIndex = NextIndex(index);
    return true;
}
