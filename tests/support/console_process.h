// Test support: a console program of the build run as a process, with a pipe
// for its standard input and its output collected as it comes (its error
// output with it, or on its own).
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>

class ConsoleProcess {
  public:
    ConsoleProcess() = default;
    ConsoleProcess(const ConsoleProcess&) = delete;
    ConsoleProcess& operator=(const ConsoleProcess&) = delete;
    ~ConsoleProcess();

    // program: its path in the build folder, as "sim\\korvan-sim.exe";
    // arguments in UTF-8 (or the code page). With separateErrors the error
    // output is kept apart from the output.
    // creationFlags go to CreateProcess (CREATE_NEW_PROCESS_GROUP, so that
    // a console control event can be sent to the process alone).
    bool Start(const std::string& program, const std::string& arguments,
               bool separateErrors = false, DWORD creationFlags = 0);
    // Starts the program with a console of its own, hidden, from which its
    // standard input comes (as a technician's program at a console); its
    // output and error output go to pipes all the same.
    bool StartWithConsole(const std::string& program, const std::string& arguments);
    // Types Enter into the program's console.
    bool TypeEnter();
    // The text of the program's console screen, its rows without their
    // trailing blanks, each ending in "\n".
    std::string ConsoleScreen();
    DWORD Id() const {
        return processId_;
    }
    HANDLE Handle() const {
        return process_;
    }
    void Send(const std::string& line);
    void CloseInput();
    // The exit code, or -1 when the process has not ended within timeoutMs.
    int Wait(int timeoutMs);
    // Waits until the error output (the output, when they go together)
    // holds text, times times; false when timeoutMs passes first.
    bool AwaitErrorText(const std::string& text, int timeoutMs, int times = 1);
    // The error output (the output, when they go together) so far.
    std::string ErrorsSoFar();
    // All output and error output, once the process has ended.
    std::string Output();
    std::string Errors();

  private:
    bool StartProcess(const std::string& program, const std::string& arguments, bool separateErrors,
                      DWORD creationFlags, bool consoleInput);
    std::thread Reader(HANDLE pipe, std::string* text);
    void JoinReaders();

    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    HANDLE input_ = nullptr;
    HANDLE output_ = nullptr;
    HANDLE errors_ = nullptr;
    std::thread outputReader_;
    std::thread errorReader_;
    std::mutex lock_;
    std::string outputText_;
    std::string errorText_;
};
