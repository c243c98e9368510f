#include <cstring>

#include "config_record.h"
#include "dialog_ids.h"
#include "module_procedures.h"
#include "run_lines.h"
#include "serial_port.h"

static const char kCannotRead[] = "Configuration of Korvan module cannot be read";
static const char kBadRecord[] = "Error in received configuration of Korvan module";

enum : int32_t {
    kReplyTimeoutMs = 2000,
    kSettleBeforeWriteMs = 300,
    kSettleAfterWriteMs = 500,
};

static void WriteByte(int16_t port, uint8_t byte) {
    WritePort(port, &byte, 1);
}

// Asks the module for its record and decodes it. A reply that fills the run
// buffer before its carriage return is far too long to be a record.
static RunFailure ReadRecord(RunContext* run, int16_t values[kConfigValues], int32_t* count) {
    char* text = reinterpret_cast<char*>(run->runBuffer);
    WriteByte(run->port, 0x15);
    int16_t status = ReadPort(run->port, 0, 0x0D, kReplyTimeoutMs, run->runBuffer, kRunBufferSize);
    if (status != 0) {
        return status == 2 ? kBadRecord : kCannotRead;
    }
    return DecodeConfigRecord(text, values, count) == 0 ? nullptr : kBadRecord;
}

// The ID chosen in the list: entry k names ID k + 1.
static int16_t ChosenId(RunContext* run) {
    LRESULT entry = SendMessageA(GetDlgItem(run->dialog, IDC_PROFIBUS_ID_LIST), CB_GETCURSEL, 0, 0);
    return static_cast<int16_t>(entry + 1);
}

// Sends the whole record back with the new ID in place, then its checksum.
static void WriteRecord(RunContext* run, int16_t values[kConfigValues], int32_t count) {
    WriteByte(run->port, 0x04);
    values[kStationAddressValue] = ChosenId(run);
    uint16_t sum = 0;
    for (int32_t k = 0; k < count; ++k) {
        const uint8_t value = static_cast<uint8_t>(values[k]);
        WriteHexPair(run->port, value);
        sum = static_cast<uint16_t>(sum + value);
    }
    WriteChecksumLine(run->port, sum);
    WriteByte(run->port, 0x0A);
}

RunFailure SetProfibusId(RunContext* run) {
    int16_t values[kConfigValues];
    int32_t count = 0;
    SetStatusLine(run, "Read old configuration of Pelix IC");
    RunFailure failure = ReadRecord(run, values, &count);
    if (failure != nullptr) {
        return failure;
    }
    DiscardInput(run->port, kSettleBeforeWriteMs);
    SetStatusLine(run, "Set Profibus ID into Korvan Module");
    WriteRecord(run, values, count);
    // No answer is awaited; whatever the module says is dropped.
    DiscardInput(run->port, kSettleAfterWriteMs);
    SetStatusLine(run, " ");
    SetResultLine(run, " The programming of Profibus-ID was successful. ");
    return nullptr;
}
