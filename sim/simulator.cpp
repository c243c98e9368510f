#include "simulator.h"

#include <cstring>

#include "module_record.h"
#include "serial_port.h"
#include "sim_instance.h"

// The record the module starts with: from the state file when it holds one.
static int32_t LoadStartRecord(const SimOptions* options, uint8_t* record, bool* fromFile) {
    *fromFile = false;
    if (options->stateFile[0] != 0) {
        int32_t count = LoadStateFile(options->stateFile, record, kRecordCapacity);
        if (count > 0) {
            *fromFile = true;
            return count;
        }
    }
    return SetDefaultRecord(record);
}

// A claimed instance with its module off, its queue empty, not yet running.
static void PrepareInstance(SimInstance* instance, const SimOptions* options) {
    AcquireSRWLockExclusive(&instance->lock);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    instance->frequency = frequency.QuadPart;
    instance->options = *options;
    instance->running = 0;
    instance->closing = 0;
    instance->lastArrival = kLongAgo;
    instance->lineFreeAt = kLongAgo;
    SetPacing(instance, options);

    uint8_t record[kRecordCapacity];
    bool fromFile = false;
    int32_t count = LoadStartRecord(options, record, &fromFile);
    StartModuleMachine(&instance->machine, options, record, count);
    if (options->stateFile[0] != 0) {
        AddEvent(&instance->machine.log,
                 fromFile ? "record of %d values read from the state file"
                          : "no record in the state file: factory record of %d values",
                 count);
    }
    ClearSendQueue(&instance->queue);
    ReleaseSRWLockExclusive(&instance->lock);
}

int16_t StartSimulator(int16_t portNumber, const SimOptions* options) {
    SimInstance* instance = ClaimSimInstance(portNumber);
    if (instance == nullptr) {
        return 1;
    }
    PrepareInstance(instance, options);

    PortConfig config = ModuleLineConfig(portNumber, OnReceivedBytes);
    config.callbackTag = instance->slot;
    const int16_t opened = OpenPort(&config);
    if (opened != 0) {
        if (opened != kPortInUse) {
            ClosePort(portNumber); // what the failed opening left; never another user's port
        }
        ReleaseSimInstance(instance);
        return 1;
    }
    if (options->traceFile[0] != 0 && OpenTrace(portNumber, options->traceFile) != 0) {
        AcquireSRWLockExclusive(&instance->lock);
        AddEvent(&instance->machine.log, "trace file %s could not be created", options->traceFile);
        ReleaseSRWLockExclusive(&instance->lock);
    }
    if (!StartSenderThread(instance)) {
        ClosePort(portNumber);
        ReleaseSimInstance(instance);
        return 1;
    }
    AcquireSRWLockExclusive(&instance->lock);
    instance->running = 1;
    ReleaseSRWLockExclusive(&instance->lock);
    return 0;
}

static void StopInstance(SimInstance* instance) {
    AcquireSRWLockExclusive(&instance->lock);
    if (!instance->running || instance->closing) {
        ReleaseSRWLockExclusive(&instance->lock);
        return;
    }
    // From here on nothing is written: the port may close under a writer.
    instance->closing = 1;
    ClearSendQueue(&instance->queue);
    ReleaseSRWLockExclusive(&instance->lock);
    StopSenderThread(instance);
    ClosePort(instance->portNumber);
    AcquireSRWLockExclusive(&instance->lock);
    instance->running = 0;
    ReleaseSRWLockExclusive(&instance->lock);
    ReleaseSimInstance(instance);
}

void StopSimulator() {
    SimInstance* running[kSimulatorSlots];
    int16_t count = ClaimedSimInstances(running);
    for (int16_t i = 0; i < count; ++i) {
        StopInstance(running[i]);
    }
}

void StopSimulatorOn(int16_t portNumber) {
    SimInstance* instance = FindSimInstance(portNumber);
    if (instance != nullptr) {
        StopInstance(instance);
    }
}

static void PowerOn(SimInstance* instance) {
    if (instance == nullptr) {
        return;
    }
    AcquireSRWLockExclusive(&instance->lock);
    if (instance->running && !instance->closing) {
        ClearSendQueue(&instance->queue);
        instance->lastArrival = kLongAgo;
        PowerOnMachine(&instance->machine, &instance->output);
        DispatchOutput(instance, &instance->output, NowTicks());
        SetEvent(instance->wakeEvent);
    }
    ReleaseSRWLockExclusive(&instance->lock);
}

void PowerOnModule() {
    PowerOn(DefaultSimInstance());
}

void PowerOnModuleOn(int16_t portNumber) {
    PowerOn(FindSimInstance(portNumber));
}

static void PowerOff(SimInstance* instance) {
    if (instance == nullptr) {
        return;
    }
    AcquireSRWLockExclusive(&instance->lock);
    if (instance->running) {
        PowerOffMachine(&instance->machine);
        ClearSendQueue(&instance->queue);
    }
    ReleaseSRWLockExclusive(&instance->lock);
}

void PowerOffModule() {
    PowerOff(DefaultSimInstance());
}

void PowerOffModuleOn(int16_t portNumber) {
    PowerOff(FindSimInstance(portNumber));
}

static void ChangeOptions(SimInstance* instance, const SimOptions* options) {
    if (instance == nullptr) {
        return;
    }
    AcquireSRWLockExclusive(&instance->lock);
    SimOptions changed = *options;
    memcpy(changed.stateFile, instance->options.stateFile, sizeof changed.stateFile);
    memcpy(changed.traceFile, instance->options.traceFile, sizeof changed.traceFile);
    instance->options = changed;
    ChangeMachineOptions(&instance->machine, &changed);
    SetPacing(instance, &changed);
    ReleaseSRWLockExclusive(&instance->lock);
}

void ChangeSimOptions(const SimOptions* options) {
    ChangeOptions(DefaultSimInstance(), options);
}

void ChangeSimOptionsOn(int16_t portNumber, const SimOptions* options) {
    ChangeOptions(FindSimInstance(portNumber), options);
}

static bool ReadReport(SimInstance* instance, SimReport* report) {
    if (instance == nullptr) {
        memset(report, 0, sizeof *report);
        return false;
    }
    AcquireSRWLockExclusive(&instance->lock);
    *report = instance->machine.report;
    ReleaseSRWLockExclusive(&instance->lock);
    return true;
}

void ReadSimReport(SimReport* report) {
    ReadReport(DefaultSimInstance(), report);
}

bool ReadSimReportOf(int16_t portNumber, SimReport* report) {
    return ReadReport(FindSimInstance(portNumber), report);
}

static int32_t CopyFirmware(SimInstance* instance, uint8_t* buffer, int32_t capacity) {
    if (instance == nullptr) {
        return 0;
    }
    AcquireSRWLockExclusive(&instance->lock);
    int32_t count = instance->machine.report.firmwareByteCount;
    if (count > kFirmwareCapacity) {
        count = kFirmwareCapacity;
    }
    if (count > capacity) {
        count = capacity;
    }
    if (count > 0) {
        memcpy(buffer, instance->machine.firmware, static_cast<size_t>(count));
    }
    ReleaseSRWLockExclusive(&instance->lock);
    return count;
}

int32_t CopyReceivedFirmware(uint8_t* buffer, int32_t capacity) {
    return CopyFirmware(DefaultSimInstance(), buffer, capacity);
}

int32_t CopyReceivedFirmwareOf(int16_t portNumber, uint8_t* buffer, int32_t capacity) {
    return CopyFirmware(FindSimInstance(portNumber), buffer, capacity);
}

static bool TakeEventOf(SimInstance* instance, char* line, int32_t capacity) {
    if (instance == nullptr) {
        return false;
    }
    AcquireSRWLockExclusive(&instance->lock);
    bool taken = TakeEvent(&instance->machine.log, line, capacity);
    ReleaseSRWLockExclusive(&instance->lock);
    return taken;
}

bool TakeSimEvent(char* line, int32_t capacity) {
    return TakeEventOf(DefaultSimInstance(), line, capacity);
}

bool TakeSimEventOf(int16_t portNumber, char* line, int32_t capacity) {
    return TakeEventOf(FindSimInstance(portNumber), line, capacity);
}
