// Test support: the far end of a null-modem cable, opened with plain Win32
// calls so that it shares no code with the serial layer under test, and a
// stopwatch.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>

// The COM pairs that the test runner connects: COM1<->COM2, COM3<->COM4.
// COM5 has no device.
enum { kPortA = 1, kPeerA = 2, kPortB = 3, kPeerB = 4, kMissingPort = 5 };

// Opens COMn at 9600 8N1; reads return at once with what has arrived.
// INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE OpenPeer(int portNumber);

void PeerWrite(HANDLE peer, const std::string& bytes);

// Collects what arrives until the line has been silent for quietMs.
std::string PeerReadUntilQuiet(HANDLE peer, int quietMs);

// Collects bytes until count have come or timeoutMs has passed.
std::string PeerReadCount(HANDLE peer, size_t count, int timeoutMs);

class Stopwatch {
  public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double Ms() const {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
            .count();
    }

  private:
    std::chrono::steady_clock::time_point start_;
};

// A path for a scratch file in the temporary folder, unique to the process.
std::string TempPath(const std::string& name);

// The bytes of a file as they stand, also while a program still writes it;
// empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// A named manual-reset event of this process's own, as a line controller
// keeps one for a station's --stop-event: its name begins with prefix.
class NamedStopEvent {
  public:
    explicit NamedStopEvent(const std::string& prefix, bool set = false);
    NamedStopEvent(const NamedStopEvent&) = delete;
    NamedStopEvent& operator=(const NamedStopEvent&) = delete;
    ~NamedStopEvent();
    const std::string& Name() const {
        return name_;
    }
    HANDLE Handle() const {
        return event_;
    }
    void Set() {
        SetEvent(event_);
    }

  private:
    std::string name_;
    HANDLE event_;
};
