#include "module_machine.h"

#include <cstdio>
#include <cstring>

#include "module_record.h"
#include "module_transfers.h"

static const char kBanner[] = "Konfigmode...";
static const char kVersion[] = "Korvan V2.07";

void StartModuleMachine(ModuleMachine* machine, const SimOptions* options, const uint8_t* record,
                        int32_t count) {
    machine->options = *options;
    machine->state = kModuleOff;
    memset(&machine->report, 0, sizeof machine->report);
    machine->report.faultyAckIndex = -1;
    if (count > kRecordCapacity) {
        count = kRecordCapacity;
    }
    memcpy(machine->report.record, record, static_cast<size_t>(count));
    machine->report.recordCount = count;
    if (options->initialStationAddress >= 0 && count > kStationAddressIndex) {
        machine->report.record[kStationAddressIndex] =
            static_cast<uint8_t>(options->initialStationAddress);
    }
    SetStationAddress(&machine->report);
    machine->highNibble = -1;
    machine->digitCount = 0;
    machine->babbleLines = 0;
    machine->recordChanged = 0;
    EmptyEventLog(&machine->log);
}

void ChangeMachineOptions(ModuleMachine* machine, const SimOptions* options) {
    machine->options = *options;
}

// The line before the banner: the version, or the text the options give.
static void AppendVersionLine(const ModuleMachine* machine, ModuleOutput* out) {
    const char* text = machine->options.startupText;
    AppendText(out, "\r\n");
    AppendText(out, text[0] != 0 ? text : kVersion);
    AppendText(out, "\r\n");
}

void PowerOnMachine(ModuleMachine* machine, ModuleOutput* out) {
    ClearOutput(out);
    SimReport* report = &machine->report;
    if (report->poweredOn) {
        AddEvent(&machine->log, "power off");
    }
    report->poweredOn = 1;
    report->powerOnCount++;
    machine->highNibble = -1;
    machine->digitCount = 0;
    out->delayMs = machine->options.powerOnDelayMs;
    if (machine->options.powerGlitch == 1) {
        // What a receiver makes of the line while the supply comes up.
        static const uint8_t kGlitch[] = {0x00, 0xFF, 0xF8};
        Append(out, kGlitch, sizeof kGlitch);
    }

    switch (machine->options.startupFault) {
    case kStartupEndless:
        machine->state = kModuleBabbling;
        machine->babbleLines = 0;
        AddEvent(&machine->log, "power on: endless start-up output without banner");
        return;
    case kStartupBannerOnly:
        AppendText(out, kBanner);
        break;
    case kStartupWrongLetter:
        AppendVersionLine(machine, out);
        AppendText(out, "k");
        AppendText(out, kBanner + 1);
        break;
    default:
        AppendVersionLine(machine, out);
        AppendText(out, kBanner);
        break;
    }
    if (machine->options.bannerLineEnd == 1) {
        AppendText(out, "\r\n");
    }
    machine->state = kModuleReady;
    if (machine->options.startupFault != kStartupWrongLetter) {
        report->bannerCount++;
    }
    AddEvent(&machine->log, "power on: %d bytes of start-up output sent%s", out->length,
             machine->options.startupFault == kStartupWrongLetter ? ", banner with a wrong letter"
                                                                  : ", banner \"Konfigmode...\"");
}

void PowerOffMachine(ModuleMachine* machine) {
    if (machine->report.poweredOn) {
        AddEvent(&machine->log, "power off");
    }
    machine->report.poweredOn = 0;
    machine->state = kModuleOff;
}

void NextBabbleLine(ModuleMachine* machine, ModuleOutput* out) {
    ClearOutput(out);
    if (machine->state != kModuleBabbling) {
        return;
    }
    char line[48];
    snprintf(line, sizeof line, "Korvan boot: flash check %05d\r\n",
             static_cast<int>(machine->babbleLines % 100000));
    machine->babbleLines++;
    AppendText(out, line);
}

// Answer to a handshake byte: the normal text, silence, or the wrong text.
static void AnswerHandshake(ModuleMachine* machine, int16_t fault, const char* normal,
                            const char* wrong, uint8_t command, ModuleOutput* out) {
    const char* answer = fault == kAnswerNone ? "" : fault == kAnswerWrong ? wrong : normal;
    AppendText(out, answer);
    if (fault == kAnswerNone) {
        AddEvent(&machine->log, "handshake 0x%02X: no answer", command);
    } else {
        AddEvent(&machine->log, "handshake 0x%02X -> \"%s\"", command, answer);
    }
}

static void SendConfiguration(ModuleMachine* machine, ModuleOutput* out) {
    SimReport* report = &machine->report;
    report->configReadCount++;
    if (machine->options.configSilent == 1) {
        report->configSentLength = 0;
        AddEvent(&machine->log, "configuration read (0x15): no answer");
        return;
    }
    out->length = BuildConfigReply(report->record, report->recordCount, &machine->options,
                                   out->bytes, kOutputCapacity);
    report->configSentLength =
        out->length < kConfigReplyCapacity ? out->length : kConfigReplyCapacity;
    memcpy(report->configSent, out->bytes, static_cast<size_t>(report->configSentLength));
    AddEvent(&machine->log, "configuration read (0x15): %d bytes sent, station address %d",
             out->length, report->stationAddress);
}

static void TakeCommand(ModuleMachine* machine, uint8_t byte, ModuleOutput* out) {
    SimReport* report = &machine->report;
    const SimOptions* options = &machine->options;
    switch (byte) {
    case 0x14:
        report->answer14Count++;
        AnswerHandshake(machine, options->answer14, "OK", options->wrongAnswer14, byte, out);
        break;
    case 0x10:
        report->answer10Count++;
        StartDownload(machine);
        AnswerHandshake(machine, options->answer10, ".", options->wrongAnswer10, byte, out);
        break;
    case 0x15:
        SendConfiguration(machine, out);
        break;
    case 0x04:
        StartWriteBack(machine);
        break;
    default:
        report->ignoredByteCount++;
        break;
    }
}

void FeedModuleByte(ModuleMachine* machine, uint8_t byte, ModuleOutput* out) {
    ClearOutput(out);
    if (machine->state == kModuleReady) {
        TakeCommand(machine, byte, out);
    } else {
        FeedTransferByte(machine, byte, out);
    }
}
