// One simulated module on its port, and the fixed table of them: the module's
// machine with the plumbing around it. Received bytes reach the machine
// through the serial layer's byte callback (the port's receive thread, whose
// callback tag is the instance's slot); its answers leave at once, or through
// the instance's sending thread when they are delayed or paced.
//
// An instance is shared by the caller's threads, its port's receive thread
// and its sending thread. Everything in it is touched only while its lock is
// held, except what the table lock guards (claimed, portNumber, stopOrder,
// stuck) and threadsRunning.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "module_machine.h"
#include "send_queue.h"

struct SimInstance {
    SRWLOCK lock;
    int16_t slot;        // index in the table; the port's callback tag
    int16_t claimed;     // from StartSimulator until the instance has stopped
    int16_t stuck;       // its sending thread did not end: the slot is never used again
    int16_t portNumber;  // kept after the stop, so that its report stays readable
    int32_t stopOrder;   // 0 before the first stop; later stops count higher
    int16_t running;     // between the start and the stop
    int16_t closing;     // the port is about to close: nothing more is written
    SimOptions options;  // as given to StartSimulator
    int64_t frequency;   // performance-counter ticks per second
    int64_t byteTicks;   // wire time of a byte when paced; 0 unpaced
    int64_t babbleTicks; // wire time of a byte of endless start-up output
    int64_t lastArrival; // modelled arrival of the last received byte
    int64_t lineFreeAt;  // when the last paced byte was fully on the wire
    HANDLE wakeEvent;    // wakes the sending thread
    HANDLE senderThread;
    std::atomic<int16_t> threadsRunning;
    ModuleMachine machine;
    SendQueue queue;
    ModuleOutput output; // scratch answer of the machine
};

// Takes a free slot for portNumber (one that ran on the same port first, then
// one never used, then the one stopped longest ago). nullptr when a simulator
// is claimed on that port already or no slot is free.
SimInstance* ClaimSimInstance(int16_t portNumber);

// Frees a claimed slot after its stop; its report stays readable until the
// slot is claimed again.
void ReleaseSimInstance(SimInstance* instance);

// The instance claimed on portNumber, else the one that ran there last;
// nullptr when none did.
SimInstance* FindSimInstance(int16_t portNumber);

// The first claimed instance in table order, else the one stopped last;
// nullptr when none has run.
SimInstance* DefaultSimInstance();

// Copies the claimed instances into list (kSimulatorSlots entries) and
// returns their number.
int16_t ClaimedSimInstances(SimInstance** list);

int64_t NowTicks();

// Sets the wire times of the options' pacing. Caller holds the lock.
void SetPacing(SimInstance* instance, const SimOptions* options);

// Sends out, or queues it for the sending thread, to leave out->delayMs after
// baseTicks (and at the paced rate). Caller holds the lock.
void DispatchOutput(SimInstance* instance, const ModuleOutput* out, int64_t baseTicks);

// Starts and stops the instance's sending thread and its wake event. Start
// returns false when either could not be made (what was made is undone).
// Stop waits a bounded time; a thread that has not ended by then marks the
// slot stuck.
bool StartSenderThread(SimInstance* instance);
void StopSenderThread(SimInstance* instance);

// The serial layer's byte callback: received bytes reach the machine of the
// instance in slot callbackTag.
void OnReceivedBytes(int16_t callbackTag, std::atomic<int16_t>* readIndex,
                     std::atomic<int16_t>* writeIndex, uint8_t* data);
