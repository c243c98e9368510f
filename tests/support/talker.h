// Test support: a device on the far end of a cable that is no module. Once
// switched on it sends its lines at its own pace, in a cycle, until it is
// stopped, and collects what it was sent.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

class Talker {
  public:
    // On COMport; each line pauseMs after the one before.
    Talker(int port, std::vector<std::string> lines, int pauseMs);
    Talker(const Talker&) = delete;
    Talker& operator=(const Talker&) = delete;
    ~Talker();

    void SwitchOn();
    // Ends the talking; what the tool sent meanwhile.
    std::string Stop();

  private:
    HANDLE peer_;
    std::vector<std::string> lines_;
    int pauseMs_;
    std::atomic<bool> over_{false};
    std::thread thread_;
    bool stopped_ = false;
};
