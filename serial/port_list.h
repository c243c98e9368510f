// The COM ports the PC has: the serial drivers enter each port they serve
// (a USB adapter's while it is plugged in) as a value of
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM whose data is its name.
#pragma once

#include <windows.h>

#include <cstdint>

#include "port_table.h"

// The port number of a name "COMn" (any case, n from 1 to 256 without
// leading zeros) held in size bytes, with or without its terminator; 0 for
// any other name.
int16_t PortNumberOfName(const char* name, DWORD size);

// Fills ports (room for capacity numbers) with the numbers of the ports
// the PC has now, ascending, each once. The count; 0 when none is listed.
int16_t ListPresentPorts(int16_t* ports, int16_t capacity);

// The ports a technician is offered: COM1 to COM8 always (a port of those
// may be plugged in later), then every further port the PC has now,
// ascending. The count.
int16_t ListPortChoices(int16_t* ports, int16_t capacity);
