#include "module_transfers.h"

#include <cstring>

static const char kConfirmText[] = "Download ok.";
static const char kChecksumErrorText[] = "Checksum error.";

void StartDownload(ModuleMachine* machine) {
    SimReport* report = &machine->report;
    report->downloadStarted = 1;
    report->firmwareByteCount = 0;
    report->badCharacterCount = 0;
    report->checksumComplete = 0;
    memset(report->checksumText, 0, sizeof report->checksumText);
    report->checksumReceived = 0;
    report->firmwareSum = 0;
    report->checksumMatched = 0;
    report->ackCount = 0;
    report->faultyAckIndex = -1;
    report->confirmationLength = 0;
    machine->nextAckIndex = kFirstAckIndex;
    machine->ackBlock = 0;
    machine->highNibble = -1;
    machine->state = kModuleDownload;
}

void StartWriteBack(ModuleMachine* machine) {
    SimReport* report = &machine->report;
    report->writeBackStarted = 1;
    report->writeBackComplete = 0;
    report->writeBackCount = 0;
    report->writeBackBadCharacterCount = 0;
    memset(report->writeBackChecksumText, 0, sizeof report->writeBackChecksumText);
    report->writeBackChecksumReceived = 0;
    report->writeBackSum = 0;
    report->writeBackMatched = 0;
    report->writeBackStored = 0;
    machine->highNibble = -1;
    machine->state = kModuleWriteBack;
    AddEvent(&machine->log, "write-back announced (0x04)");
}

static void SendAck(ModuleMachine* machine, int32_t index, ModuleOutput* out) {
    SimReport* report = &machine->report;
    const SimOptions* options = &machine->options;
    int32_t block = machine->ackBlock++;
    machine->nextAckIndex += kAckBlockSize;
    int16_t fault = kAckNormal;
    if (block == options->ackFaultBlock) {
        fault = options->ackFault;
    }
    if (fault != kAckNormal) {
        report->faultyAckIndex = index;
    }
    if (fault == kAckMissing) {
        AddEvent(&machine->log, "acknowledgement after script byte %d left out", index);
        return;
    }
    if (fault == kAckWrong) {
        Append(out, &options->wrongAck, 1);
        AddEvent(&machine->log, "wrong acknowledgement 0x%02X after script byte %d",
                 options->wrongAck, index);
        return;
    }
    AppendText(out, ".");
    if (fault == kAckLate) {
        out->delayMs = options->ackDelayMs;
        AddEvent(&machine->log, "acknowledgement after script byte %d delayed by %d ms", index,
                 options->ackDelayMs);
    }
    if (report->ackCount < kAckRecordCapacity) {
        report->ackIndices[report->ackCount] = index;
    }
    report->ackCount++;
}

static void StoreFirmwareByte(ModuleMachine* machine, uint8_t value, ModuleOutput* out) {
    SimReport* report = &machine->report;
    int32_t index = report->firmwareByteCount;
    if (index < kFirmwareCapacity) {
        machine->firmware[index] = value;
    } else if (index == kFirmwareCapacity) {
        AddEvent(&machine->log, "download: more than %d script bytes, the rest is only counted",
                 kFirmwareCapacity);
    }
    report->firmwareByteCount++;
    report->firmwareSum = static_cast<uint16_t>(report->firmwareSum + value);
    if (index == machine->nextAckIndex) {
        SendAck(machine, index, out);
    }
    if (report->firmwareByteCount % kProgressStep == 0) {
        AddEvent(&machine->log, "download: %d script bytes", report->firmwareByteCount);
    }
}

static void StoreWriteBackValue(ModuleMachine* machine, uint8_t value) {
    SimReport* report = &machine->report;
    if (report->writeBackCount < kRecordCapacity) {
        report->writeBackValues[report->writeBackCount] = value;
    }
    report->writeBackCount++;
    report->writeBackSum = static_cast<uint16_t>(report->writeBackSum + value);
}

// One character of the hexadecimal data of a download or write-back. Returns
// the value when it completes a pair, -1 otherwise.
static int16_t TakeDataCharacter(ModuleMachine* machine, uint8_t byte, int32_t* badCount) {
    int16_t digit = DigitValueOf(byte);
    if (!IsUpperHexDigit(byte)) {
        (*badCount)++;
    }
    if (digit < 0) {
        return -1;
    }
    if (machine->highNibble < 0) {
        machine->highNibble = digit;
        return -1;
    }
    int16_t value = static_cast<int16_t>(16 * machine->highNibble + digit);
    machine->highNibble = -1;
    return value;
}

// The line feed that ends the data: a half pair before it is a bad character.
static void EndData(ModuleMachine* machine, int32_t* badCount, int16_t nextState) {
    if (machine->highNibble >= 0) {
        (*badCount)++;
        machine->highNibble = -1;
    }
    machine->digitCount = 0;
    machine->state = nextState;
}

static bool TakeChecksumDigit(ModuleMachine* machine, uint8_t byte, char* text) {
    machine->digits[machine->digitCount++] = static_cast<char>(byte);
    if (machine->digitCount < 4) {
        return false;
    }
    memcpy(text, machine->digits, 4);
    text[4] = 0;
    return true;
}

static void SendConfirmation(ModuleMachine* machine, ModuleOutput* out) {
    SimReport* report = &machine->report;
    const SimOptions* options = &machine->options;
    int16_t fault = options->confirmFault;
    int32_t start = out->length;
    out->delayMs = options->confirmDelayMs;
    if (fault == kConfirmMissing) {
        AddEvent(&machine->log, "confirmation left out");
        return;
    }
    if (!report->checksumMatched) {
        AppendText(out, "\r");
        AppendText(out, kChecksumErrorText);
        AppendText(out, "\n");
    } else {
        if (fault != kConfirmNoLeadingByte) {
            AppendText(out, "\r");
        }
        AppendText(out, fault == kConfirmOtherText ? options->otherConfirmText : kConfirmText);
        AppendText(out, fault == kConfirmCrLf ? "\r\n" : "\n");
    }
    int32_t length = out->length - start;
    if (length > kConfirmationCapacity) {
        length = kConfirmationCapacity;
    }
    memcpy(report->confirmation, out->bytes + start, static_cast<size_t>(length));
    report->confirmationLength = length;
}

static void FinishDownload(ModuleMachine* machine, ModuleOutput* out) {
    SimReport* report = &machine->report;
    report->checksumComplete = 1;
    bool valid = ReadHexWord(report->checksumText, &report->checksumReceived);
    report->checksumMatched = valid && report->checksumReceived == report->firmwareSum &&
                                      machine->options.checksumCheckFails != 1
                                  ? 1
                                  : 0;
    machine->state = kModuleReady;
    AddEvent(&machine->log, "download end: %d script bytes, checksum \"%s\", own sum %04X: %s",
             report->firmwareByteCount, report->checksumText, report->firmwareSum,
             report->checksumMatched ? "match" : "MISMATCH");
    SendConfirmation(machine, out);
}

static void FinishWriteBack(ModuleMachine* machine) {
    SimReport* report = &machine->report;
    report->writeBackComplete = 1;
    bool valid = ReadHexWord(report->writeBackChecksumText, &report->writeBackChecksumReceived);
    report->writeBackMatched = valid && report->writeBackChecksumReceived == report->writeBackSum &&
                                       machine->options.checksumCheckFails != 1
                                   ? 1
                                   : 0;
    machine->state = kModuleReady;
    if (!report->writeBackMatched) {
        AddEvent(&machine->log,
                 "write-back: %d values, checksum \"%s\", own sum %04X: MISMATCH, not stored",
                 report->writeBackCount, report->writeBackChecksumText, report->writeBackSum);
        return;
    }
    int32_t count =
        report->writeBackCount < kRecordCapacity ? report->writeBackCount : kRecordCapacity;
    memcpy(report->record, report->writeBackValues, static_cast<size_t>(count));
    report->recordCount = count;
    SetStationAddress(report);
    report->writeBackStored = 1;
    machine->recordChanged = 1;
    AddEvent(&machine->log,
             "write-back: %d values, checksum \"%s\" matches, stored: station address %d",
             report->writeBackCount, report->writeBackChecksumText, report->stationAddress);
}

void FeedTransferByte(ModuleMachine* machine, uint8_t byte, ModuleOutput* out) {
    SimReport* report = &machine->report;
    int16_t value = -1;
    switch (machine->state) {
    case kModuleDownload:
        if (byte == 0x0A) {
            EndData(machine, &report->badCharacterCount, kModuleDownloadChecksum);
            break;
        }
        value = TakeDataCharacter(machine, byte, &report->badCharacterCount);
        if (value >= 0) {
            StoreFirmwareByte(machine, static_cast<uint8_t>(value), out);
        }
        break;
    case kModuleDownloadChecksum:
        if (TakeChecksumDigit(machine, byte, report->checksumText)) {
            FinishDownload(machine, out);
        }
        break;
    case kModuleWriteBack:
        if (byte == 0x0A) {
            EndData(machine, &report->writeBackBadCharacterCount, kModuleWriteBackChecksum);
            break;
        }
        value = TakeDataCharacter(machine, byte, &report->writeBackBadCharacterCount);
        if (value >= 0) {
            StoreWriteBackValue(machine, static_cast<uint8_t>(value));
        }
        break;
    case kModuleWriteBackChecksum:
        if (TakeChecksumDigit(machine, byte, report->writeBackChecksumText)) {
            machine->state = kModuleWriteBackEnd;
        }
        break;
    case kModuleWriteBackEnd:
        if (byte == 0x0A) {
            FinishWriteBack(machine);
        } else {
            machine->state = kModuleReady;
            AddEvent(&machine->log, "write-back: 0x%02X instead of the final line feed, not stored",
                     byte);
        }
        break;
    default: // off or babbling: deaf
        break;
    }
}
