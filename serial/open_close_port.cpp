// Opening and closing a port: its device, its line settings, its events and
// its threads with their start and stop hand-shakes.
#include "serial_port.h"

#include <cstdio>

#include "device_calls.h"
#include "device_io.h"
#include "line_settings.h"
#include "monitor_thread.h"
#include "port_table.h"
#include "port_threads.h"
#include "receive_thread.h"
#include "wait_hook.h"
#include "write_and_trace.h"

static void PrepareSlot(PortSlot* slot, const PortConfig* config) {
    slot->directMode = config->byteCallback == nullptr ? 1 : 0;
    slot->lineLostCallback = config->lineLostCallback;
    slot->byteCallback = config->byteCallback;
    slot->tickCallback = config->tickCallback;
    slot->callbackTag = config->callbackTag;
    slot->parityCheck = config->parityCheck == 1 ? 1 : 0;
    slot->receiveRunning = 0;
    slot->monitorRunning = 0;
    slot->traceFile = nullptr;
    slot->monitorThread = nullptr;
    slot->receiveThread = nullptr;
    slot->writeEvent = nullptr;
    slot->dataArrivedEvent = nullptr;
    slot->readPending = 0;
    slot->writePending = 0;
    slot->writeLength = 0;
    slot->lineFreeAtUs = 0;
    slot->buffers = nullptr;
}

static int16_t SetDeviceTimeouts(PortSlot* slot) {
    COMMTIMEOUTS timeouts;
    // Direct mode: a read returns at once with what has arrived, and when
    // nothing has, waits up to kReadWaitMs for the first byte; the reads thus
    // wait for the line inside the device instead of polling it. Receive-
    // thread mode: a read waits for its first byte and ends 1 ms after the
    // last.
    if (slot->directMode) {
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = kReadWaitMs;
    } else {
        timeouts.ReadIntervalTimeout = 1;
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = 0;
    }
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    return deviceCalls.setCommTimeouts(slot->portHandle, &timeouts) ? 0 : 1;
}

static void CloseIfSet(HANDLE* handle) {
    if (*handle != nullptr) {
        CloseHandle(*handle);
        *handle = nullptr;
    }
}

static int16_t CreateEvents(PortSlot* slot) {
    slot->read->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    slot->writeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (slot->read->event == nullptr || slot->writeEvent == nullptr) {
        return 1;
    }
    ZeroMemory(&slot->writeRecord, sizeof slot->writeRecord);
    slot->writeRecord.hEvent = slot->writeEvent;
    slot->dataArrivedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return slot->dataArrivedEvent == nullptr ? 1 : 0;
}

// A slot whose device kept a read or write of an earlier opening even when
// it was closed: its record and bytes are the device's until that operation
// ends, and its event with them. A kept read leaves its area to the device
// and the opening takes another; false when every area is kept, or the
// write is.
static bool SlotReleased(PortSlot* slot) {
    ReadArea* free = nullptr;
    for (ReadArea& area : slot->readAreas) {
        if (DeviceReleased(area.event, &area.stuck)) {
            CloseIfSet(&area.event);
            free = free == nullptr ? &area : free;
        }
    }
    if (free == nullptr || !DeviceReleased(slot->writeEvent, &slot->writeStuck)) {
        return false;
    }
    CloseIfSet(&slot->writeEvent);
    slot->read = free;
    return true;
}

// Sends the wake-up byte at mark parity, gives the far end 100 ms to answer
// whatever it will, and settles the line at space parity.
static int16_t SendWakeUpByte(int16_t portNumber) {
    const uint8_t wakeUp = 0x00;
    uint8_t answer[2];
    PortSlot* slot = &PortTable[portNumber];
    WritePort(portNumber, &wakeUp, 1);
    ReadPort(portNumber, 1, 0, 100, answer, sizeof answer);
    slot->lineSettings.Parity = SPACEPARITY;
    return deviceCalls.setCommState(slot->portHandle, &slot->lineSettings) ? 0 : 1;
}

int16_t OpenPort(const PortConfig* config) {
    const int16_t portNumber = config->portNumber;
    BYTE parity = NOPARITY;
    BYTE stopBits = ONESTOPBIT;
    if (!IsPortNumber(portNumber) || TranslateLineCodes(config, &parity, &stopBits) != 0) {
        return 1;
    }
    // A slot in use is never taken over: its threads rely on its fields.
    if (PortTable[portNumber].portHandle != nullptr) {
        return kPortInUse;
    }
    PortSlot* slot = &PortTable[portNumber];
    if (!SlotReleased(slot)) {
        return 1;
    }
    PrepareSlot(slot, config);
    portOpenErrors[portNumber] = 0;

    // COM1 to COM8 by their plain names; a port above COM9 answers only to its
    // name in the device namespace.
    char deviceName[16];
    snprintf(deviceName, sizeof deviceName, portNumber <= 8 ? "COM%d" : "\\\\.\\COM%d", portNumber);
    DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED;
    HANDLE device = deviceCalls.createFile(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           OPEN_EXISTING, flags, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        portOpenErrors[portNumber] = GetLastError();
        return 1;
    }
    slot->portHandle = device;
    if (!slot->directMode) {
        slot->buffers = TakeReceiveBuffers();
        if (slot->buffers == nullptr) {
            return 1;
        }
    }

    DCB* settings = &slot->lineSettings;
    ZeroMemory(settings, sizeof *settings);
    settings->DCBlength = sizeof *settings;
    if (!deviceCalls.getCommState(device, settings)) {
        return 1;
    }
    ApplyLineSettings(settings, config, parity, stopBits);
    if (!deviceCalls.setCommState(device, settings) || !deviceCalls.setupComm(device, 8192, 8192) ||
        SetDeviceTimeouts(slot) != 0 || CreateEvents(slot) != 0) {
        return 1;
    }

    // A thread that cannot be started leaves nothing behind.
    if (StartPortThread(MonitorThread, portNumber, &slot->monitorThread) != 0 ||
        (!slot->directMode &&
         StartPortThread(ReceiveThread, portNumber, &slot->receiveThread) != 0)) {
        ClosePort(portNumber);
        return 1;
    }

    if (config->parityCode == kParityWakeUp) {
        return SendWakeUpByte(portNumber);
    }
    return 0;
}

// How long a port thread may take to end once asked to.
enum : DWORD { kThreadStopLimitMs = 1000 };

// Asks the receive thread to stop and waits for it, within bounds: its
// pending read is cancelled; a thread that stands in the overflow box has
// the box closed for it; the closing of the device ends whatever the device
// would not cancel. False when it has not stopped even then.
static bool StopReceiveThread(PortSlot* slot) {
    RequestThreadStop(slot, &slot->receiveRunning);
    deviceCalls.cancelIoEx(slot->portHandle, nullptr);
    if (AwaitThreadStop(slot, slot->receiveThread, kThreadStopLimitMs)) {
        return true;
    }
    CloseThreadWindows(slot->receiveThread);
    return AwaitThreadStop(slot, slot->receiveThread, kThreadStopLimitMs);
}

// Closing the device ends what it would not cancel; the end is awaited
// within a bound. An operation that the device keeps even now keeps its
// event with it (SlotReleased closes it once the operation has ended).
static void ReleaseClosedOperation(HANDLE* event, int16_t* stuck) {
    if (*stuck != 0) {
        AwaitObject(*event, kCancelWaitMs);
    }
    if (DeviceReleased(*event, stuck)) {
        CloseIfSet(event);
    }
}

int16_t ClosePort(int16_t portNumber) {
    PortSlot* slot = OpenSlot(portNumber);
    if (slot == nullptr) {
        if (IsPortNumber(portNumber)) {
            PortTable[portNumber].interrupted = 0;
        }
        return 0;
    }
    if (slot->monitorRunning == 1) {
        RequestThreadStop(slot, &slot->monitorRunning);
        AwaitThreadStop(slot, slot->monitorThread, kThreadStopLimitMs);
    }

    deviceCalls.escapeCommFunction(slot->portHandle, CLRDTR);
    PauseMs(10);
    deviceCalls.escapeCommFunction(slot->portHandle, CLRRTS);

    FinishPendingWrite(slot, LastWriteWaitMs(slot));
    bool receiveStopped = true;
    if (!slot->directMode && slot->receiveRunning == 1) {
        receiveStopped = StopReceiveThread(slot);
    }
    EndPendingRead(slot);
    deviceCalls.closeHandle(slot->portHandle);
    AwaitClosedWrite(slot);
    if (!receiveStopped) {
        AwaitThreadStop(slot, slot->receiveThread, kThreadStopLimitMs);
    }
    ReleaseClosedOperation(&slot->read->event, &slot->read->stuck);
    ReleaseClosedOperation(&slot->writeEvent, &slot->writeStuck);
    CloseIfSet(&slot->receiveThread);
    CloseIfSet(&slot->monitorThread);
    CloseIfSet(&slot->dataArrivedEvent);
    ReturnReceiveBuffers(slot);
    slot->portHandle = nullptr;
    CloseTrace(portNumber);
    slot->interrupted = 0;
    return 0;
}
