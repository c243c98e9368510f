// The device's reads and writes. Every device is opened for overlapped I/O:
// no call on it then waits behind another (a synchronous handle runs one
// request at a time, so the monitor thread's calls would wait behind every
// read), and every wait for the device has a bound of its own. A read or
// write that the device does not end in time is cancelled; one that it does
// not end even then leaves its record and bytes to the device (the slot
// keeps them) and is waited for no longer.
#pragma once

#include <windows.h>

#include <cstdint>

#include "port_table.h"

enum : DWORD {
    kCancelWaitMs = 1000,  // how long a cancelled operation may take to end
    kWriteMarginMs = 1000, // a write's time beyond the wire time of its bytes
    kDeviceGraceMs = 500,  // a direct-mode read's time beyond its own wait
};

// How an operation of the device ended.
enum DeviceOutcome { kDeviceDone, kDeviceFailed, kDeviceKeepsIt };

// Waits up to limitMs for the operation of record to end; one that has not
// ended by then is cancelled and given kCancelWaitMs more. *count gets the
// bytes it moved.
DeviceOutcome AwaitDeviceOperation(PortSlot* slot, OVERLAPPED* record, DWORD limitMs, DWORD* count);

// True when the operation of an earlier record that the device kept has
// ended since (or there is none): its record may be used again.
bool DeviceReleased(HANDLE event, int16_t* stuck);

// Direct mode: reads one byte into the read area's bytes, waiting up to waitMs
// for the device to end the read (it ends it itself after kReadWaitMs
// without a byte). A read still under way then stays the slot's, and the
// next call goes on waiting for it. 1 for a byte, 0 for none; -1 when the
// device refused the read (its error state is cleared and the caller has
// paused one read wait, so that a dead device costs no more than a silent
// one) or holds a read it would not end.
int32_t ReadDevice(PortSlot* slot, DWORD waitMs);

// What a look at the device's input finds.
enum InputLook { kNoInputYet, kInputWaiting, kDeviceRefused };

// Whether a received byte waits: in the device, or in a read of the slot
// that has ended with it. Nothing is taken. kDeviceRefused when the device
// refused to tell (ClearCommError failed).
InputLook LookAtInput(PortSlot* slot);

// Ends a read still under way (ClosePort): it is cancelled and awaited
// within a bound; one that the device keeps even so marks the slot.
void EndPendingRead(PortSlot* slot);

// Direct mode: writes length bytes, waiting for each chunk at most its wire
// time and kWriteMarginMs. 0 when every byte was written; 1 otherwise.
int16_t WriteDevice(PortSlot* slot, const uint8_t* bytes, int32_t length);

// The records of direct-mode operations name their event with its low-order
// bit set; this is the event itself.
HANDLE RecordEvent(const OVERLAPPED* record);

// The most characters a device (a USB adapter) takes ahead of the wire.
enum : int32_t { kLargestDeviceBuffer = 512 };

// Milliseconds that count bytes take on the wire at the port's baud rate,
// at most 12 bits a character (start, data, parity and stop bits).
DWORD WireTimeMs(const PortSlot* slot, int32_t count);

// When count bytes handed to the device at startUs have left the wire, 10
// bits a character at baud, after the bytes before them (whose last leaves
// at lineFreeAtUs): never more than kLargestDeviceBuffer characters after
// nowUs, since no device holds more. Counting from the start of the write,
// not from its end, keeps a long write that the device ends only once its
// bytes have gone (an on-board UART) from being counted twice.
int64_t LineFreeAfterWrite(int64_t lineFreeAtUs, int64_t startUs, int64_t nowUs, int32_t count,
                           DWORD baud);

// count bytes, handed to the device at startUs, have been taken by it: the
// slot's lineFreeAtUs as LineFreeAfterWrite tells.
void NoteBytesSent(PortSlot* slot, int32_t count, int64_t startUs);

// Milliseconds until the bytes handed to the device so far have left the
// wire; 0 when they have.
int32_t WireDrainMs(const PortSlot* slot);
