#include "simulator.h"

#include <cstring>

#include "module_record.h"
#include "pacing.h"
#include "serial_port.h"
#include "simulator_state.h"
#include "state_file.h"

static void SetPacing(const SimOptions* options) {
    simState.byteTicks = ByteTicks(options->pacingBaud, simState.frequency);
    simState.babbleTicks =
        ByteTicks(options->pacingBaud > 0 ? options->pacingBaud : 9600, simState.frequency);
}

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

static HANDLE StartThread(LPTHREAD_START_ROUTINE routine) {
    return CreateThread(nullptr, 0, routine, nullptr, 0, nullptr);
}

static void StopThreads() {
    simThreadsRunning = 0;
    if (simState.wakeEvent != nullptr) {
        SetEvent(simState.wakeEvent);
    }
    if (simState.senderThread != nullptr) {
        WaitForSingleObject(simState.senderThread, INFINITE);
        CloseHandle(simState.senderThread);
        simState.senderThread = nullptr;
    }
    if (simState.wakeEvent != nullptr) {
        CloseHandle(simState.wakeEvent);
        simState.wakeEvent = nullptr;
    }
}

int16_t StartSimulator(int16_t portNumber, const SimOptions* options) {
    AcquireSRWLockExclusive(&simLock);
    if (simState.running) {
        ReleaseSRWLockExclusive(&simLock);
        return 1;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    simState.frequency = frequency.QuadPart;
    simState.options = *options;
    simState.portNumber = portNumber;
    simState.closing = 0;
    simState.lastArrival = kLongAgo;
    simState.lineFreeAt = kLongAgo;
    SetPacing(options);

    static uint8_t record[kRecordCapacity];
    bool fromFile = false;
    int32_t count = LoadStartRecord(options, record, &fromFile);
    StartModuleMachine(&simMachine, options, record, count);
    if (options->stateFile[0] != 0) {
        AddEvent(&simMachine.log,
                 fromFile ? "record of %d values read from the state file"
                          : "no record in the state file: factory record of %d values",
                 count);
    }
    ClearSendQueue(&simQueue);
    ReleaseSRWLockExclusive(&simLock);

    PortConfig config = ModuleLineConfig(portNumber, OnReceivedBytes);
    const int16_t opened = OpenPort(&config);
    if (opened != 0) {
        if (opened != kPortInUse) {
            ClosePort(portNumber); // what the failed opening left; never another user's port
        }
        return 1;
    }
    if (options->traceFile[0] != 0 && OpenTrace(portNumber, options->traceFile) != 0) {
        AcquireSRWLockExclusive(&simLock);
        AddEvent(&simMachine.log, "trace file %s could not be created", options->traceFile);
        ReleaseSRWLockExclusive(&simLock);
    }

    simState.wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    simThreadsRunning = 1;
    simState.senderThread = StartThread(SenderThread);
    if (simState.wakeEvent == nullptr || simState.senderThread == nullptr) {
        StopThreads();
        ClosePort(portNumber);
        return 1;
    }
    AcquireSRWLockExclusive(&simLock);
    simState.running = 1;
    ReleaseSRWLockExclusive(&simLock);
    return 0;
}

void StopSimulator() {
    AcquireSRWLockExclusive(&simLock);
    if (!simState.running) {
        ReleaseSRWLockExclusive(&simLock);
        return;
    }
    // From here on nothing is written: the port may close under a writer.
    simState.closing = 1;
    ClearSendQueue(&simQueue);
    ReleaseSRWLockExclusive(&simLock);
    StopThreads();
    ClosePort(simState.portNumber);
    AcquireSRWLockExclusive(&simLock);
    simState.running = 0;
    ReleaseSRWLockExclusive(&simLock);
}

void PowerOnModule() {
    AcquireSRWLockExclusive(&simLock);
    if (simState.running && !simState.closing) {
        ClearSendQueue(&simQueue);
        simState.lastArrival = kLongAgo;
        PowerOnMachine(&simMachine, &simOutput);
        DispatchOutput(&simOutput, NowTicks());
        SetEvent(simState.wakeEvent);
    }
    ReleaseSRWLockExclusive(&simLock);
}

void PowerOffModule() {
    AcquireSRWLockExclusive(&simLock);
    if (simState.running) {
        PowerOffMachine(&simMachine);
        ClearSendQueue(&simQueue);
    }
    ReleaseSRWLockExclusive(&simLock);
}

void ChangeSimOptions(const SimOptions* options) {
    AcquireSRWLockExclusive(&simLock);
    SimOptions changed = *options;
    memcpy(changed.stateFile, simState.options.stateFile, sizeof changed.stateFile);
    memcpy(changed.traceFile, simState.options.traceFile, sizeof changed.traceFile);
    simState.options = changed;
    ChangeMachineOptions(&simMachine, &changed);
    SetPacing(&changed);
    ReleaseSRWLockExclusive(&simLock);
}

void ReadSimReport(SimReport* report) {
    AcquireSRWLockExclusive(&simLock);
    *report = simMachine.report;
    ReleaseSRWLockExclusive(&simLock);
}

int32_t CopyReceivedFirmware(uint8_t* buffer, int32_t capacity) {
    AcquireSRWLockExclusive(&simLock);
    int32_t count = simMachine.report.firmwareByteCount;
    if (count > kFirmwareCapacity) {
        count = kFirmwareCapacity;
    }
    if (count > capacity) {
        count = capacity;
    }
    if (count > 0) {
        memcpy(buffer, simMachine.firmware, static_cast<size_t>(count));
    }
    ReleaseSRWLockExclusive(&simLock);
    return count;
}

bool TakeSimEvent(char* line, int32_t capacity) {
    AcquireSRWLockExclusive(&simLock);
    bool taken = TakeEvent(&simMachine.log, line, capacity);
    ReleaseSRWLockExclusive(&simLock);
    return taken;
}
