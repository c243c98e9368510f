#include "simulator_state.h"

#include "pacing.h"
#include "serial_port.h"
#include "state_file.h"

SRWLOCK simLock = SRWLOCK_INIT;
SimulatorState simState;
ModuleMachine simMachine;
SendQueue simQueue;
ModuleOutput simOutput;
std::atomic<int16_t> simThreadsRunning{0};

int64_t NowTicks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t MsToTicks(int32_t milliseconds) {
    return simState.frequency * milliseconds / 1000;
}

void DispatchOutput(const ModuleOutput* out, int64_t baseTicks) {
    if (out->length == 0 || simState.closing) {
        return;
    }
    if (simState.byteTicks == 0 && out->delayMs == 0 && simQueue.count == 0) {
        WritePort(simState.portNumber, out->bytes, static_cast<int16_t>(out->length));
        return;
    }
    if (!QueueSegment(&simQueue, out->bytes, out->length, baseTicks + MsToTicks(out->delayMs),
                      simState.byteTicks)) {
        AddEvent(&simMachine.log, "send queue full: %d bytes of output dropped", out->length);
        return;
    }
    SetEvent(simState.wakeEvent);
}

void TakeReceivedByte(uint8_t byte, int64_t nowTicks) {
    int64_t arrival = nowTicks;
    if (simState.byteTicks > 0) {
        arrival = ModelArrival(simState.lastArrival, nowTicks, simState.byteTicks);
    }
    simState.lastArrival = arrival;
    FeedModuleByte(&simMachine, byte, &simOutput);
    DispatchOutput(&simOutput, arrival);
    if (simMachine.recordChanged && simState.options.stateFile[0] != 0) {
        simMachine.recordChanged = 0;
        const SimReport* report = &simMachine.report;
        if (SaveStateFile(simState.options.stateFile, report->record, report->recordCount) != 0) {
            AddEvent(&simMachine.log, "state file %s could not be written",
                     simState.options.stateFile);
        }
    }
}
