// korvan-sim.exe: a simulated Korvan module on a COM port, for people and
// scripts. Prints what the module does and, at the end, its report.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "sim_report.h"
#include "sim_arguments.h"
#include "simulator.h"

namespace {

enum Command : int16_t { kNoCommand, kPowerCycle, kPowerOff, kShowReport, kQuit };

// Commands from the standard-input thread to the main loop.
enum : int32_t { kCommandSlots = 64 };
SRWLOCK commandLock = SRWLOCK_INIT;
int16_t commands[kCommandSlots];
int32_t commandFirst = 0;
int32_t commandCount = 0;
std::atomic<int16_t> quitRequested{0};
int16_t quitAtEndOfInput = 1;

void PostCommand(int16_t command) {
    AcquireSRWLockExclusive(&commandLock);
    if (commandCount < kCommandSlots) {
        commands[(commandFirst + commandCount) % kCommandSlots] = command;
        commandCount++;
    }
    ReleaseSRWLockExclusive(&commandLock);
}

int16_t TakeCommand() {
    AcquireSRWLockExclusive(&commandLock);
    int16_t command = kNoCommand;
    if (commandCount > 0) {
        command = commands[commandFirst];
        commandFirst = (commandFirst + 1) % kCommandSlots;
        commandCount--;
    }
    ReleaseSRWLockExclusive(&commandLock);
    return command;
}

int16_t CommandOfLine(const char* line) {
    if (line[0] == 0 || strcmp(line, "p") == 0 || strcmp(line, "power") == 0 ||
        strcmp(line, "cycle") == 0 || strcmp(line, "on") == 0) {
        return kPowerCycle;
    }
    if (strcmp(line, "off") == 0 || strcmp(line, "o") == 0) {
        return kPowerOff;
    }
    if (strcmp(line, "r") == 0 || strcmp(line, "report") == 0) {
        return kShowReport;
    }
    if (strcmp(line, "q") == 0 || strcmp(line, "quit") == 0 || strcmp(line, "exit") == 0) {
        return kQuit;
    }
    return kNoCommand;
}

// Standard input that is not a console: one command per line.
DWORD WINAPI InputLineThread(LPVOID argument) {
    HANDLE input = static_cast<HANDLE>(argument);
    char line[64];
    int32_t length = 0;
    for (;;) {
        char byte = 0;
        DWORD got = 0;
        if (!ReadFile(input, &byte, 1, &got, nullptr) || got == 0) {
            break;
        }
        if (byte == '\n') {
            line[length] = 0;
            int16_t command = CommandOfLine(line);
            if (command != kNoCommand) {
                PostCommand(command);
            } else {
                printf("unknown command \"%s\" (p, on, off, r, q)\n", line);
            }
            length = 0;
        } else if (byte != '\r' && length < static_cast<int32_t>(sizeof line) - 1) {
            line[length++] = byte;
        }
    }
    if (quitAtEndOfInput) {
        PostCommand(kQuit);
    }
    return 0;
}

// Keys of a console.
void PollConsoleKeys(HANDLE input) {
    while (WaitForSingleObject(input, 0) == WAIT_OBJECT_0) {
        INPUT_RECORD record;
        DWORD got = 0;
        if (!ReadConsoleInputA(input, &record, 1, &got) || got == 0) {
            return;
        }
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) {
            continue;
        }
        switch (record.Event.KeyEvent.uChar.AsciiChar) {
        case '\r':
        case 'p':
        case 'P':
            PostCommand(kPowerCycle);
            break;
        case 'o':
        case 'O':
            PostCommand(kPowerOff);
            break;
        case 'r':
        case 'R':
            PostCommand(kShowReport);
            break;
        case 'q':
        case 'Q':
        case 27:
            PostCommand(kQuit);
            break;
        default:
            break;
        }
    }
}

BOOL WINAPI OnConsoleControl(DWORD /*event*/) {
    quitRequested = 1;
    return TRUE;
}

int64_t frequency = 1;
int64_t startTicks = 0;

double SecondsSinceStart() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - startTicks) / static_cast<double>(frequency);
}

void PrintEvents() {
    char line[160];
    bool printed = false;
    while (TakeSimEvent(line, sizeof line)) {
        printf("[%8.3f s] %s\n", SecondsSinceStart(), line);
        printed = true;
    }
    if (printed) {
        fflush(stdout);
    }
}

void PrintReport() {
    static SimReport report;
    static char text[kReportTextCapacity];
    ReadSimReport(&report);
    FormatSimReport(&report, text, sizeof text);
    fputs(text, stdout);
    fflush(stdout);
}

void RunCommand(int16_t command) {
    switch (command) {
    case kPowerCycle:
        printf("[%8.3f s] power cycle\n", SecondsSinceStart());
        PowerOnModule();
        break;
    case kPowerOff:
        PowerOffModule();
        break;
    case kShowReport:
        PrintEvents();
        PrintReport();
        break;
    case kQuit:
        quitRequested = 1;
        break;
    default:
        break;
    }
}

// An auto-reset event of the session that other programs set by name; nullptr
// when no name was given. On failure *failed becomes true.
HANDLE CreateNamedEvent(const char* name, bool* failed) {
    if (name[0] == 0) {
        return nullptr;
    }
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, name);
    if (event == nullptr) {
        fprintf(stderr, "korvan-sim: the event \"%s\" cannot be created\n", name);
        *failed = true;
    }
    return event;
}

bool EventIsSet(HANDLE event) {
    return event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

} // namespace

int main(int argc, char** argv) {
    static SimProgramSettings settings;
    char error[200];
    if (ParseSimArguments(argc, argv, &settings, error, sizeof error) != 0) {
        fprintf(stderr, "korvan-sim: %s\n", error);
        return 2;
    }
    if (settings.showHelp) {
        fputs(SimHelpText().c_str(), stdout);
        return 0;
    }
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&counter);
    frequency = counter.QuadPart;
    QueryPerformanceCounter(&counter);
    startTicks = counter.QuadPart;

    if (StartSimulator(settings.portNumber, &settings.options) != 0) {
        fprintf(stderr, "korvan-sim: COM%d cannot be opened\n", settings.portNumber);
        return 1;
    }
    bool eventFailed = false;
    HANDLE powerEvent = CreateNamedEvent(settings.powerEventName, &eventFailed);
    HANDLE quitEvent = CreateNamedEvent(settings.quitEventName, &eventFailed);
    if (eventFailed) {
        StopSimulator();
        return 1;
    }
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD consoleMode = 0;
    bool console = false;
    quitAtEndOfInput = settings.exitAfterMs < 0 ? 1 : 0;
    printf("Simulated Korvan module on COM%d (9600 8N1), switched off.\n", settings.portNumber);
    if (settings.ignoreInput == 0 && input != nullptr && input != INVALID_HANDLE_VALUE) {
        if (GetConsoleMode(input, &consoleMode)) {
            console = true;
            SetConsoleMode(input, 0); // keys one by one, no echo
            printf("Keys: p or Enter = power cycle (off and on), o = off, r = report, q = quit.\n");
        } else {
            HANDLE thread = CreateThread(nullptr, 0, InputLineThread, input, 0, nullptr);
            if (thread != nullptr) {
                CloseHandle(thread);
            }
            printf("Commands on standard input, one per line: p (power cycle), on, off, r "
                   "(report), q (quit).\n");
        }
    }
    if (powerEvent != nullptr) {
        printf("Setting the event \"%s\" power-cycles the module.\n", settings.powerEventName);
    }
    if (quitEvent != nullptr) {
        printf("Setting the event \"%s\" ends the simulator.\n", settings.quitEventName);
    }
    if (settings.powerOnAfterMs >= 0) {
        printf("Power-on in %d ms.\n", settings.powerOnAfterMs);
    }
    if (settings.exitAfterMs >= 0) {
        printf("Ends after %d ms.\n", settings.exitAfterMs);
    }
    fflush(stdout);

    bool poweredByOption = false;
    while (quitRequested == 0) {
        double elapsedMs = SecondsSinceStart() * 1000.0;
        if (!poweredByOption && settings.powerOnAfterMs >= 0 &&
            elapsedMs >= settings.powerOnAfterMs) {
            poweredByOption = true;
            RunCommand(kPowerCycle);
        }
        if (settings.exitAfterMs >= 0 && elapsedMs >= settings.exitAfterMs) {
            break;
        }
        if (console) {
            PollConsoleKeys(input);
        }
        if (EventIsSet(powerEvent)) {
            PostCommand(kPowerCycle);
        }
        if (EventIsSet(quitEvent)) {
            PostCommand(kQuit);
        }
        for (int16_t command = TakeCommand(); command != kNoCommand; command = TakeCommand()) {
            RunCommand(command);
        }
        PrintEvents();
        Sleep(20);
    }

    StopSimulator();
    if (powerEvent != nullptr) {
        CloseHandle(powerEvent);
    }
    if (quitEvent != nullptr) {
        CloseHandle(quitEvent);
    }
    if (console) {
        SetConsoleMode(input, consoleMode);
    }
    PrintEvents();
    printf("[%8.3f s] end\n", SecondsSinceStart());
    PrintReport();
    return 0;
}
