#include "receive_ring.h"

static int16_t NextIndex(int32_t index) {
    return static_cast<int16_t>((index + 1) % kRingSize);
}

int32_t RingFreeCells(const ReceiveRing* ring) {
    int32_t unread = (ring->writeIndex - ring->readIndex + kRingSize) % kRingSize;
    return kRingSize - 1 - unread;
}

// Makes the ring read empty, dropping every unread byte. The reader may
// take bytes meanwhile, so writeIndex follows readIndex until the two meet
// and stay met: writeIndex is never left behind readIndex, where the ring
// would read as full of stale cells.
static void DropUnread(ReceiveRing* ring) {
    int16_t read = ring->readIndex;
    for (;;) {
        ring->writeIndex = read;
        const int16_t now = ring->readIndex;
        if (now == read) {
            return;
        }
        read = now;
    }
}

void RingStore(ReceiveRing* ring, uint8_t byte, bool marked) {
    // The free cells can only grow while we look: the reader alone frees them.
    if (RingFreeCells(ring) < RingCellsNeeded(marked)) {
        DropUnread(ring);
        return;
    }
    const uint8_t plain[1] = {byte};
    const uint8_t framed[3] = {'{', byte, '}'};
    const uint8_t* cells = marked ? framed : plain;
    int32_t index = ring->writeIndex;
    for (int32_t i = 0; i < RingCellsNeeded(marked); ++i) {
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
