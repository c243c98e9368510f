// Trace records of a port's traffic.
#pragma once

#include <cstdint>

#include "port_table.h"

enum : uint8_t { kTraceReceived = 1, kTraceSent = 2 };

// Appends one record of byte and direction tag when the port has a trace file.
void TraceByte(PortSlot* slot, uint8_t byte, uint8_t tag);
