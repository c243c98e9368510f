// The firmware job: the module is put into programming mode, given the whole
// script as hexadecimal pairs with an acknowledgement after the first 96
// bytes and after every further 128, then the checksum line, and it confirms
// with "Download ok.".
#include <cstdio>
#include <cstring>

#include "run_context.h"
#include "script_store.h"
#include "serial_port.h"
#include "wait_hook.h"
#include "wire_encoding.h"

enum : int32_t {
    kHandshakeTimeoutMs = 2000,
    kAckTimeoutMs = 700,
    kConfirmationTimeoutMs = 500,
    kSettleMs = 500,
    kPauseBeforeChecksumMs = 200,
};

// Puts the module into programming mode: 0x14 answered by "OK", 0x10 by ".".
// Sends a handshake byte and reads its answer of count bytes; the detail
// says what went wrong.
static bool Handshake(RunContext* run, uint8_t byte, const char* expected) {
    const int16_t port = run->choices.port;
    uint8_t* reply = run->runBuffer;
    const int32_t count = static_cast<int32_t>(strlen(expected));
    if (WriteByte(port, byte) != 0) {
        NoteDetail(run, "the port did not take the handshake byte 0x%02X", byte);
        return false;
    }
    if (ReadPort(port, count, 0, kHandshakeTimeoutMs, reply, kRunBufferSize) != 0) {
        NoteDetail(run, "no answer \"%s\" to 0x%02X within %ld ms", expected, byte,
                   static_cast<long>(kHandshakeTimeoutMs));
        return false;
    }
    if (memcmp(reply, expected, static_cast<size_t>(count)) != 0) {
        char shown[2][8];
        ByteText(reply[0], shown[0]);
        ByteText(count > 1 ? reply[1] : 0, shown[1]);
        NoteDetail(run, "0x%02X answered with %s%s%s instead of \"%s\"", byte, shown[0],
                   count > 1 ? " " : "", count > 1 ? shown[1] : "", expected);
        return false;
    }
    return true;
}

static RunOutcome EnterProgrammingMode(RunContext* run) {
    if (!Handshake(run, 0x14, "OK")) {
        return kNoAnswer;
    }
    DiscardInput(run->choices.port, kSettleMs);
    return Handshake(run, 0x10, ".") ? kRunSucceeded : kNoAnswer;
}

// Reads the acknowledgement after the pair of script byte index.
static RunOutcome AwaitAcknowledgement(RunContext* run, int32_t index) {
    if (ReadPort(run->choices.port, 1, 0, kAckTimeoutMs, run->runBuffer, kRunBufferSize) != 0) {
        NoteDetail(run, "no acknowledgement after script byte %ld within %ld ms",
                   static_cast<long>(index), static_cast<long>(kAckTimeoutMs));
        return kNotProgrammed;
    }
    if (run->runBuffer[0] != '.') {
        char shown[8];
        ByteText(run->runBuffer[0], shown);
        NoteDetail(run, "script byte %ld acknowledged with %s instead of '.'",
                   static_cast<long>(index), shown);
        return kNotProgrammed;
    }
    return kRunSucceeded;
}

// Sends the pairs of script bytes first to last in one write, from the run
// buffer; adds them to *sum.
static RunOutcome WriteStretch(RunContext* run, int32_t first, int32_t last, uint16_t* sum) {
    static_assert(2 * kAckBlock <= kDirectWriteChunk, "a stretch goes to the device in one write");
    static_assert(2 * kAckBlock <= kRunBufferSize, "a stretch's pairs fit the run buffer");
    uint8_t values[kAckBlock];
    const int32_t count = last - first + 1;
    for (int32_t k = 0; k < count; ++k) {
        values[k] = ScriptByte(run->scriptSlot, first + k);
    }
    FormatHexPairs(values, count, run->runBuffer);
    *sum = AddToSum(*sum, values, count);
    if (WritePort(run->choices.port, run->runBuffer, static_cast<int16_t>(2 * count)) == 0) {
        return kRunSucceeded;
    }
    if (count == 1) {
        NoteDetail(run, "the port did not take script byte %ld", static_cast<long>(first));
    } else {
        NoteDetail(run, "the port did not take all of script bytes %ld to %ld",
                   static_cast<long>(first), static_cast<long>(last));
    }
    return kNotProgrammed;
}

// Sends every script byte as a hexadecimal pair, waiting for the module's
// acknowledgement after bytes 95, 223, 351, ...: the pairs up to each
// acknowledgement go out in one write. The face hears of every byte once its
// pair has been written; of a byte whose pair an acknowledgement follows,
// once that has come.
static RunOutcome StreamScript(RunContext* run, uint16_t* sum) {
    const int32_t size = ScriptSize(run->scriptSlot);
    const RunFace* face = run->face;
    *sum = 0;
    for (int32_t first = 0; first < size;) {
        const int32_t last = StretchEnd(first, size);
        RunOutcome outcome = WriteStretch(run, first, last, sum);
        if (outcome != kRunSucceeded) {
            return outcome;
        }
        for (int32_t j = first; j < last; ++j) {
            face->showProgress(face->context, j, size);
        }
        if (AcknowledgedAfter(last)) {
            outcome = AwaitAcknowledgement(run, last);
            if (outcome != kRunSucceeded) {
                return outcome;
            }
        }
        face->showProgress(face->context, last, size);
        first = last + 1;
    }
    return kRunSucceeded;
}

// The module answers the checksum line with one byte of its own, then
// "Download ok." and a line feed.
static RunOutcome AwaitConfirmation(RunContext* run) {
    const int16_t port = run->choices.port;
    uint8_t* line = run->runBuffer;
    ReadPort(port, 1, 0, kConfirmationTimeoutMs, line, kRunBufferSize);
    const int16_t status = ReadPort(port, 0, 0x0A, kConfirmationTimeoutMs, line, kRunBufferSize);
    if (status == 0 && strcmp(reinterpret_cast<char*>(line), "Download ok.") == 0) {
        return kRunSucceeded;
    }
    if (status == 0) {
        // The line as it came, its unprintable bytes as dots.
        char shown[64];
        size_t k = 0;
        for (; line[k] != 0 && k < sizeof shown - 1; ++k) {
            shown[k] = line[k] >= 0x20 && line[k] <= 0x7E ? static_cast<char>(line[k]) : '.';
        }
        shown[k] = 0;
        NoteDetail(run, "checksum line answered with '%s'", shown);
    } else if (status == 2) {
        NoteDetail(run, "checksum line answered with a line of %ld characters or more",
                   static_cast<long>(kRunBufferSize - 1));
    } else {
        NoteDetail(run, "no confirmation line within %ld ms of the checksum line",
                   static_cast<long>(kConfirmationTimeoutMs));
    }
    return kNotProgrammed;
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
    PauseMs(kPauseBeforeChecksumMs);
    ShowStatus(run, "Send Checksum");
    if (WriteChecksumLine(run->choices.port, sum) != 0) {
        NoteDetail(run, "the port did not take the checksum line");
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
