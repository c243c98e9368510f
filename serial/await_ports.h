// Waiting on several direct-mode ports at once: each port has a read under
// way, and one wait covers all of their read events, so that watching many
// silent ports costs no poll per port.
#pragma once

#include <cstdint>

// While a port is watched its device ends an empty read only after this
// long (instead of kReadWaitMs): a silent port wakes the watcher once a
// second.
enum : int32_t { kWatchReadWaitMs = 1000 };

// Most ports one wait covers (the platform's limit of a multiple wait).
enum : int16_t { kAwaitPortsLimit = 64 };

// Gives an open direct-mode port the device read wait of a watch (watching
// true) or of direct mode again (false). The port must have no read under
// way when it is given back. 0 on success, 1 when the device refused.
int16_t SetWatchReadWait(int16_t portNumber, bool watching);

// AwaitPortBytes' answer when a port of the watch has been interrupted
// (InterruptPort): the watch is to end at once.
enum : int16_t { kAwaitInterrupted = -2 };

// Waits up to timeoutMs until one of the count ports (open, direct mode)
// has received a byte, and copies it to bytes (capacity at least 1). The
// index of that port in ports, with *got bytes; -1 when timeoutMs passed
// first; kAwaitInterrupted within some 50 ms of an interruption of any of
// the ports. Nothing is ever written to any port. A port that is not open is
// passed over; a read its device refuses has its
// error state cleared and is tried again after a read wait. *first rotates
// the order in which the ports are looked at, so that a busy port cannot
// hide the others; start it at 0.
int16_t AwaitPortBytes(const int16_t* ports, int16_t count, int32_t timeoutMs, uint8_t* bytes,
                       int32_t capacity, int32_t* got, int16_t* first);
