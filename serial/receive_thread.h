// The receive thread of a port in receive-thread mode: reads the device one
// byte at a time into the port's receive ring.
#pragma once

#include <windows.h>

#include <cstdint>

#include "port_table.h"

// Thread procedure; the argument is the port number.
DWORD WINAPI ReceiveThread(LPVOID argument);

// ---- Storing received bytes in a port's receive ring ----

// Cells the ring takes before it is full (at most kRingSize - 1).
int32_t RingFreeCells(const ReceiveRing* ring);

// Cells that a received byte takes: three when it is marked "{" byte "}".
inline int32_t RingCellsNeeded(bool marked) {
    return marked ? 3 : 1;
}

// Stores a received byte, between "{" and "}" when marked, and only then
// moves writeIndex past it. When the ring has less room than the byte needs,
// readIndex is moved up to writeIndex instead: the ring then reads empty,
// the unread bytes and this one are lost, and no part of a marked byte is
// ever left behind. False for such a drop.
bool RingStore(ReceiveRing* ring, uint8_t byte, bool marked);

// Takes the next byte; false when the ring is empty. Safe against a drop of
// the writer at the same time (it moves readIndex by compare-exchange only).
bool RingTake(ReceiveRing* ring, uint8_t* byte);

inline bool RingIsEmpty(const ReceiveRing* ring) {
    return ring->readIndex == ring->writeIndex;
}
