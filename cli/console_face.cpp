#include "console_face.h"

#include <cstring>

#include "serial_port.h"

namespace {

// A console's progress line is rewritten at most this often.
const ULONGLONG kProgressGapMs = 100;

ConsoleFace* FaceOf(void* context) {
    return static_cast<ConsoleFace*>(context);
}

// Ends a progress line left open on the console, so the next text starts a
// line of its own.
void CloseProgressLine(ConsoleFace* face) {
    if (face->progressLineOpen) {
        fputc('\n', face->steps);
        face->progressLineOpen = false;
    }
}

void Say(ConsoleFace* face, const char* text) {
    CloseProgressLine(face);
    fprintf(face->steps, "%s\n", text);
    fflush(face->steps);
}

void BeginRun(void* context) {
    ConsoleFace* face = FaceOf(context);
    face->result.clear();
    face->moduleOnMs = GetTickCount64();
    face->moduleOnUtc = UtcNowText();
    face->progressLineOpen = false;
    face->downloadStartMs = 0;
    face->lastTenth = 0;
}

void EndRun(void* context) {
    CloseProgressLine(FaceOf(context));
    fflush(FaceOf(context)->steps);
}

void ReadChoices(void* context, RunChoices* choices) {
    *choices = FaceOf(context)->choices;
}

// The steps, but not the blank that clears the line.
void ShowStatus(void* context, const char* text) {
    if (strcmp(text, " ") != 0) {
        Say(FaceOf(context), text);
    }
}

void ShowResult(void* context, const char* text) {
    FaceOf(context)->result = text;
}

void ShowProgress(void* context, int32_t index, int32_t size) {
    ConsoleFace* face = FaceOf(context);
    const ULONGLONG now = GetTickCount64();
    const int32_t sent = index + 1;
    if (index == 0) {
        face->downloadStartMs = now;
        face->lastProgressMs = 0;
        face->lastTenth = 0;
    }
    if (face->errorIsConsole) {
        if (sent < size && now - face->lastProgressMs < kProgressGapMs) {
            return;
        }
        face->lastProgressMs = now;
        std::string line = ProgressLine(sent, size, (now - face->downloadStartMs) / 1000.0);
        fprintf(face->steps, "\r%-72s", line.c_str());
        face->progressLineOpen = true;
        fflush(face->steps);
        return;
    }
    // A log gets a line every tenth of the way.
    const int tenth = static_cast<int>(static_cast<int64_t>(sent) * 10 / size);
    if (tenth > face->lastTenth) {
        face->lastTenth = tenth;
        fprintf(face->steps, "%3d %% (%ld of %ld bytes)\n", tenth * 10, static_cast<long>(sent),
                static_cast<long>(size));
        fflush(face->steps);
    }
}

// On a console the technician presses Enter once the module is on again.
// Without one (a script, a test rig switching the module by relay) the run
// goes on at once and gives the module up to waitStartMs for its first byte;
// when none has come by then, the run ends there.
int16_t AwaitPowerCycle(ConsoleFace* face, int16_t port, const char* text);

int16_t RequestPowerCycle(void* context, int16_t port, const char* text) {
    ConsoleFace* face = FaceOf(context);
    const int16_t status = AwaitPowerCycle(face, port, text);
    face->moduleOnMs = GetTickCount64();
    face->moduleOnUtc = UtcNowText();
    return status;
}

int16_t AwaitPowerCycle(ConsoleFace* face, int16_t port, const char* text) {
    Say(face, text);
    if (face->inputIsConsole) {
        const char enterLine[] = "(press Enter when it is switched on again)";
        Say(face, enterLine);
        if (face->consoleCopy != nullptr) {
            fprintf(face->consoleCopy, "%s\n%s\n", text, enterLine);
            fflush(face->consoleCopy);
        }
        char line[256];
        if (fgets(line, sizeof line, stdin) == nullptr) {
            clearerr(stdin);
        }
        return 0;
    }
    // A run that watches several ports gives each the detection's own time.
    if (port == kAnyPort) {
        return 0;
    }
    if (AwaitInput(port, face->waitStartMs) != 0) {
        char note[100];
        snprintf(note, sizeof note, "(no start-up output within %ld s)",
                 static_cast<long>(face->waitStartMs / 1000));
        Say(face, note);
        return 1;
    }
    return 0;
}

void SignalFailure(void*) {}

// The status line has said on which port: "Korvan found on COMn".
void PortFound(void*, int16_t) {}

void ShowReport(void* context, const RunReport* report) {
    FaceOf(context)->report = *report;
}

} // namespace

RunFace MakeConsoleFace(ConsoleFace* face) {
    return {face,         BeginRun,          EndRun,        ReadChoices, ShowStatus, ShowResult,
            ShowProgress, RequestPowerCycle, SignalFailure, PortFound,   ShowReport};
}

std::string ProgressLine(int32_t sent, int32_t size, double elapsedSeconds) {
    const int percent = size > 0 ? static_cast<int>(static_cast<int64_t>(sent) * 100 / size) : 100;
    char line[120];
    int length = snprintf(line, sizeof line, "%3d %%  %8ld of %ld bytes", percent,
                          static_cast<long>(sent), static_cast<long>(size));
    if (elapsedSeconds > 0.05 && sent > 1) {
        const double rate = (sent - 1) / elapsedSeconds;
        const long left = static_cast<long>((size - sent) / rate + 0.5);
        snprintf(line + length, sizeof line - length, "  %7.0f bytes/s  %ld:%02ld left", rate,
                 left / 60, left % 60);
    }
    return line;
}

std::string SystemMessage(DWORD error) {
    char text[512] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    // The system's texts end in a full stop and a line break.
    while (!message.empty() && strchr(" .\r\n", message.back()) != nullptr) {
        message.pop_back();
    }
    if (message.empty()) {
        message = "system error";
    }
    return message + " (error " + std::to_string(error) + ")";
}

std::string PortOpenReason(int16_t port) {
    const std::string name = "COM" + std::to_string(port);
    const DWORD error = PortOpenError(port);
    switch (error) {
    case 0:
        // The device opened; its line could not be set up.
        return name + " opened, but could not be set up for the module's line";
    case ERROR_SHARING_VIOLATION:
        return name + " is in use by another program";
    case ERROR_ACCESS_DENIED:
        // What Windows' serial drivers answer for a port another program holds.
        return "Access to " + name + " is denied: another program may be using it";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "There is no " + name + " on this PC";
    }
    return name + ": " + SystemMessage(error);
}

std::string FailureReport(const RunReport& report) {
    std::string text = std::string(FailureText(report.outcome)) + "\n";
    if (report.outcome == kPortNotOpened && report.detail[0] == 0) {
        return text + PortOpenReason(report.port) + "\n";
    }
    return report.detail[0] != 0 ? text + report.detail + "\n" : text;
}
