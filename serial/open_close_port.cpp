// Opening and closing a port: its device, its line settings, its events and
// its threads with their start and stop hand-shakes.
#include "serial_port.h"

#include <cstdio>

#include "device_calls.h"
#include "line_settings.h"
#include "monitor_thread.h"
#include "port_table.h"
#include "port_threads.h"
#include "receive_thread.h"
#include "write_and_trace.h"

static int16_t ReadPlatformFamily() {
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) {
        return 1;
    }
    platformIsNt = version.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
    return 0;
}

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
    slot->writePending = 0;
    slot->writeLength = 0;
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

static int16_t CreateEvents(PortSlot* slot) {
    slot->writeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (slot->writeEvent == nullptr) {
        return 1;
    }
    ZeroMemory(&slot->writeRecord, sizeof slot->writeRecord);
    slot->writeRecord.hEvent = slot->writeEvent;
    slot->dataArrivedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return slot->dataArrivedEvent == nullptr ? 1 : 0;
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
    if (ReadPlatformFamily() != 0) {
        return 1;
    }
    PortSlot* slot = &PortTable[portNumber];
    PrepareSlot(slot, config);
    portOpenErrors[portNumber] = 0;

    // COM1 to COM8 by their plain names; a port above COM9 answers only to its
    // name in the device namespace.
    char deviceName[16];
    snprintf(deviceName, sizeof deviceName, portNumber <= 8 ? "COM%d" : "\\\\.\\COM%d", portNumber);
    DWORD flags = FILE_ATTRIBUTE_NORMAL | (slot->directMode ? 0 : FILE_FLAG_OVERLAPPED);
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

static HANDLE CreatePlatformThread(LPTHREAD_START_ROUTINE routine, int16_t portNumber) {
    LPVOID argument = reinterpret_cast<LPVOID>(static_cast<intptr_t>(portNumber));
    return CreateThread(nullptr, 0, routine, argument, 0, nullptr);
}

PortThreadCreator createPortThread = CreatePlatformThread;

int16_t StartPortThread(LPTHREAD_START_ROUTINE routine, int16_t portNumber, HANDLE* thread) {
    handshakeFlag = 0;
    HANDLE created = createPortThread(routine, portNumber);
    if (created == nullptr) {
        return 1;
    }
    *thread = created;
    // Waiting on the thread handle doubles as the 1 ms sleep and notices a
    // thread that ended without its hand-shake.
    while (handshakeFlag == 0) {
        if (WaitForSingleObject(created, 1) == WAIT_OBJECT_0 && handshakeFlag == 0) {
            return 1;
        }
    }
    return 0;
}

void RequestThreadStop(std::atomic<int16_t>* runFlag) {
    handshakeFlag = 1;
    *runFlag = 0;
}

bool AwaitThreadStop(HANDLE thread, DWORD limitMs) {
    const ULONGLONG start = GetTickCount64();
    while (handshakeFlag == 1) {
        if (WaitForSingleObject(thread, 1) == WAIT_OBJECT_0) {
            return true;
        }
        if (limitMs != INFINITE && GetTickCount64() - start >= limitMs) {
            return false;
        }
    }
    return true;
}
