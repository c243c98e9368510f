#include "support/console_process.h"

namespace {

// The path of a program of the build; the tests live in its tests folder.
std::string ProgramPath(const std::string& program) {
    char own[MAX_PATH];
    GetModuleFileNameA(nullptr, own, sizeof own);
    std::string path(own);
    path = path.substr(0, path.find_last_of("\\/") + 1) + "..\\" + program;
    char full[MAX_PATH];
    GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return full;
}

} // namespace

bool ConsoleProcess::Start(const std::string& program, const std::string& arguments) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE inputRead = nullptr;
    HANDLE outputWrite = nullptr;
    if (!CreatePipe(&inputRead, &input_, &inherit, 0) ||
        !CreatePipe(&output_, &outputWrite, &inherit, 0)) {
        return false;
    }
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = outputWrite;
    std::string command = "\"" + ProgramPath(program) + "\" " + arguments;
    PROCESS_INFORMATION process;
    BOOL created = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    CloseHandle(inputRead);
    CloseHandle(outputWrite);
    if (!created) {
        return false;
    }
    CloseHandle(process.hThread);
    process_ = process.hProcess;
    // Reads until the process has ended and its output is taken, not until
    // the pipe's end: under Wine a process started for the program may
    // inherit the pipe and hold it open long after (seen with
    // korvan-bench.exe --help).
    reader_ = std::thread([this] {
        char buffer[512];
        for (bool ended = false;;) {
            DWORD available = 0;
            DWORD got = 0;
            if (!PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr)) {
                return; // every writer is gone
            }
            if (available > 0) {
                if (!ReadFile(output_, buffer, sizeof buffer, &got, nullptr)) {
                    return;
                }
                text_.append(buffer, got);
            } else if (ended) {
                return;
            } else {
                ended = WaitForSingleObject(process_, 20) == WAIT_OBJECT_0;
            }
        }
    });
    return true;
}

void ConsoleProcess::Send(const std::string& line) {
    DWORD written = 0;
    WriteFile(input_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void ConsoleProcess::CloseInput() {
    if (input_ != nullptr) {
        CloseHandle(input_);
        input_ = nullptr;
    }
}

int ConsoleProcess::Wait(int timeoutMs) {
    if (WaitForSingleObject(process_, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
}

std::string ConsoleProcess::Output() {
    if (reader_.joinable()) {
        reader_.join();
    }
    return text_;
}

ConsoleProcess::~ConsoleProcess() {
    CloseInput();
    if (process_ != nullptr && Wait(0) == -1) {
        TerminateProcess(process_, 9);
    }
    Output();
    if (process_ != nullptr) {
        CloseHandle(process_);
    }
    if (output_ != nullptr) {
        CloseHandle(output_);
    }
}
