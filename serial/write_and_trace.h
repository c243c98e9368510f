// Writing a port, and the trace file of its traffic.
//
// Writes of a port in receive-thread mode may still run after WritePort has
// returned; the next write, and the closing of the port, wait for the last one.
#pragma once

#include <cstdint>

#include "port_table.h"

// Waits up to limitMs for the port's last overlapped write to finish; one
// that has not finished by then is cancelled. False when the device keeps
// the write even so: closing the device ends it, and AwaitClosedWrite then
// waits for that.
bool FinishPendingWrite(PortSlot* slot, DWORD limitMs);

// After the device has been closed: waits, within a bound, for the end of a
// write that FinishPendingWrite could not end. One that outlasts it leaves
// its bytes to the device for good.
void AwaitClosedWrite(PortSlot* slot);

// How long the port's last write may take: the wire time of its bytes and a
// margin.
DWORD LastWriteWaitMs(const PortSlot* slot);

// ---- Trace records of a port's traffic ----

enum : uint8_t { kTraceReceived = 1, kTraceSent = 2 };

// Appends one record of byte and direction tag when the port has a trace file.
void TraceByte(PortSlot* slot, uint8_t byte, uint8_t tag);
