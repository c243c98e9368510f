#include "driver_job.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char kDriverUsage[] =
    "usage: korvan-demo-driver.exe COMMAND ...\n"
    "Drives the running KORVAN_Setup.exe dialog as a person would.\n"
    "\n"
    "  run firmware FILE [options]     load FILE (at most 99 characters) into the module\n"
    "  run profibus-id ID [options]    set the Profibus-ID (1 to 127)\n"
    "      --port N                    COM port N of the list (1 to 8; default 1)\n"
    "      --power-event NAME          set this event when the tool asks for the power cycle\n"
    "  quit                            press Quit and wait until the dialog is gone\n"
    "  set-event NAME                  set a named event (waits until it exists)\n"
    "Every command:\n"
    "      --timeout S                 longest wait for each step (default 120 s)\n"
    "\n"
    "run prints the steps, the status line and the result line; its exit code is 0\n"
    "when the result line reports success, 1 otherwise.\n";

namespace {

int16_t Fail(char* error, int32_t capacity, const char* what, const char* argument) {
    snprintf(error, static_cast<size_t>(capacity), "%s: %s", what, argument);
    return 1;
}

bool ParseNumber(const char* text, int32_t low, int32_t high, int32_t* value) {
    if (text == nullptr || *text == 0) {
        return false;
    }
    char* end = nullptr;
    long number = strtol(text, &end, 10);
    if (*end != 0 || number < low || number > high) {
        return false;
    }
    *value = static_cast<int32_t>(number);
    return true;
}

bool CopyName(const char* text, char* target, size_t capacity) {
    if (text == nullptr || text[0] == 0 || strlen(text) >= capacity) {
        return false;
    }
    strcpy(target, text);
    return true;
}

// The words before the options: the command and what it works on. Returns the
// index of the first argument after them, or -1 after writing the reason.
int ParseCommandWords(int argc, const char* const* argv, DriverSettings* s, char* error,
                      int32_t capacity) {
    const char* command = argc > 1 ? argv[1] : "";
    if (strcmp(command, "--help") == 0 || strcmp(command, "-h") == 0) {
        s->command = kDriverHelp;
        return argc;
    }
    if (strcmp(command, "quit") == 0) {
        s->command = kDriverQuit;
        return 2;
    }
    if (strcmp(command, "set-event") == 0) {
        s->command = kDriverSetEvent;
        if (argc < 3 || !CopyName(argv[2], s->eventName, sizeof s->eventName)) {
            Fail(error, capacity, "bad or missing event name after", command);
            return -1;
        }
        return 3;
    }
    if (strcmp(command, "run") != 0) {
        Fail(error, capacity, "unknown command", command);
        return -1;
    }
    s->command = kDriverRun;
    const char* job = argc > 2 ? argv[2] : "";
    const char* subject = argc > 3 ? argv[3] : nullptr;
    if (strcmp(job, "firmware") == 0) {
        s->job = kJobFirmware;
        if (!CopyName(subject, s->fileName, sizeof s->fileName)) {
            Fail(error, capacity, "missing file name, or longer than 99 characters, after", job);
            return -1;
        }
    } else if (strcmp(job, "profibus-id") == 0) {
        s->job = kJobProfibusId;
        int32_t id = 0;
        if (!ParseNumber(subject, 1, 127, &id)) {
            Fail(error, capacity, "missing or bad ID (1 to 127) after", job);
            return -1;
        }
        s->profibusId = static_cast<int16_t>(id);
    } else {
        Fail(error, capacity, "run what? firmware or profibus-id, not", job);
        return -1;
    }
    return 4;
}

} // namespace

int16_t ParseDriverArguments(int argc, const char* const* argv, DriverSettings* settings,
                             char* error, int32_t errorCapacity) {
    memset(settings, 0, sizeof *settings);
    settings->portNumber = 1;
    settings->timeoutMs = kDriverDefaultTimeoutMs;
    if (errorCapacity > 0) {
        error[0] = 0;
    }
    int index = ParseCommandWords(argc, argv, settings, error, errorCapacity);
    if (index < 0) {
        return 1;
    }
    for (; index < argc; ++index) {
        const char* option = argv[index];
        const char* value = index + 1 < argc ? argv[index + 1] : nullptr;
        int32_t number = 0;
        if (strcmp(option, "--timeout") == 0) {
            if (!ParseNumber(value, 1, 3600, &number)) {
                return Fail(error, errorCapacity, "bad or missing seconds after", option);
            }
            settings->timeoutMs = number * 1000;
        } else if (strcmp(option, "--port") == 0 && settings->command == kDriverRun) {
            if (!ParseNumber(value, 1, 8, &number)) {
                return Fail(error, errorCapacity, "bad or missing port (1 to 8) after", option);
            }
            settings->portNumber = static_cast<int16_t>(number);
        } else if (strcmp(option, "--power-event") == 0 && settings->command == kDriverRun) {
            if (!CopyName(value, settings->powerEventName, sizeof settings->powerEventName)) {
                return Fail(error, errorCapacity, "bad or missing event name after", option);
            }
        } else {
            return Fail(error, errorCapacity, "unknown option", option);
        }
        index++; // every option takes a value
    }
    return 0;
}

const char* SuccessTextOfJob(int16_t job) {
    return job == kJobFirmware ? " The programming of Firmware was successful. "
                               : " The programming of Profibus-ID was successful. ";
}
