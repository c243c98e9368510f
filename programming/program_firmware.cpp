#include <cstdio>
#include <cstring>

#include "module_procedures.h"
#include "run_lines.h"
#include "script_store.h"
#include "serial_port.h"

static const char kNoAnswer[] = "Korvan does not answer";
static const char kNotProgrammed[] = "Korvan could not be programmed";

enum : int32_t {
    kHandshakeTimeoutMs = 2000,
    kAckTimeoutMs = 700,
    kConfirmationTimeoutMs = 500,
    kSettleMs = 500,
    kPauseBeforeChecksumMs = 200,
    kFirstAckIndex = 95, // the module acknowledges the first 96 bytes,
    kAckBlock = 128,     // then every further 128
};

static void WriteByte(int16_t port, uint8_t byte) {
    WritePort(port, &byte, 1);
}

// Puts the module into programming mode: 0x14 answered by "OK", 0x10 by ".".
static RunFailure EnterProgrammingMode(RunContext* run) {
    uint8_t* reply = run->runBuffer;
    WriteByte(run->port, 0x14);
    if (ReadPort(run->port, 2, 0, kHandshakeTimeoutMs, reply, kRunBufferSize) != 0 ||
        reply[0] != 'O' || reply[1] != 'K') {
        return kNoAnswer;
    }
    DiscardInput(run->port, kSettleMs);
    WriteByte(run->port, 0x10);
    if (ReadPort(run->port, 1, 0, kHandshakeTimeoutMs, reply, kRunBufferSize) != 0 ||
        reply[0] != '.') {
        return kNoAnswer;
    }
    return nullptr;
}

static void ShowProgress(RunContext* run, int32_t index) {
    char* text = reinterpret_cast<char*>(run->runBuffer);
    snprintf(text, kRunBufferSize, "Update firmware --> %d", static_cast<int>(index));
    SetStatusLine(run, text);
}

// Sends every script byte as a hexadecimal pair, waiting for the module's
// acknowledgement after bytes 95, 223, 351, ...
static RunFailure StreamScript(RunContext* run, uint16_t* sum) {
    const int32_t size = ScriptSize(kRunScriptSlot);
    int32_t ackIndex = kFirstAckIndex;
    *sum = 0;
    for (int32_t j = 0; j < size; ++j) {
        const uint8_t value = ScriptByte(kRunScriptSlot, j);
        WriteHexPair(run->port, value);
        *sum = static_cast<uint16_t>(*sum + value);
        if (j == ackIndex) {
            ackIndex += kAckBlock;
            if (ReadPort(run->port, 1, 0, kAckTimeoutMs, run->runBuffer, kRunBufferSize) != 0 ||
                run->runBuffer[0] != '.') {
                return kNotProgrammed;
            }
        }
        ShowProgress(run, j);
    }
    return nullptr;
}

// The module answers the checksum line with one byte of its own, then
// "Download ok." and a line feed.
static RunFailure AwaitConfirmation(RunContext* run) {
    uint8_t* line = run->runBuffer;
    ReadPort(run->port, 1, 0, kConfirmationTimeoutMs, line, kRunBufferSize);
    if (ReadPort(run->port, 0, 0x0A, kConfirmationTimeoutMs, line, kRunBufferSize) != 0 ||
        strcmp(reinterpret_cast<char*>(line), "Download ok.") != 0) {
        return kNotProgrammed;
    }
    return nullptr;
}

RunFailure ProgramFirmware(RunContext* run) {
    SetStatusLine(run, "Initialisation of programming process");
    RunFailure failure = EnterProgrammingMode(run);
    uint16_t sum = 0;
    if (failure == nullptr) {
        failure = StreamScript(run, &sum);
    }
    if (failure != nullptr) {
        return failure;
    }
    Sleep(kPauseBeforeChecksumMs);
    SetStatusLine(run, "Send Checksum");
    WriteChecksumLine(run->port, sum);
    failure = AwaitConfirmation(run);
    if (failure != nullptr) {
        return failure;
    }
    DiscardInput(run->port, kSettleMs);
    SetStatusLine(run, " ");
    SetResultLine(run, " The programming of Firmware was successful. ");
    return nullptr;
}
