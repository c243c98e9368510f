#include "profibus_id.h"

#include <cstdio>
#include <cstring>

#include "run_context.h"
#include "serial_port.h"
#include "wire_encoding.h"

enum : int32_t {
    kReplyTimeoutMs = 2000,
    kSettleBeforeWriteMs = 300,
    kSettleAfterWriteMs = 500,
};

static_assert(kConfigRecordRoom == kLongestConfigText + 1, "a report holds the longest record");

// Asks the module for its record and decodes it. A reply that fills the run
// buffer before its carriage return is far too long to be a record.
static RunOutcome ReadRecord(RunContext* run, int16_t values[kConfigValues], int32_t* count) {
    const int16_t port = run->choices.port;
    char* text = reinterpret_cast<char*>(run->runBuffer);
    if (WriteByte(port, 0x15) != 0) {
        NoteDetail(run, "the port did not take the request 0x15");
        return kConfigNotRead;
    }
    // A read that times out leaves its bytes without a terminator: the
    // buffer is cleared first, so that the detail can count them.
    memset(run->runBuffer, 0, sizeof run->runBuffer);
    int16_t status = ReadPort(port, 0, 0x0D, kReplyTimeoutMs, run->runBuffer, kRunBufferSize);
    if (status == 2) {
        NoteDetail(run, "record of %ld characters or more without its carriage return",
                   static_cast<long>(kRunBufferSize - 1));
        return kConfigNotAccepted;
    }
    if (status != 0) {
        const size_t got = strnlen(text, kRunBufferSize);
        if (got == 0) {
            NoteDetail(run, "no record within %ld ms of the request",
                       static_cast<long>(kReplyTimeoutMs));
        } else {
            NoteDetail(run, "record stopped after %lu characters without its carriage return",
                       static_cast<unsigned long>(got));
        }
        return kConfigNotRead;
    }
    const size_t length = strnlen(text, kRunBufferSize);
    snprintf(run->report.record, sizeof run->report.record, "%s", text);
    if (DecodeConfigRecord(text, values, count) != 0) {
        NoteDetail(run, "record of %lu characters", static_cast<unsigned long>(length));
        return kConfigNotAccepted;
    }
    run->report.oldProfibusId = values[kStationAddressValue];
    return kRunSucceeded;
}

// Sends the whole record back with the new ID in place, then its checksum,
// in one write from the run buffer. 1 when the device did not take it all:
// the record has not reached the module whole.
static int16_t WriteRecord(RunContext* run, int16_t values[kConfigValues], int32_t count) {
    static_assert(static_cast<int32_t>(kRecordWriteRoom) <= static_cast<int32_t>(kRunBufferSize),
                  "the write-back fits the run buffer");
    static_assert(static_cast<int32_t>(kRecordWriteRoom) <= static_cast<int32_t>(kDirectWriteChunk),
                  "the write-back goes to the device in one write");
    values[kStationAddressValue] = run->choices.profibusId;
    const int32_t length = EncodeRecordWrite(values, count, run->runBuffer);
    return WritePort(run->choices.port, run->runBuffer, static_cast<int16_t>(length));
}

RunOutcome SetProfibusId(RunContext* run) {
    int16_t values[kConfigValues];
    int32_t count = 0;
    ShowStatus(run, "Read old configuration of Pelix IC");
    RunOutcome outcome = ReadRecord(run, values, &count);
    if (outcome != kRunSucceeded) {
        return outcome;
    }
    DiscardInput(run->choices.port, kSettleBeforeWriteMs);
    if (run->choices.mode == kReadIdMode) {
        ShowStatus(run, " ");
        ShowResult(run, " The configuration of Korvan module was read. ");
        return kRunSucceeded;
    }
    ShowStatus(run, "Set Profibus ID into Korvan Module");
    // A record that did not go out whole has not been set: that is a
    // failure, not a success.
    if (WriteRecord(run, values, count) != 0) {
        NoteDetail(run, "the port did not take the whole record");
        return kNotProgrammed;
    }
    // No answer is awaited; whatever the module says is dropped.
    DiscardInput(run->choices.port, kSettleAfterWriteMs);
    ShowStatus(run, " ");
    ShowResult(run, " The programming of Profibus-ID was successful. ");
    return kRunSucceeded;
}
