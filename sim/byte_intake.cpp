// The two ways received bytes reach the module: the serial layer's byte
// callback, or a reader thread that polls a port in direct mode.
#include "port_table.h"
#include "simulator_state.h"

void OnReceivedBytes(int16_t /*callbackTag*/, std::atomic<int16_t>* readIndex,
                     std::atomic<int16_t>* writeIndex, uint8_t* data) {
    int64_t now = NowTicks();
    AcquireSRWLockExclusive(&simLock);
    int16_t index = *readIndex;
    while (index != *writeIndex) {
        uint8_t byte = data[index];
        index = static_cast<int16_t>((index + 1) % kRingSize);
        *readIndex = index;
        TakeReceivedByte(byte, now);
    }
    ReleaseSRWLockExclusive(&simLock);
}

enum : int32_t { kPollBatch = 256 };

DWORD WINAPI PollingReaderThread(LPVOID /*argument*/) {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    const int16_t port = simState.portNumber;
    uint8_t batch[kPollBatch];
    while (simThreadsRunning == 1) {
        // Takes what is waiting, a byte per read, then hands it over at once.
        int32_t count = 0;
        uint8_t read[2];
        while (count < kPollBatch && ReadPort(port, 1, 0, 0, read, sizeof read) == 0) {
            batch[count++] = read[0];
        }
        if (count == 0) {
            Sleep(1);
            continue;
        }
        int64_t now = NowTicks();
        AcquireSRWLockExclusive(&simLock);
        for (int32_t i = 0; i < count; ++i) {
            TakeReceivedByte(batch[i], now);
        }
        ReleaseSRWLockExclusive(&simLock);
    }
    return 0;
}
