// The firmware job: the module is put into programming mode, given the whole
// script as hexadecimal pairs with an acknowledgement after the first 96
// bytes and after every further 128, then the checksum line, and it confirms
// with "Download ok.".
#include <cstring>

#include "run_context.h"
#include "script_store.h"
#include "serial_port.h"
#include "wire_encoding.h"

enum : int32_t {
    kHandshakeTimeoutMs = 2000,
    kAckTimeoutMs = 700,
    kConfirmationTimeoutMs = 500,
    kSettleMs = 500,
    kPauseBeforeChecksumMs = 200,
    kFirstAckIndex = 95, // the module acknowledges the first 96 bytes,
    kAckBlock = 128,     // then every further 128
};

// Puts the module into programming mode: 0x14 answered by "OK", 0x10 by ".".
static RunOutcome EnterProgrammingMode(RunContext* run) {
    const int16_t port = run->choices.port;
    uint8_t* reply = run->runBuffer;
    if (WriteByte(port, 0x14) != 0 ||
        ReadPort(port, 2, 0, kHandshakeTimeoutMs, reply, kRunBufferSize) != 0 || reply[0] != 'O' ||
        reply[1] != 'K') {
        return kNoAnswer;
    }
    DiscardInput(port, kSettleMs);
    if (WriteByte(port, 0x10) != 0 ||
        ReadPort(port, 1, 0, kHandshakeTimeoutMs, reply, kRunBufferSize) != 0 || reply[0] != '.') {
        return kNoAnswer;
    }
    return kRunSucceeded;
}

// Sends every script byte as a hexadecimal pair, waiting for the module's
// acknowledgement after bytes 95, 223, 351, ...
static RunOutcome StreamScript(RunContext* run, uint16_t* sum) {
    const int16_t port = run->choices.port;
    const int32_t size = ScriptSize(kRunScriptSlot);
    int32_t ackIndex = kFirstAckIndex;
    *sum = 0;
    for (int32_t j = 0; j < size; ++j) {
        const uint8_t value = ScriptByte(kRunScriptSlot, j);
        if (WriteHexPair(port, value) != 0) {
            return kNotProgrammed;
        }
        *sum = static_cast<uint16_t>(*sum + value);
        if (j == ackIndex) {
            ackIndex += kAckBlock;
            if (ReadPort(port, 1, 0, kAckTimeoutMs, run->runBuffer, kRunBufferSize) != 0 ||
                run->runBuffer[0] != '.') {
                return kNotProgrammed;
            }
        }
        run->face->showProgress(run->face->context, j, size);
    }
    return kRunSucceeded;
}

// The module answers the checksum line with one byte of its own, then
// "Download ok." and a line feed.
static RunOutcome AwaitConfirmation(RunContext* run) {
    const int16_t port = run->choices.port;
    uint8_t* line = run->runBuffer;
    ReadPort(port, 1, 0, kConfirmationTimeoutMs, line, kRunBufferSize);
    if (ReadPort(port, 0, 0x0A, kConfirmationTimeoutMs, line, kRunBufferSize) != 0 ||
        strcmp(reinterpret_cast<char*>(line), "Download ok.") != 0) {
        return kNotProgrammed;
    }
    return kRunSucceeded;
}

RunOutcome ProgramFirmware(RunContext* run) {
    ShowStatus(run, "Initialisation of programming process");
    RunOutcome outcome = EnterProgrammingMode(run);
    uint16_t sum = 0;
    if (outcome == kRunSucceeded) {
        outcome = StreamScript(run, &sum);
    }
    if (outcome != kRunSucceeded) {
        return outcome;
    }
    Sleep(kPauseBeforeChecksumMs);
    ShowStatus(run, "Send Checksum");
    if (WriteChecksumLine(run->choices.port, sum) != 0) {
        return kNotProgrammed;
    }
    outcome = AwaitConfirmation(run);
    if (outcome != kRunSucceeded) {
        return outcome;
    }
    DiscardInput(run->choices.port, kSettleMs);
    ShowStatus(run, " ");
    ShowResult(run, " The programming of Firmware was successful. ");
    return kRunSucceeded;
}
