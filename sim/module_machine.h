// The simulated module as a state machine over plain data: received bytes go
// in, the bytes it answers with come out. No clock, no port, no threads; the
// simulator around it decides when the answers leave.
#pragma once

#include <cstdint>

#include "sim_options.h"
#include "sim_report.h"

enum ModuleState : int16_t {
    kModuleOff = 0,              // silent, ignores every byte
    kModuleBabbling = 1,         // endless start-up output, ignores every byte
    kModuleReady = 2,            // after the banner: waits for a command byte
    kModuleDownload = 3,         // after 0x10: hexadecimal pairs of the script until LF
    kModuleDownloadChecksum = 4, // the four checksum digits
    kModuleWriteBack = 5,        // after 0x04: hexadecimal pairs of the record until LF
    kModuleWriteBackChecksum = 6,
    kModuleWriteBackEnd = 7, // waits for the final LF
};

enum : int32_t {
    kOutputCapacity = kConfigReplyCapacity + 100,
    kFirstAckIndex = 95,  // script index after which the first acknowledgement goes out
    kAckBlockSize = 128,  // script bytes between two acknowledgements
    kProgressStep = 4096, // script bytes between two progress events
};

// The bytes that answer one event, to leave delayMs after it.
struct ModuleOutput {
    uint8_t bytes[kOutputCapacity];
    int32_t length;
    int32_t delayMs;
};

struct ModuleMachine {
    SimOptions options;
    int16_t state; // ModuleState
    SimReport report;
    uint8_t firmware[kFirmwareCapacity];
    int16_t highNibble;   // value of the first digit of a pair; -1 when none is pending
    int32_t nextAckIndex; // script index after which the next acknowledgement is due
    int32_t ackBlock;     // number of that acknowledgement, from 0
    char digits[4];       // checksum digits received so far
    int16_t digitCount;
    int32_t babbleLines;
    int16_t recordChanged; // set when a write-back is stored; cleared by the owner
    EventLog log;
};

// A module that is off, with the given record (its value 14 replaced by the
// options' initialStationAddress when that is 0 or more) and a clear report.
void StartModuleMachine(ModuleMachine* machine, const SimOptions* options, const uint8_t* record,
                        int32_t count);

// Faults and pacing for what follows; the record and the report stay.
void ChangeMachineOptions(ModuleMachine* machine, const SimOptions* options);

// Switches the module on (off and on again when it is on): out holds its
// start-up output, to leave after the options' powerOnDelayMs.
void PowerOnMachine(ModuleMachine* machine, ModuleOutput* out);

void PowerOffMachine(ModuleMachine* machine);

// Takes one received byte; out holds the answer, often nothing.
void FeedModuleByte(ModuleMachine* machine, uint8_t byte, ModuleOutput* out);

// The next line of endless start-up output while the module is babbling;
// nothing otherwise.
void NextBabbleLine(ModuleMachine* machine, ModuleOutput* out);
