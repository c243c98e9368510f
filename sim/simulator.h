// The simulated Korvan module on a COM port, for tests in the same process and
// for the korvan-sim console program. One simulator per process.
//
// StartSimulator opens the port through the serial layer (9600 8N1, DTR on,
// RTS off, no parity check) with the module switched off; PowerOnModule
// switches it on, from any thread, and it answers the tool from then on.
// Received bytes reach the module through the layer's byte callback (the
// receive thread); its answers leave at once, or through a sending thread of
// the simulator when they are delayed or paced.
//
// Every call takes the simulator's one lock, which is also held while bytes
// are handed to the port. A cable whose far end nobody reads holds some 35 KB;
// once it is full, writes wait for the reader, and so do these calls.
#pragma once

#include <cstdint>

#include "sim_options.h"
#include "sim_report.h"

// Opens portNumber and starts the simulator with the module off. The record
// comes from the options' state file when it holds one, else it is the
// factory record. 0 on success; 1 when the simulator runs already or the port
// cannot be opened.
int16_t StartSimulator(int16_t portNumber, const SimOptions* options);

// Stops the threads and closes the port. The report stays readable.
void StopSimulator();

// Switches the module on; when it is on, off and on again. Any output of the
// earlier power period that has not left yet is dropped.
void PowerOnModule();

// Switches the module off: silent, deaf, pending output dropped.
void PowerOffModule();

// New faults and pacing for what follows (trace and state file keep their
// start values).
void ChangeSimOptions(const SimOptions* options);

// A copy of the report as it stands.
void ReadSimReport(SimReport* report);

// Copies the script bytes of the last download (at most capacity) and
// returns how many were copied.
int32_t CopyReceivedFirmware(uint8_t* buffer, int32_t capacity);

// Takes the oldest line of what the module did (NUL-terminated, cut to
// capacity). False when there is none.
bool TakeSimEvent(char* line, int32_t capacity);
