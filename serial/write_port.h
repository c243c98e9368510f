// Writes of a port in receive-thread mode may still run after WritePort has
// returned; the closing of the port waits for the last one.
#pragma once

#include "port_table.h"

// Waits until the port's last overlapped write has finished.
void FinishPendingWrite(PortSlot* slot);
