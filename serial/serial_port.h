// Serial port layer: numbered RS-232 ports COM1 to COM256.
//
// A port is opened with a PortConfig, talked to with WritePort, ReadPort and
// DiscardInput, and closed with ClosePort. Without a byte callback the port
// runs in direct mode (the transfer operations read the device themselves and
// count their time-outs in the monitor thread's 50 ms ticks); with one, a
// receive thread fills the port's receive ring and the transfers are served
// from it. All operations that can fail return a 16-bit status, 0 for success.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

// Called by the monitor thread when the carrier-detect line has dropped.
typedef void (*LineLostCallback)(int16_t callbackTag);
// Called by the receive thread after each received byte has been stored; the
// callee may take bytes from the ring by moving *readIndex.
typedef void (*ByteCallback)(int16_t callbackTag, std::atomic<int16_t>* readIndex,
                             std::atomic<int16_t>* writeIndex, uint8_t* data);
// Called by the monitor thread on every tick with the seconds since it started.
typedef void (*TickCallback)(int16_t callbackTag, double seconds);

struct PortConfig {
    int16_t portNumber;  // 1 to 256: COM1 to COM256
    int32_t baudRate;    // 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200
    int16_t parityCode;  // 0 none, 1 even, 2 odd, 3 space, 4 mark, 10 wake-up byte then space
    int16_t dataBits;    // low byte becomes the device's byte size
    int16_t stopBitCode; // 1 or 2 stop bits
    int16_t dtrOn;       // 1 = DTR held on while open
    int16_t rtsOn;       // 1 = RTS held on while open
    LineLostCallback lineLostCallback;
    ByteCallback byteCallback; // none selects direct mode
    TickCallback tickCallback;
    int16_t callbackTag; // first argument of every callback
    int16_t parityCheck; // 1 = check received parity and mark failing bytes
};

// The Korvan module's line: 9600 baud, 8 data bits, no parity, one stop
// bit, DTR on, RTS off, no parity check, no line-lost or tick callback,
// callback tag 1. Without a byte callback the port runs in direct mode.
PortConfig ModuleLineConfig(int16_t portNumber, ByteCallback byteCallback);

// OpenPort's answer for a port that this process has open already: the
// caller does not own it and must not close it.
enum : int16_t { kPortInUse = 2 };

// Opens and configures the port and starts its threads. 0 when the port is
// open; kPortInUse when it is open already; 1 on any other failure (the
// caller's ClosePort then releases what is left).
int16_t OpenPort(const PortConfig* config);

// Why the port's last OpenPort could not open the device: the system's error
// code (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ...). 0 when that OpenPort
// opened the device (it may still have failed to set it up), and for a port
// never tried.
DWORD PortOpenError(int16_t portNumber);

// Stops the port's threads, drops DTR then RTS, releases the device and the
// trace file. Harmless on a port that is not open. A write that the far end
// does not take is given the wire time of its bytes and half a second more,
// then cancelled. Always 0.
int16_t ClosePort(int16_t portNumber);

// Bytes a direct-mode write hands the device at a time: a write of up to
// this many goes out in one (the longest of the module procedures is a
// configuration record's write-back, 407 bytes).
enum : int32_t { kDirectWriteChunk = 512 };

// Sends length bytes. 0 when the device took them all; 1 when it refused
// them or did not take them within their wire time and a margin (a stalled
// driver, a device gone), and for a port that is not open. In
// receive-thread mode the write goes on after the call; the next write, and
// the closing of the port, wait for it, each within a bound.
int16_t WritePort(int16_t portNumber, const uint8_t* bytes, int16_t length);

// Longest wait of one direct-mode device read for its byte.
enum : int32_t { kReadWaitMs = 20 };

// Reads count bytes (count > 0), or the bytes up to terminator (count 0), into
// buffer, which holds capacity bytes, and closes them with a NUL. timeoutMs is
// the longest silence allowed before the next byte; 0 takes only what is
// already waiting. The first byte's silence counts from the moment the bytes
// written before have left the wire (10 bits a character). In direct mode the read waits for each
// byte inside the device, at most kReadWaitMs at a time, and counts its time-out in the monitor
// thread's ticks; a read the device refuses (a line error, a device that has gone) clears the
// device's error state and counts on. 0 when the bytes were read; 1 on time-out, and for a count
// that the buffer cannot hold with its NUL; 2 when a terminator read has filled capacity - 1 bytes
// and another byte comes before the terminator (the bytes so far are then closed with a NUL).
// Nothing is ever written past capacity.
int16_t ReadPort(int16_t portNumber, int32_t count, uint8_t terminator, int32_t timeoutMs,
                 uint8_t* buffer, int32_t capacity);

// AwaitInput's answer for a device that refuses every look at its input
// queue: an adapter pulled out, a driver that has lost its device. The port
// stays open (and useless) until the caller closes it.
enum : int16_t { kDeviceGone = 3 };

// Waits until the port holds a received byte, without taking it: it stays
// for the next read. 0 when one has come; 1 when timeoutMs passed first, or
// the port is interrupted; kDeviceGone (direct mode) when the device has
// refused kGoneRefusals looks in a row.
int16_t AwaitInput(int16_t portNumber, int32_t timeoutMs);

// Looks in a row that a device must refuse to count as gone: one refusal may
// be a passing fault, a pulled adapter refuses every one.
enum : int32_t { kGoneRefusals = 3 };

// A discard on a line that keeps talking gives up after kDiscardByteLimit
// bytes, or kDiscardOverrunMs beyond its own time: a module's own output
// after a reply is a few dozen bytes, over well within that.
enum : int32_t { kDiscardByteLimit = 1000, kDiscardOverrunMs = 2000 };

// Drops every byte that arrives until the line has been silent for
// milliseconds, at most kDiscardByteLimit bytes or milliseconds plus
// kDiscardOverrunMs in all (direct mode); or sleeps milliseconds and empties
// the receive ring (receive-thread mode). 0 when the line fell silent; 1
// when the discard gave up on a line that kept talking.
int16_t DiscardInput(int16_t portNumber, int32_t milliseconds);

// Asks the port's transfers to end at once, from any thread (a production
// run cut short by Ctrl+C): from now until the port is closed, ReadPort and
// AwaitInput give up as on a time-out within some 50 ms, bytes waiting or
// not, DiscardInput ends and WritePort sends nothing and fails. A port that is not open keeps the
// request for its next opening; ClosePort clears it.
void InterruptPort(int16_t portNumber);

// True when the port has been interrupted and not closed since.
bool PortInterrupted(int16_t portNumber);

// Attaches a new trace file to an open port: 2-byte records of data byte and
// direction tag (1 received, 2 sent), appended from the current position; the
// file's name is in UTF-8 and is opened through the wide calls. An
// earlier trace of the port is closed first. 0 on success; 1 when the port is
// not open or the file cannot be created.
int16_t OpenTrace(int16_t portNumber, const char* fileName);

// Cuts the port's trace file at its current position and closes it; does
// nothing when the port has none.
void CloseTrace(int16_t portNumber);
