// Test support: a console program of the build run as a process, with pipes
// for its standard input and its output (standard error joins it).
#pragma once

#include <windows.h>

#include <string>
#include <thread>

class ConsoleProcess {
  public:
    // program: its path in the build folder, as "sim\\korvan-sim.exe".
    bool Start(const std::string& program, const std::string& arguments);
    void Send(const std::string& line);
    void CloseInput();
    // The exit code, or -1 when the process has not ended within timeoutMs.
    int Wait(int timeoutMs);
    // All output, once the process has ended.
    std::string Output();
    ~ConsoleProcess();

  private:
    HANDLE process_ = nullptr;
    HANDLE input_ = nullptr;
    HANDLE output_ = nullptr;
    std::thread reader_;
    std::string text_;
};
