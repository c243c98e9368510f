// The module's two data transfers, part of its machine: the firmware
// download (after 0x10) and the record's write-back (after 0x04), each
// hexadecimal pairs up to a line feed, then four checksum digits (and for the
// write-back a final line feed). The machine's commands and power live in
// module_machine.cpp, which starts the transfers and hands them their bytes.
#pragma once

#include <cstdint>
#include <cstring>

#include "module_machine.h"
#include "module_record.h"

// Starts taking the script of a download, with a clear download report.
void StartDownload(ModuleMachine* machine);

// Starts taking a record, with a clear write-back report.
void StartWriteBack(ModuleMachine* machine);

// Takes one byte in a transfer's state; nothing in any other state. out is
// cleared by the caller and holds the answer, often nothing.
void FeedTransferByte(ModuleMachine* machine, uint8_t byte, ModuleOutput* out);

// Output and report helpers of the machine's files.

inline void Append(ModuleOutput* out, const void* bytes, int32_t length) {
    if (length > kOutputCapacity - out->length) {
        length = kOutputCapacity - out->length;
    }
    memcpy(out->bytes + out->length, bytes, static_cast<size_t>(length));
    out->length += length;
}

inline void AppendText(ModuleOutput* out, const char* text) {
    Append(out, text, static_cast<int32_t>(strlen(text)));
}

inline void ClearOutput(ModuleOutput* out) {
    out->length = 0;
    out->delayMs = 0;
}

// Value 14 of the record, or -1 when the record is shorter.
inline void SetStationAddress(SimReport* report) {
    report->stationAddress =
        report->recordCount > kStationAddressIndex ? report->record[kStationAddressIndex] : -1;
}
