// Test support: a module on the far end of a cable, played with plain Win32
// calls (it shares no code with the tool), that is strict about the firmware
// download's acknowledgements. It answers an acknowledgement only once it has
// every pair of its block (the first 96 script bytes, then every further 128)
// and never earlier, and it notes every byte that reaches it after a block's
// last pair and before it has answered: a tool that does not wait for the
// acknowledgement is caught.
//
// Switched on, it sends a version line and the banner, answers 0x14 with "OK"
// and 0x10 with ".", takes the pairs up to the line feed and four checksum
// digits, and confirms with CR "Download ok." LF. It checks no checksum: the
// test compares what it received.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class StrictModule {
  public:
    // On COMport; each acknowledgement goes out answerDelayMs after the last
    // pair of its block has come, so that a pair sent ahead of it has time
    // to arrive.
    StrictModule(int port, int answerDelayMs);
    StrictModule(const StrictModule&) = delete;
    StrictModule& operator=(const StrictModule&) = delete;
    ~StrictModule();

    // Sends the start-up output and plays the download from then on.
    void SwitchOn();

    // Acknowledgements sent so far; from any thread.
    int32_t AcksSent() const {
        return acksSent_;
    }

    struct Session {
        std::string received;          // every byte, in order
        std::vector<int32_t> ackAfter; // the script byte after whose pair each went out
        int32_t earlyBytes = 0;        // bytes that came after a block, before its answer
        int32_t firstEarlyAt = -1;     // where the first of them was in received
    };
    // Ends the play within a bound and tells what came.
    Session Stop();

  private:
    void Play();
    void Take(char byte);
    void Answer(const std::string& bytes);

    HANDLE peer_;
    int answerDelayMs_;
    std::atomic<bool> over_{false};
    std::atomic<int32_t> acksSent_{0};
    std::thread thread_;
    Session session_;
    enum State { kAwait14, kAwait10, kData, kChecksum, kDone } state_ = kAwait14;
    int32_t dataCharacters_ = 0;
    int32_t checksumDigits_ = 0;
    bool ackDue_ = false;   // a block is complete, its answer not yet sent
    int32_t ackIndex_ = -1; // the script byte that completed it
};
