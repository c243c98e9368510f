// The sending thread: output that is delayed, paced or endless leaves here,
// in the order it was queued.
#include "pacing.h"
#include "serial_port.h"
#include "simulator_state.h"

static DWORD TicksToWaitMs(int64_t ticks) {
    if (ticks <= 0) {
        return 0;
    }
    int64_t ms = (ticks * 1000 + simState.frequency - 1) / simState.frequency;
    return static_cast<DWORD>(ms < 50 ? ms : 50);
}

// Writes what of the first segment is due by now. Returns how long to wait
// before its next byte is due (0: look again at once). Caller holds simLock.
static DWORD SendDueBytes(SendSegment* segment, int64_t now) {
    const int16_t port = simState.portNumber;
    if (segment->byteTicks == 0) {
        if (now < segment->dueTicks) {
            return TicksToWaitMs(segment->dueTicks - now);
        }
        WritePort(port, segment->bytes + segment->sent,
                  static_cast<int16_t>(segment->length - segment->sent));
        DropFirstSegment(&simQueue);
        return 0;
    }
    // Paced: a byte leaves once it is fully on the wire, so the far end never
    // sees it earlier than the line's rate allows; late ones leave together.
    int32_t due = 0;
    int64_t next = NextSendTime(segment->dueTicks, simState.lineFreeAt, segment->byteTicks);
    while (segment->sent + due < segment->length && next <= now) {
        simState.lineFreeAt = next;
        due++;
        next = NextSendTime(segment->dueTicks, simState.lineFreeAt, segment->byteTicks);
    }
    if (due > 0) {
        WritePort(port, segment->bytes + segment->sent, static_cast<int16_t>(due));
        segment->sent += due;
    }
    if (segment->sent == segment->length) {
        DropFirstSegment(&simQueue);
        return 0;
    }
    DWORD wait = TicksToWaitMs(next - now);
    return wait > 0 ? wait : 1;
}

DWORD WINAPI SenderThread(LPVOID /*argument*/) {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    while (simThreadsRunning == 1) {
        DWORD wait = 50;
        AcquireSRWLockExclusive(&simLock);
        int64_t now = NowTicks();
        if (simMachine.state == kModuleBabbling && simQueue.count == 0 && !simState.closing) {
            NextBabbleLine(&simMachine, &simOutput);
            QueueSegment(&simQueue, simOutput.bytes, simOutput.length, now, simState.babbleTicks);
        }
        SendSegment* segment = FirstSegment(&simQueue);
        if (segment != nullptr && !simState.closing) {
            wait = SendDueBytes(segment, now);
        }
        ReleaseSRWLockExclusive(&simLock);
        if (wait > 0) {
            WaitForSingleObject(simState.wakeEvent, wait);
        }
    }
    return 0;
}
