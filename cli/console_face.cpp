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
// the usual detection follows.
void RequestPowerCycle(void* context, int16_t port, const char* text) {
    ConsoleFace* face = FaceOf(context);
    Say(face, text);
    // A run that watches several ports gives each the detection's own time.
    if (face->inputIsConsole || port == kAnyPort) {
        if (!face->inputIsConsole) {
            return;
        }
        Say(face, "(press Enter when it is switched on again)");
        char line[256];
        if (fgets(line, sizeof line, stdin) == nullptr) {
            clearerr(stdin);
        }
        return;
    }
    if (AwaitInput(port, face->waitStartMs) != 0) {
        char note[100];
        snprintf(note, sizeof note, "(no start-up output within %ld s)",
                 static_cast<long>(face->waitStartMs / 1000));
        Say(face, note);
    }
}

void SignalFailure(void*) {}

// The status line has said on which port: "Korvan found on COMn".
void PortFound(void*, int16_t) {}

} // namespace

RunFace MakeConsoleFace(ConsoleFace* face) {
    return {face,         BeginRun,          EndRun,        ReadChoices, ShowStatus, ShowResult,
            ShowProgress, RequestPowerCycle, SignalFailure, PortFound};
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
