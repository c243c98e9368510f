// The steps of a run that talk to the module.
#pragma once

#include <cstdint>

#include "run_context.h"

// Detection gives up after this many bytes without the banner, or after
// detectionLimitMs in all: a module's start-up output is a few dozen bytes
// within a few seconds.
enum : int32_t { kDetectionByteLimit = kRunBufferSize, kDetectionLimitMs = 30000 };

// The overall time of a detection: kDetectionLimitMs, process-wide so that a
// test can shorten it.
extern int32_t detectionLimitMs;

// Waits for the module's start-up banner "Konfigmode...". 0 when it came.
int16_t DetectModule(RunContext* run);

// Sends a byte value as a hexadecimal pair in one write.
void WriteHexPair(int16_t port, uint8_t value);

// Sends the checksum line of sum, one write per byte.
void WriteChecksumLine(int16_t port, uint16_t sum);

// Streams the script of slot 1 into the module.
RunFailure ProgramFirmware(RunContext* run);

// Writes the ID chosen in the dialog into the module's configuration record.
RunFailure SetProfibusId(RunContext* run);
