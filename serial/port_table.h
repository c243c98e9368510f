// The process-wide port table and the layer's shared words.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "serial_port.h"

// COM1 to COM256: the numbers Windows gives serial ports.
enum : int16_t { kFirstPort = 1, kLastPort = 256, kPortSlots = 257 };

enum : int32_t { kRingSize = 8000 };

// Bytes received in receive-thread mode. Empty when readIndex equals
// writeIndex; full when one more byte would make them equal, so it holds at
// most kRingSize - 1 unread bytes. The receive thread alone moves writeIndex
// and writes cells; the reader moves readIndex, and so does the receive
// thread when it drops the unread bytes of a full ring.
struct ReceiveRing {
    std::atomic<int16_t> readIndex;
    std::atomic<int16_t> writeIndex;
    uint8_t data[kRingSize];
};

// Largest single WritePort; a receive-thread-mode write is copied here so it
// never depends on the caller's buffer once WritePort has returned.
enum : int32_t { kWriteCopySize = 32767 };

// What a port in receive-thread mode needs beyond its slot: its receive ring
// and the copy of its last write, some 40 KB. Few ports of a process run in
// that mode at once, so the sets come from a small pool: taken when such a
// port opens, given back when it closes. A port in direct mode has none.
struct ReceiveBuffers {
    ReceiveRing ring;
    uint8_t writeCopy[kWriteCopySize];
    std::atomic<int16_t> taken; // several ports may open at once, each on its own thread
    // A write from writeCopy that the device never ended, not even when it
    // was closed: the set stays taken for good, since the device may still
    // read it.
    int16_t lost;
};

// Bytes one device read takes at most.
enum : int32_t { kReadChunk = 256 };

enum : int32_t { kReceiveBufferSets = 8 };
extern ReceiveBuffers receiveBufferPool[kReceiveBufferSets];

// The record, bytes and event of the device's reads. A read that the device
// keeps even after its port was closed (a driver that never ends the reads
// of an adapter pulled out) keeps its area, which the device may still
// fill, until it ends; the port's next opening reads through another.
struct ReadArea {
    HANDLE event;
    OVERLAPPED record;
    uint8_t bytes[kReadChunk];
    int16_t stuck; // a read the device did not end even when cancelled
};
enum : int16_t { kReadAreas = 2 };

struct PortSlot {
    HANDLE portHandle; // the open device; the slot is open exactly when set
    DCB lineSettings;  // the line settings last written to the device
    int16_t directMode;
    int16_t parityCheck;
    LineLostCallback lineLostCallback;
    ByteCallback byteCallback;
    TickCallback tickCallback;
    int16_t callbackTag;

    // Start and stop hand-shake between OpenPort/ClosePort and the port's
    // threads. Each port has its own, so that several ports may be opened
    // and closed at the same time, each from its own thread.
    std::atomic<int16_t> handshakeFlag;

    // Set by InterruptPort: every transfer on the port ends at once, until
    // the port is closed.
    std::atomic<int16_t> interrupted;

    HANDLE monitorThread;
    std::atomic<int16_t> monitorRunning;
    std::atomic<uint32_t> tickCount;

    HANDLE receiveThread;
    std::atomic<int16_t> receiveRunning;
    ReceiveBuffers* buffers; // receive-thread mode only: the ring and the write copy

    // Every device is opened for overlapped I/O, so that no call on it waits
    // behind another and every wait has its own bound. The records and the
    // bytes of the device's read and write belong to the slot, not to a
    // caller: an operation that the device does not end in time may still
    // run after its caller has given up.
    ReadArea readAreas[kReadAreas];
    ReadArea* read;      // the area of this opening's reads
    int16_t readPending; // direct mode: a read under way, looked at again by the next

    HANDLE writeEvent;
    OVERLAPPED writeRecord;
    int16_t writePending;                  // an overlapped write may still run
    int32_t writeLength;                   // its byte count
    int16_t writeStuck;                    // a write the device did not end even when cancelled
    uint8_t writeChunk[kDirectWriteChunk]; // the bytes of a direct-mode write

    // When the bytes written so far will have left the wire (performance-
    // counter microseconds), judged by their count and the baud rate: an
    // adapter takes bytes into its buffer long before they are sent, and a
    // reply can only start after they have arrived.
    int64_t lineFreeAtUs;

    HANDLE dataArrivedEvent;
    // Written by the opener's thread, used by the receive thread too, which
    // counts itself in traceUsers while it writes a record, so that the file
    // is never closed under its feet.
    std::atomic<HANDLE> traceFile;
    std::atomic<int32_t> traceUsers;
};

// Indexed by port number; slot 0 is never used.
extern PortSlot PortTable[kPortSlots];

// PortOpenError's answers, indexed by port number.
extern DWORD portOpenErrors[kPortSlots];

// True for the port numbers that have a slot of their own, 1 to 256.
inline bool IsPortNumber(int16_t portNumber) {
    return portNumber >= kFirstPort && portNumber <= kLastPort;
}

// The slot of an open port, or nullptr for a number without slot or a port
// that is not open.
PortSlot* OpenSlot(int16_t portNumber);

// A free set of receive buffers, now taken; nullptr when all are in use.
ReceiveBuffers* TakeReceiveBuffers();
// Gives the slot's set back (when it has one and the device holds none of
// it).
void ReturnReceiveBuffers(PortSlot* slot);

// Microseconds of the performance counter.
int64_t NowMicroseconds();
