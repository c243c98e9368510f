// Translation of a PortConfig into the device's line settings.
#pragma once

#include <windows.h>

#include <cstdint>

#include "serial_port.h"

// Parity code whose wake-up byte goes out at mark parity before the line
// settles at space parity.
enum : int16_t { kParityWakeUp = 10 };

// Device values of the configuration's baud rate, parity and stop-bit codes.
// 0 when each has a line setting; 1 for values that have none.
int16_t TranslateLineCodes(const PortConfig* config, BYTE* parity, BYTE* stopBits);

// Changes the settings the port depends on, abort-on-error off among them;
// every other field of the DCB keeps the value the device reported.
void ApplyLineSettings(DCB* dcb, const PortConfig* config, BYTE parity, BYTE stopBits);
