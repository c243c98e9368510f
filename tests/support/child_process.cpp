#include "support/child_process.h"

#include <chrono>

std::string PathBesideTest(const std::string& relative) {
    char own[MAX_PATH];
    GetModuleFileNameA(nullptr, own, sizeof own);
    std::string path(own);
    path = path.substr(0, path.find_last_of("\\/") + 1) + relative;
    char full[MAX_PATH];
    GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return full;
}

ChildProcess::~ChildProcess() {
    CloseInput();
    if (process_ != nullptr && Wait(0) == -1) {
        TerminateProcess(process_, 9);
        WaitForSingleObject(process_, 5000);
    }
    JoinReaders();
    for (HANDLE handle : {process_, output_, errors_}) {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
}

bool ChildProcess::Start(const std::string& program, const std::string& arguments,
                         bool mergeErrors) {
    merged_ = mergeErrors;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE inputRead = nullptr;
    HANDLE outputWrite = nullptr;
    HANDLE errorWrite = nullptr;
    if (!CreatePipe(&inputRead, &input_, &inherit, 0) ||
        !CreatePipe(&output_, &outputWrite, &inherit, 0) ||
        (!mergeErrors && !CreatePipe(&errors_, &errorWrite, &inherit, 0))) {
        return false;
    }
    for (HANDLE own : {input_, output_, errors_}) {
        if (own != nullptr) {
            SetHandleInformation(own, HANDLE_FLAG_INHERIT, 0);
        }
    }
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = mergeErrors ? outputWrite : errorWrite;
    std::string command = "\"" + program + "\" " + arguments;
    PROCESS_INFORMATION process;
    BOOL created = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    CloseHandle(inputRead);
    CloseHandle(outputWrite);
    if (errorWrite != nullptr) {
        CloseHandle(errorWrite);
    }
    if (!created) {
        return false;
    }
    CloseHandle(process.hThread);
    process_ = process.hProcess;
    outputReader_ = std::thread([this] { Collect(output_, &outputText_); });
    if (!mergeErrors) {
        errorReader_ = std::thread([this] { Collect(errors_, &errorText_); });
    }
    return true;
}

void ChildProcess::Collect(HANDLE pipe, std::string* text) {
    char buffer[512];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        std::lock_guard<std::mutex> guard(lock_);
        text->append(buffer, got);
    }
}

void ChildProcess::Send(const std::string& text) {
    DWORD written = 0;
    WriteFile(input_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void ChildProcess::CloseInput() {
    if (input_ != nullptr) {
        CloseHandle(input_);
        input_ = nullptr;
    }
}

int ChildProcess::Wait(int timeoutMs) {
    if (process_ == nullptr ||
        WaitForSingleObject(process_, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
}

bool ChildProcess::AwaitError(const std::string& text, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            const std::string& seen = merged_ ? outputText_ : errorText_;
            if (seen.find(text) != std::string::npos) {
                return true;
            }
        }
        Sleep(10);
    }
    return false;
}

void ChildProcess::JoinReaders() {
    if (outputReader_.joinable()) {
        outputReader_.join();
    }
    if (errorReader_.joinable()) {
        errorReader_.join();
    }
}

std::string ChildProcess::Output() {
    JoinReaders();
    return outputText_;
}

std::string ChildProcess::Errors() {
    JoinReaders();
    return errorText_;
}
