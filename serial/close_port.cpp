#include "device_calls.h"
#include "port_table.h"
#include "port_threads.h"
#include "write_port.h"

// How long the receive thread may take to end once its read is cancelled;
// past it, the closing of the device ends the read.
enum : DWORD { kReceiveStopLimitMs = 1000 };

// Extra time, beyond the wire time of its bytes, that the last write of a
// port in receive-thread mode is given before it is cancelled.
enum : DWORD { kWriteDrainMarginMs = 500 };

static void CloseIfSet(HANDLE* handle) {
    if (*handle != nullptr) {
        CloseHandle(*handle);
        *handle = nullptr;
    }
}

int16_t ClosePort(int16_t portNumber) {
    PortSlot* slot = OpenSlot(portNumber);
    if (slot == nullptr) {
        return 0;
    }
    if (slot->monitorRunning == 1) {
        RequestThreadStop(&slot->monitorRunning);
        AwaitThreadStop(slot->monitorThread, INFINITE);
    }

    deviceCalls.escapeCommFunction(slot->portHandle, CLRDTR);
    Sleep(10);
    deviceCalls.escapeCommFunction(slot->portHandle, CLRRTS);

    FinishPendingWrite(slot, WriteWireTimeMs(slot) + kWriteDrainMarginMs);
    bool receiveStopped = true;
    if (!slot->directMode && slot->receiveRunning == 1) {
        // The thread's pending read is cancelled, and the thread waits for
        // its end before it goes: the read never outlives its buffer.
        RequestThreadStop(&slot->receiveRunning);
        deviceCalls.cancelIoEx(slot->portHandle, nullptr);
        receiveStopped = AwaitThreadStop(slot->receiveThread, kReceiveStopLimitMs);
    }
    // Closing the device ends whatever the device would not cancel.
    deviceCalls.closeHandle(slot->portHandle);
    AwaitClosedWrite(slot);
    if (!receiveStopped) {
        AwaitThreadStop(slot->receiveThread, INFINITE);
    }

    CloseIfSet(&slot->receiveThread);
    CloseIfSet(&slot->monitorThread);
    CloseIfSet(&slot->dataArrivedEvent);
    CloseIfSet(&slot->writeEvent);
    ReturnReceiveBuffers(slot);
    slot->portHandle = nullptr;
    CloseTrace(portNumber);
    return 0;
}
