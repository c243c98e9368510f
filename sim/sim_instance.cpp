#include "sim_instance.h"

#include "module_record.h"
#include "port_table.h"
#include "serial_port.h"

namespace {

SRWLOCK tableLock = SRWLOCK_INIT;
SimInstance instances[kSimulatorSlots];
int32_t lastStopOrder = 0;

// How long a stop waits for the sending thread: longer than its longest write.
const DWORD kThreadEndWaitMs = 10000;

} // namespace

// The table.

// Among free slots: one that ran on the same port first, then the one stopped
// longest ago (a slot never used has stopOrder 0, so it comes before those).
static bool Preferred(const SimInstance* candidate, const SimInstance* chosen, int16_t port) {
    if (chosen == nullptr) {
        return true;
    }
    bool candidateRanThere = candidate->stopOrder > 0 && candidate->portNumber == port;
    bool chosenRanThere = chosen->stopOrder > 0 && chosen->portNumber == port;
    if (candidateRanThere != chosenRanThere) {
        return candidateRanThere;
    }
    return candidate->stopOrder < chosen->stopOrder;
}

SimInstance* ClaimSimInstance(int16_t portNumber) {
    AcquireSRWLockExclusive(&tableLock);
    SimInstance* chosen = nullptr;
    for (SimInstance& candidate : instances) {
        if (candidate.claimed && candidate.portNumber == portNumber) {
            ReleaseSRWLockExclusive(&tableLock);
            return nullptr;
        }
        if (!candidate.claimed && !candidate.stuck && Preferred(&candidate, chosen, portNumber)) {
            chosen = &candidate;
        }
    }
    if (chosen != nullptr) {
        chosen->slot = static_cast<int16_t>(chosen - instances);
        chosen->claimed = 1;
        chosen->portNumber = portNumber;
    }
    ReleaseSRWLockExclusive(&tableLock);
    return chosen;
}

void ReleaseSimInstance(SimInstance* instance) {
    AcquireSRWLockExclusive(&tableLock);
    instance->claimed = 0;
    instance->stopOrder = ++lastStopOrder;
    ReleaseSRWLockExclusive(&tableLock);
}

SimInstance* FindSimInstance(int16_t portNumber) {
    AcquireSRWLockExclusive(&tableLock);
    SimInstance* found = nullptr;
    for (SimInstance& candidate : instances) {
        if (candidate.portNumber != portNumber ||
            (!candidate.claimed && candidate.stopOrder == 0)) {
            continue;
        }
        if (candidate.claimed) {
            found = &candidate;
            break;
        }
        if (found == nullptr || candidate.stopOrder > found->stopOrder) {
            found = &candidate;
        }
    }
    ReleaseSRWLockExclusive(&tableLock);
    return found;
}

SimInstance* DefaultSimInstance() {
    AcquireSRWLockExclusive(&tableLock);
    SimInstance* found = nullptr;
    for (SimInstance& candidate : instances) {
        if (candidate.claimed) {
            found = &candidate;
            break;
        }
        if (candidate.stopOrder > 0 &&
            (found == nullptr || candidate.stopOrder > found->stopOrder)) {
            found = &candidate;
        }
    }
    ReleaseSRWLockExclusive(&tableLock);
    return found;
}

int16_t ClaimedSimInstances(SimInstance** list) {
    AcquireSRWLockExclusive(&tableLock);
    int16_t count = 0;
    for (SimInstance& candidate : instances) {
        if (candidate.claimed) {
            list[count++] = &candidate;
        }
    }
    ReleaseSRWLockExclusive(&tableLock);
    return count;
}

// Time and pacing.

int64_t NowTicks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

static int64_t MsToTicks(const SimInstance* instance, int32_t milliseconds) {
    return instance->frequency * milliseconds / 1000;
}

void SetPacing(SimInstance* instance, const SimOptions* options) {
    instance->byteTicks = ByteTicks(options->pacingBaud, instance->frequency);
    instance->babbleTicks =
        ByteTicks(options->pacingBaud > 0 ? options->pacingBaud : 9600, instance->frequency);
}

// Bytes in, answers out.

void DispatchOutput(SimInstance* instance, const ModuleOutput* out, int64_t baseTicks) {
    if (out->length == 0 || instance->closing) {
        return;
    }
    if (instance->byteTicks == 0 && out->delayMs == 0 && instance->queue.count == 0) {
        WritePort(instance->portNumber, out->bytes, static_cast<int16_t>(out->length));
        return;
    }
    if (!QueueSegment(&instance->queue, out->bytes, out->length,
                      baseTicks + MsToTicks(instance, out->delayMs), instance->byteTicks)) {
        AddEvent(&instance->machine.log, "send queue full: %d bytes of output dropped",
                 out->length);
        return;
    }
    SetEvent(instance->wakeEvent);
}

// Feeds one byte received at nowTicks to the machine and dispatches its
// answer; a stored write-back goes to the state file. Caller holds the lock.
static void TakeReceivedByte(SimInstance* instance, uint8_t byte, int64_t nowTicks) {
    int64_t arrival = nowTicks;
    if (instance->byteTicks > 0) {
        arrival = ModelArrival(instance->lastArrival, nowTicks, instance->byteTicks);
    }
    instance->lastArrival = arrival;
    ModuleMachine* machine = &instance->machine;
    FeedModuleByte(machine, byte, &instance->output);
    DispatchOutput(instance, &instance->output, arrival);
    const char* stateFile = instance->options.stateFile;
    if (machine->recordChanged && stateFile[0] != 0) {
        machine->recordChanged = 0;
        const SimReport* report = &machine->report;
        if (SaveStateFile(stateFile, report->record, report->recordCount) != 0) {
            AddEvent(&machine->log, "state file %s could not be written", stateFile);
        }
    }
}

void OnReceivedBytes(int16_t callbackTag, std::atomic<int16_t>* readIndex,
                     std::atomic<int16_t>* writeIndex, uint8_t* data) {
    if (callbackTag < 0 || callbackTag >= kSimulatorSlots) {
        return;
    }
    SimInstance* instance = &instances[callbackTag];
    int64_t now = NowTicks();
    AcquireSRWLockExclusive(&instance->lock);
    int16_t index = *readIndex;
    while (index != *writeIndex) {
        uint8_t byte = data[index];
        index = static_cast<int16_t>((index + 1) % kRingSize);
        *readIndex = index;
        TakeReceivedByte(instance, byte, now);
    }
    ReleaseSRWLockExclusive(&instance->lock);
}

// The sending thread: output that is delayed, paced or endless leaves here,
// in the order it was queued.

static DWORD TicksToWaitMs(const SimInstance* instance, int64_t ticks) {
    if (ticks <= 0) {
        return 0;
    }
    int64_t ms = (ticks * 1000 + instance->frequency - 1) / instance->frequency;
    return static_cast<DWORD>(ms < 50 ? ms : 50);
}

// Writes what of the first segment is due by now. Returns how long to wait
// before its next byte is due (0: look again at once). Caller holds the lock.
static DWORD SendDueBytes(SimInstance* instance, SendSegment* segment, int64_t now) {
    const int16_t port = instance->portNumber;
    if (segment->byteTicks == 0) {
        if (now < segment->dueTicks) {
            return TicksToWaitMs(instance, segment->dueTicks - now);
        }
        WritePort(port, segment->bytes + segment->sent,
                  static_cast<int16_t>(segment->length - segment->sent));
        DropFirstSegment(&instance->queue);
        return 0;
    }
    // Paced: a byte leaves once it is fully on the wire, so the far end never
    // sees it earlier than the line's rate allows; late ones leave together.
    int32_t due = 0;
    int64_t next = NextSendTime(segment->dueTicks, instance->lineFreeAt, segment->byteTicks);
    while (segment->sent + due < segment->length && next <= now) {
        instance->lineFreeAt = next;
        due++;
        next = NextSendTime(segment->dueTicks, instance->lineFreeAt, segment->byteTicks);
    }
    if (due > 0) {
        WritePort(port, segment->bytes + segment->sent, static_cast<int16_t>(due));
        segment->sent += due;
    }
    if (segment->sent == segment->length) {
        DropFirstSegment(&instance->queue);
        return 0;
    }
    DWORD wait = TicksToWaitMs(instance, next - now);
    return wait > 0 ? wait : 1;
}

static DWORD WINAPI SenderThread(LPVOID argument) {
    SimInstance* instance = static_cast<SimInstance*>(argument);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    while (instance->threadsRunning == 1) {
        DWORD wait = 50;
        AcquireSRWLockExclusive(&instance->lock);
        int64_t now = NowTicks();
        ModuleMachine* machine = &instance->machine;
        if (machine->state == kModuleBabbling && instance->queue.count == 0 && !instance->closing) {
            NextBabbleLine(machine, &instance->output);
            QueueSegment(&instance->queue, instance->output.bytes, instance->output.length, now,
                         instance->babbleTicks);
        }
        SendSegment* segment = FirstSegment(&instance->queue);
        if (segment != nullptr && !instance->closing) {
            wait = SendDueBytes(instance, segment, now);
        }
        ReleaseSRWLockExclusive(&instance->lock);
        if (wait > 0) {
            WaitForSingleObject(instance->wakeEvent, wait);
        }
    }
    return 0;
}

bool StartSenderThread(SimInstance* instance) {
    instance->wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    instance->threadsRunning = 1;
    if (instance->wakeEvent != nullptr) {
        instance->senderThread = CreateThread(nullptr, 0, SenderThread, instance, 0, nullptr);
    }
    if (instance->senderThread == nullptr) {
        StopSenderThread(instance);
        return false;
    }
    return true;
}

void StopSenderThread(SimInstance* instance) {
    instance->threadsRunning = 0;
    if (instance->wakeEvent != nullptr) {
        SetEvent(instance->wakeEvent);
    }
    if (instance->senderThread != nullptr) {
        if (WaitForSingleObject(instance->senderThread, kThreadEndWaitMs) != WAIT_OBJECT_0) {
            // It still uses the instance: leave it its memory and its event.
            AcquireSRWLockExclusive(&tableLock);
            instance->stuck = 1;
            ReleaseSRWLockExclusive(&tableLock);
            return;
        }
        CloseHandle(instance->senderThread);
        instance->senderThread = nullptr;
    }
    if (instance->wakeEvent != nullptr) {
        CloseHandle(instance->wakeEvent);
        instance->wakeEvent = nullptr;
    }
}
