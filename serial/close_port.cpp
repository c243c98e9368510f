#include "port_table.h"
#include "port_threads.h"
#include "write_port.h"

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
        AwaitThreadStop(slot->monitorThread);
    }

    EscapeCommFunction(slot->portHandle, CLRDTR);
    Sleep(10);
    EscapeCommFunction(slot->portHandle, CLRRTS);

    FinishPendingWrite(slot);
    if (!slot->directMode && slot->receiveRunning == 1) {
        // Closing the device ends the thread's pending read.
        RequestThreadStop(&slot->receiveRunning);
        CloseHandle(slot->portHandle);
        AwaitThreadStop(slot->receiveThread);
    } else {
        CloseHandle(slot->portHandle);
    }

    CloseIfSet(&slot->receiveThread);
    CloseIfSet(&slot->monitorThread);
    CloseIfSet(&slot->dataArrivedEvent);
    CloseIfSet(&slot->writeEvent);
    slot->portHandle = nullptr;
    CloseTrace(portNumber);
    return 0;
}
