// The simulated Korvan module on a COM port, for tests in the same process and
// for the korvan-sim console program.
//
// StartSimulator opens the port through the serial layer (9600 8N1, DTR on,
// RTS off, no parity check) with the module switched off; PowerOnModule
// switches it on, from any thread, and it answers the tool from then on.
//
// Up to kSimulatorSlots simulators run at once, each on its own port and with
// its own options, faults, record, trace, report and power switch. A
// simulator is named by its port number: the calls that end in On or Of take
// it. The calls without a port act on the default simulator: the first
// running one (in the order they took their slots), or, when none runs, the
// one stopped last, whose report stays readable. A caller with one simulator
// never needs a port; StopSimulator without one stops them all.
//
// Every call takes the lock of its simulator, which is also held while bytes
// are handed to its port. A cable whose far end nobody reads holds some
// 35 KB; once it is full, writes wait for the reader, and so do these calls.
#pragma once

#include <cstdint>

#include "sim_options.h"
#include "sim_report.h"

// Opens portNumber and starts a simulator on it with the module off. The
// record comes from the options' state file when it holds one, else it is the
// factory record. 0 on success; 1 when a simulator runs on that port already,
// all kSimulatorSlots run, or the port cannot be opened.
int16_t StartSimulator(int16_t portNumber, const SimOptions* options);

// Stops every running simulator: their threads end, their ports close. Their
// reports stay readable.
void StopSimulator();
// Stops the simulator on portNumber; nothing when none runs there.
void StopSimulatorOn(int16_t portNumber);

// Switches the module on; when it is on, off and on again. Any output of the
// earlier power period that has not left yet is dropped.
void PowerOnModule();
void PowerOnModuleOn(int16_t portNumber);

// Switches the module off: silent, deaf, pending output dropped.
void PowerOffModule();
void PowerOffModuleOn(int16_t portNumber);

// New faults and pacing for what follows (trace and state file keep their
// start values).
void ChangeSimOptions(const SimOptions* options);
void ChangeSimOptionsOn(int16_t portNumber, const SimOptions* options);

// A copy of the report as it stands; all zero when there is no simulator.
void ReadSimReport(SimReport* report);
// The report of the simulator that runs, or ran last, on portNumber. False
// (and a report of zeros) when none did.
bool ReadSimReportOf(int16_t portNumber, SimReport* report);

// Copies the script bytes of the last download (at most capacity) and
// returns how many were copied.
int32_t CopyReceivedFirmware(uint8_t* buffer, int32_t capacity);
int32_t CopyReceivedFirmwareOf(int16_t portNumber, uint8_t* buffer, int32_t capacity);

// Takes the oldest line of what the module did (NUL-terminated, cut to
// capacity). False when there is none.
bool TakeSimEvent(char* line, int32_t capacity);
bool TakeSimEventOf(int16_t portNumber, char* line, int32_t capacity);
