// Test support: a stand-in for the serial driver of one COM port, put into
// the serial layer's device-call table. It plays what a virtual cable cannot
// show: line errors on a port that stops on them, a device that goes away,
// the carrier-detect line, the DTR and RTS lines, a port held by another
// program, reads and writes that the device keeps pending.
//
// Calls on the chosen device go on to the platform (the far end of the cable
// is real) unless a fault says otherwise; calls on every other device are
// left alone.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

struct EscapeCall {
    DWORD function; // CLRDTR, CLRRTS, ...
    double ms;      // since the double was installed
};

struct DriverDouble {
    // Faults; set them at any time.
    std::atomic<DWORD> openError{0}; // opening the device fails with this error
    // Opening the device takes this long (an outgoing Bluetooth port calls
    // its partner first).
    std::atomic<DWORD> openDelayMs{0};
    std::atomic<bool> reportsAbortOnError{false}; // the device reports abort-on-error set
    std::atomic<bool> alwaysAborts{false};        // a line error stops reads whatever the settings
    std::atomic<DWORD> goneError{0};              // the device has gone: every call fails with it
    // It goes once this many bytes were written; a write that passes the
    // count hands on only the bytes up to it and fails.
    std::atomic<long> goneAfterWritten{-1};
    std::atomic<DWORD> goneAfterWrittenError{ERROR_DEVICE_REMOVED};
    std::atomic<bool> holdReads{false}; // overlapped reads stay pending until cancelled
    // Overlapped reads stay pending for good: neither a cancel nor the
    // closing of the device ends them (a driver that keeps the reads of an
    // adapter pulled out).
    std::atomic<bool> holdReadsForGood{false};
    std::atomic<bool> holdWrites{false}; // overlapped writes stay pending until cancelled
    std::atomic<DWORD> cancelDelayMs{0}; // a cancelled read or write ends this much later
    // A handle opened without FILE_FLAG_OVERLAPPED runs one call at a time,
    // as Windows does: a call waits while another is under way on it.
    std::atomic<bool> synchronousHandle{false};
    // An adapter with a buffer of its own: a write completes at once, and
    // its bytes reach the line paced at this many characters per second.
    std::atomic<long> bufferedWritesPerSecond{0};
    // A driver that ends each write only this many milliseconds after it was
    // started, however few its bytes (a radio or USB round trip): the bytes
    // go on at once, the write's end comes later.
    std::atomic<DWORD> writeCompletionDelayMs{0};

    // What the double saw.
    std::atomic<long> opens{0}; // tries to open the device
    std::atomic<long> readCalls{0};
    std::atomic<long> written{0};
    std::atomic<long> writeCalls{0};
    std::atomic<long> cancels{0};
    std::atomic<long> modemStatusCalls{0};
    std::atomic<bool> readOutlivedItsThread{false}; // a held read ended after its thread
    std::atomic<long> heldPending{0};               // held reads and writes not yet ended
    std::atomic<bool> openedOverlapped{false};      // the device's last opening
    // Parity of the line settings in force at each byte written, in order.
    std::atomic<long> bytesAtMarkParity{0};
};

extern DriverDouble driverDouble;

// Puts the double in front of the device named deviceName ("COM1") with no
// fault set; RemoveDriverDouble gives the platform its calls back.
void InstallDriverDouble(const char* deviceName);
void RemoveDriverDouble();

// A line error (CE_FRAME, CE_OVERRUN, CE_BREAK, ...) as the driver reports
// it: when the port stops on errors, every read and write fails with
// ERROR_OPERATION_ABORTED until ClearCommError has fetched it.
void InjectLineError(DWORD errors);

// The adapter is pulled out: every call on the device fails with error from
// now on, and a read or write under way ends with it. PullDevice(0) plugs it
// in again (it has to be opened anew).
void PullDevice(DWORD error);

// The carrier-detect line: the modem-status reads answer these states in
// turn, the last one from then on.
void ScriptCarrier(const std::vector<bool>& states);

// The DCB last written to the device, and the escape functions called on it.
DCB LastLineSettings();
std::vector<EscapeCall> EscapeCalls();
