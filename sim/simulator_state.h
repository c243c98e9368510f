// The simulator's process-wide state, shared by the caller's thread, the
// serial layer's receive thread and the sending
// thread. Everything in simState, the machine and the queue is touched only
// while simLock is held.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "module_machine.h"
#include "send_queue.h"

struct SimulatorState {
    int16_t running; // between StartSimulator and StopSimulator
    int16_t closing; // the port is about to close: nothing more is written
    int16_t portNumber;
    SimOptions options;  // as given to StartSimulator
    int64_t frequency;   // performance-counter ticks per second
    int64_t byteTicks;   // wire time of a byte when paced; 0 unpaced
    int64_t babbleTicks; // wire time of a byte of endless start-up output
    int64_t lastArrival; // modelled arrival of the last received byte
    int64_t lineFreeAt;  // when the last paced byte was fully on the wire
    HANDLE wakeEvent;    // wakes the sending thread
    HANDLE senderThread;
};

extern SRWLOCK simLock;
extern SimulatorState simState;
extern ModuleMachine simMachine;
extern SendQueue simQueue;
extern ModuleOutput simOutput; // scratch answer of the machine
extern std::atomic<int16_t> simThreadsRunning;

int64_t NowTicks();
int64_t MsToTicks(int32_t milliseconds);

// Sends out, or queues it for the sending thread, to leave out->delayMs after
// baseTicks (and at the paced rate). Caller holds simLock.
void DispatchOutput(const ModuleOutput* out, int64_t baseTicks);

// Feeds one byte received at nowTicks to the module and dispatches its
// answer. Caller holds simLock.
void TakeReceivedByte(uint8_t byte, int64_t nowTicks);

// Thread procedures; no argument.
DWORD WINAPI SenderThread(LPVOID argument);

// The serial layer's byte callback: received bytes reach the module here.
void OnReceivedBytes(int16_t callbackTag, std::atomic<int16_t>* readIndex,
                     std::atomic<int16_t>* writeIndex, uint8_t* data);
