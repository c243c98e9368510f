#include "support/console_process.h"

#include <chrono>

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

// The command line in UTF-16: from UTF-8, or from the code page when it is
// no UTF-8.
std::wstring WideCommand(const std::string& command) {
    UINT codePage = CP_UTF8;
    int length =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, command.c_str(), -1, nullptr, 0);
    if (length <= 0) {
        codePage = CP_ACP;
        length = MultiByteToWideChar(codePage, 0, command.c_str(), -1, nullptr, 0);
    }
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(codePage, 0, command.c_str(), -1, &wide[0], length);
    return wide;
}

} // namespace

bool ConsoleProcess::Start(const std::string& program, const std::string& arguments,
                           bool separateErrors, DWORD creationFlags) {
    return StartProcess(program, arguments, separateErrors, creationFlags, false);
}

bool ConsoleProcess::StartWithConsole(const std::string& program, const std::string& arguments) {
    return StartProcess(program, arguments, true, CREATE_NEW_CONSOLE, true);
}

bool ConsoleProcess::StartProcess(const std::string& program, const std::string& arguments,
                                  bool separateErrors, DWORD creationFlags, bool consoleInput) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE inputRead = nullptr;
    HANDLE outputWrite = nullptr;
    HANDLE errorWrite = nullptr;
    if ((!consoleInput && !CreatePipe(&inputRead, &input_, &inherit, 0)) ||
        !CreatePipe(&output_, &outputWrite, &inherit, 0) ||
        (separateErrors && !CreatePipe(&errors_, &errorWrite, &inherit, 0))) {
        return false;
    }
    for (HANDLE own : {input_, output_, errors_}) {
        if (own != nullptr) {
            SetHandleInformation(own, HANDLE_FLAG_INHERIT, 0);
        }
    }
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = inputRead; // none: the console's own
    startup.hStdOutput = outputWrite;
    startup.hStdError = separateErrors ? errorWrite : outputWrite;
    std::wstring command = WideCommand("\"" + ProgramPath(program) + "\" " + arguments);
    PROCESS_INFORMATION process;
    BOOL created = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, creationFlags,
                                  nullptr, nullptr, &startup, &process);
    if (inputRead != nullptr) {
        CloseHandle(inputRead);
    }
    CloseHandle(outputWrite);
    if (errorWrite != nullptr) {
        CloseHandle(errorWrite);
    }
    if (!created) {
        return false;
    }
    CloseHandle(process.hThread);
    process_ = process.hProcess;
    processId_ = process.dwProcessId;
    outputReader_ = Reader(output_, &outputText_);
    if (separateErrors) {
        errorReader_ = Reader(errors_, &errorText_);
    }
    return true;
}

// Reads until the process has ended and its output is taken, not until the
// pipe's end: under Wine a process started for the program may inherit the
// pipe and hold it open long after (seen with korvan-bench.exe --help).
std::thread ConsoleProcess::Reader(HANDLE pipe, std::string* text) {
    return std::thread([this, pipe, text] {
        char buffer[512];
        for (bool ended = false;;) {
            DWORD available = 0;
            DWORD got = 0;
            if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
                return; // every writer is gone
            }
            if (available > 0) {
                if (!ReadFile(pipe, buffer, sizeof buffer, &got, nullptr)) {
                    return;
                }
                std::lock_guard<std::mutex> guard(lock_);
                text->append(buffer, got);
            } else if (ended) {
                return;
            } else {
                ended = WaitForSingleObject(process_, 20) == WAIT_OBJECT_0;
            }
        }
    });
}

namespace {

// Runs what with this process attached to the console of the process id;
// false when it cannot be attached.
template <typename What> bool AtConsoleOf(DWORD id, What what) {
    FreeConsole();
    if (!AttachConsole(id)) {
        return false;
    }
    what();
    FreeConsole();
    return true;
}

} // namespace

bool ConsoleProcess::TypeEnter() {
    bool typed = false;
    AtConsoleOf(processId_, [&typed] {
        HANDLE input =
            CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        INPUT_RECORD keys[2];
        ZeroMemory(keys, sizeof keys);
        for (int k = 0; k < 2; ++k) {
            keys[k].EventType = KEY_EVENT;
            keys[k].Event.KeyEvent.bKeyDown = k == 0;
            keys[k].Event.KeyEvent.wRepeatCount = 1;
            keys[k].Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
            keys[k].Event.KeyEvent.uChar.AsciiChar = '\r';
        }
        DWORD written = 0;
        typed = WriteConsoleInputA(input, keys, 2, &written) && written == 2;
        CloseHandle(input);
    });
    return typed;
}

std::string ConsoleProcess::ConsoleScreen() {
    std::string screen;
    AtConsoleOf(processId_, [&screen] {
        HANDLE output =
            CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (GetConsoleScreenBufferInfo(output, &info)) {
            std::string row(static_cast<size_t>(info.dwSize.X), ' ');
            for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
                DWORD read = 0;
                ReadConsoleOutputCharacterA(output, &row[0], info.dwSize.X, COORD{0, y}, &read);
                const std::string text = row.substr(0, read);
                screen += text.substr(0, text.find_last_not_of(' ') + 1) + "\n";
            }
        }
        CloseHandle(output);
    });
    return screen;
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
    if (process_ == nullptr ||
        WaitForSingleObject(process_, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
}

bool ConsoleProcess::AwaitErrorText(const std::string& text, int timeoutMs, int times) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            const std::string& seen = errors_ != nullptr ? errorText_ : outputText_;
            int found = 0;
            for (size_t at = seen.find(text); at != std::string::npos;
                 at = seen.find(text, at + 1)) {
                if (++found >= times) {
                    return true;
                }
            }
        }
        Sleep(10);
    }
    return false;
}

std::string ConsoleProcess::ErrorsSoFar() {
    std::lock_guard<std::mutex> guard(lock_);
    return errors_ != nullptr ? errorText_ : outputText_;
}

void ConsoleProcess::JoinReaders() {
    if (outputReader_.joinable()) {
        outputReader_.join();
    }
    if (errorReader_.joinable()) {
        errorReader_.join();
    }
}

std::string ConsoleProcess::Output() {
    JoinReaders();
    return outputText_;
}

std::string ConsoleProcess::Errors() {
    JoinReaders();
    return errorText_;
}

ConsoleProcess::~ConsoleProcess() {
    CloseInput();
    if (process_ != nullptr && Wait(0) == -1) {
        TerminateProcess(process_, 9);
    }
    JoinReaders();
    for (HANDLE handle : {process_, output_, errors_}) {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
}
