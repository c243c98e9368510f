// The state of one run, shared by the run's frame and the module procedures,
// and the steps that talk to the module.
#pragma once

#include <cstdint>

#include "run_face.h"

enum : int32_t {
    kRunBufferSize = 1000, // the banner and every reply of the module
};

// Script slot that holds the firmware file during a run.
enum : int16_t { kRunScriptSlot = 1 };

struct RunContext {
    const RunFace* face;
    RunChoices choices;
    int16_t scriptSlot; // the firmware job's script in the store
    uint8_t runBuffer[kRunBufferSize];
    RunReport report;
};

// Writes a failure's detail into the run's report (printf-style); the first
// one of a run stays.
void NoteDetail(RunContext* run, const char* format, ...);

// A byte as the detail shows it: 'c' for a printable one, else 0xNN; text
// holds at least 7 characters.
void ByteText(uint8_t byte, char* text);

// The status and result lines of the run's face.
void ShowStatus(RunContext* run, const char* text);
void ShowResult(RunContext* run, const char* text);

// Detection gives up after this many bytes without the banner, or after
// detectionLimitMs in all: a module's start-up output is a few dozen bytes
// within a few seconds.
enum : int32_t { kDetectionByteLimit = kRunBufferSize, kDetectionLimitMs = 30000 };

// The overall time of a detection: kDetectionLimitMs, process-wide so that a
// test can shorten it.
extern int32_t detectionLimitMs;

// Waits for the module's start-up banner "Konfigmode...". 0 when it came.
int16_t DetectModule(RunContext* run);

// A run on kAnyPort: opens the listed ports (a Bluetooth link's excepted),
// asks once for the OFF/ON power cycle and watches them all for the banner.
// On success the module's port is open and run->choices.port, *portOwned is
// true, and every other port is being closed alongside the job (the run
// ends with FinishPortWatch); nothing was written to any port. A failure's
// detail names the ports and why each did not bring the module.
RunOutcome FindModuleOnAnyPort(RunContext* run, bool* portOwned);

// Waits, within a bound, until the ports that a run on kAnyPort closes
// alongside its job are closed. Harmless after any other run.
void FinishPortWatch();

// True when a port that a run on kAnyPort watches has been interrupted.
bool AnyPortInterrupted(const RunChoices* choices);

// Streams the script of slot 1 into the module.
RunOutcome ProgramFirmware(RunContext* run);

// Writes the chosen ID into the module's configuration record; in
// kReadIdMode only reads the record.
RunOutcome SetProfibusId(RunContext* run);
