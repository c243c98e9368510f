// Writing a port, and the trace file of its traffic.
//
// Writes of a port in receive-thread mode may still run after WritePort has
// returned; the next write, and the closing of the port, wait for the last one.
#pragma once

#include <cstdint>

#include "port_table.h"

// Waits up to limitMs for the port's last overlapped write to finish; one
// that has not finished by then is cancelled. False when the write still
// runs even so (a device that would not cancel it): closing the device ends
// it, and AwaitClosedWrite then waits for that.
bool FinishPendingWrite(PortSlot* slot, DWORD limitMs);

// After the device has been closed: waits for the end of a write that
// FinishPendingWrite could not end.
void AwaitClosedWrite(PortSlot* slot);

// Milliseconds that the bytes of the port's last write take on the wire.
DWORD WriteWireTimeMs(const PortSlot* slot);

// ---- Trace records of a port's traffic ----

enum : uint8_t { kTraceReceived = 1, kTraceSent = 2 };

// Appends one record of byte and direction tag when the port has a trace file.
void TraceByte(PortSlot* slot, uint8_t byte, uint8_t tag);
