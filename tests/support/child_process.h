// Test support: a program of the build run as a child process, its standard
// input from a pipe, its output and its error output collected as they come.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>

// The full path of a file given relative to the test program's folder.
std::string PathBesideTest(const std::string& relative);

class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // Starts program (a full path) with the arguments. With mergeErrors the
    // error output goes with the output.
    bool Start(const std::string& program, const std::string& arguments, bool mergeErrors = false);
    void Send(const std::string& text);
    void CloseInput();
    // The exit code, or -1 when the process has not ended within timeoutMs.
    int Wait(int timeoutMs);
    // Waits until the error output (the output, when merged) holds text.
    bool AwaitError(const std::string& text, int timeoutMs);
    // All output and error output, once the process has ended.
    std::string Output();
    std::string Errors();

  private:
    void Collect(HANDLE pipe, std::string* text);
    void JoinReaders();

    HANDLE process_ = nullptr;
    HANDLE input_ = nullptr;
    HANDLE output_ = nullptr;
    HANDLE errors_ = nullptr;
    std::thread outputReader_;
    std::thread errorReader_;
    std::mutex lock_;
    std::string outputText_;
    std::string errorText_;
    bool merged_ = false;
};
