#include "sim_arguments.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char kSimUsage[] =
    "usage: korvan-sim.exe COMn [options]\n"
    "A simulated Korvan module on COMn (COM1 to COM8; 9600 8N1).\n"
    "\n"
    "Running:\n"
    "  --power-on-after MS      switch the module on MS after the start\n"
    "  --exit-after MS          end MS after the start (standard input may end before)\n"
    "  --no-input               do not read standard input\n"
    "  --power-event NAME       power cycle whenever another program sets the named event\n"
    "  --quit-event NAME        print the report and end when another program sets it\n"
    "  --state FILE             keep the configuration record in FILE across runs\n"
    "  --trace FILE             serial trace file of the port\n"
    "  --station N              station address (value 14 of the record) at the start\n"
    "  --pace BAUD              bytes take their wire time at BAUD, answers wait for them\n"
    "  --power-on-delay MS      from power-on to the first start-up byte\n"
    "Faults:\n"
    "  --startup normal|banner-only|wrong-letter|endless\n"
    "  --no-banner-line-end     no CR LF after the banner\n"
    "  --glitch                 the bytes 0x00 0xFF 0xF8 of a glitching line at power-on\n"
    "  --answer-14 normal|none|wrong[=TEXT]   answer to 0x14 (wrong: \"NO\")\n"
    "  --answer-10 normal|none|wrong[=TEXT]   answer to 0x10 (wrong: \"?\")\n"
    "  --ack-fault missing|wrong|late         at acknowledgement --ack-block N (from 0)\n"
    "  --ack-block N  --ack-delay MS  --wrong-ack CHAR\n"
    "  --confirm normal|no-leading-byte|crlf|other[=TEXT]|missing\n"
    "  --confirm-delay MS       the confirmation leaves MS after the checksum\n"
    "  --checksum-fails         every checksum counts as wrong\n"
    "  --config-length N        configuration reply cut or padded to N characters\n"
    "  --config-lower-case  --config-zero-at POS  --config-non-hex-at POS\n"
    "  --config-silent          no answer to 0x15\n"
    "  --config-no-line-feed    CR only after the configuration reply\n"
    "\n"
    "Commands (keys in the console, or lines on standard input):\n"
    "  p or Enter   power cycle (switch the module off and on)\n"
    "  on / off     switch the module on / off\n"
    "  r            print the report\n"
    "  q            print the report and end (also at the end of standard input)\n";

namespace {

struct ArgumentCursor {
    int argc;
    const char* const* argv;
    int index;
    char* error;
    int32_t errorCapacity;
};

int16_t Fail(ArgumentCursor* cursor, const char* what, const char* argument) {
    snprintf(cursor->error, static_cast<size_t>(cursor->errorCapacity), "%s: %s", what, argument);
    return 1;
}

// The value after the option at the cursor; nullptr when there is none.
const char* TakeValue(ArgumentCursor* cursor) {
    if (cursor->index + 1 >= cursor->argc) {
        return nullptr;
    }
    cursor->index++;
    return cursor->argv[cursor->index];
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

// "word" or "word=TEXT": true when text starts with word and nothing or "="
// follows; *rest then points at TEXT (or nullptr).
bool MatchWord(const char* text, const char* word, const char** rest) {
    size_t length = strlen(word);
    if (strncmp(text, word, length) != 0) {
        return false;
    }
    if (text[length] == 0) {
        *rest = nullptr;
        return true;
    }
    if (text[length] == '=') {
        *rest = text + length + 1;
        return true;
    }
    return false;
}

bool CopyText(const char* text, char* target, size_t capacity) {
    if (strlen(text) >= capacity) {
        return false;
    }
    strcpy(target, text);
    return true;
}

bool ParseAnswer(const char* text, int16_t* fault, char* wrong, size_t capacity) {
    const char* rest = nullptr;
    if (strcmp(text, "normal") == 0) {
        *fault = kAnswerNormal;
    } else if (strcmp(text, "none") == 0) {
        *fault = kAnswerNone;
    } else if (MatchWord(text, "wrong", &rest)) {
        *fault = kAnswerWrong;
        return rest == nullptr || CopyText(rest, wrong, capacity);
    } else {
        return false;
    }
    return true;
}

bool ParseStartup(const char* text, int16_t* fault) {
    static const char* const kNames[] = {"normal", "banner-only", "wrong-letter", "endless"};
    for (int16_t i = 0; i < 4; ++i) {
        if (strcmp(text, kNames[i]) == 0) {
            *fault = i;
            return true;
        }
    }
    return false;
}

bool ParseAckFault(const char* text, int16_t* fault) {
    static const char* const kNames[] = {"normal", "missing", "wrong", "late"};
    for (int16_t i = 0; i < 4; ++i) {
        if (strcmp(text, kNames[i]) == 0) {
            *fault = i;
            return true;
        }
    }
    return false;
}

bool ParseConfirm(const char* text, SimOptions* options) {
    const char* rest = nullptr;
    if (strcmp(text, "normal") == 0) {
        options->confirmFault = kConfirmNormal;
    } else if (strcmp(text, "no-leading-byte") == 0) {
        options->confirmFault = kConfirmNoLeadingByte;
    } else if (strcmp(text, "crlf") == 0) {
        options->confirmFault = kConfirmCrLf;
    } else if (strcmp(text, "missing") == 0) {
        options->confirmFault = kConfirmMissing;
    } else if (MatchWord(text, "other", &rest)) {
        options->confirmFault = kConfirmOtherText;
        return rest == nullptr ||
               CopyText(rest, options->otherConfirmText, sizeof options->otherConfirmText);
    } else {
        return false;
    }
    return true;
}

bool ParsePort(const char* text, int16_t* port) {
    if ((text[0] == 'C' || text[0] == 'c') && (text[1] == 'O' || text[1] == 'o') &&
        (text[2] == 'M' || text[2] == 'm')) {
        text += 3;
    }
    int32_t number = 0;
    if (!ParseNumber(text, 1, 8, &number)) {
        return false;
    }
    *port = static_cast<int16_t>(number);
    return true;
}

// Options that take a number: name, bounds and where it goes.
int16_t ParseNumberOption(ArgumentCursor* cursor, const char* name, SimProgramSettings* s,
                          bool* known) {
    struct NumberOption {
        const char* name;
        int32_t low;
        int32_t high;
        int32_t* target;
    };
    SimOptions* o = &s->options;
    int32_t station = -1;
    const NumberOption kOptions[] = {
        {"--power-on-after", 0, 86400000, &s->powerOnAfterMs},
        {"--exit-after", 0, 86400000, &s->exitAfterMs},
        {"--pace", 1, 1000000, &o->pacingBaud},
        {"--power-on-delay", 0, 600000, &o->powerOnDelayMs},
        {"--ack-block", 0, 1000000, &o->ackFaultBlock},
        {"--ack-delay", 0, 600000, &o->ackDelayMs},
        {"--confirm-delay", 0, 600000, &o->confirmDelayMs},
        {"--config-length", 1, kSimConfigTextLimit, &o->configLength},
        {"--config-zero-at", 0, kSimConfigTextLimit, &o->configZeroAt},
        {"--config-non-hex-at", 0, kSimConfigTextLimit, &o->configNonHexAt},
        {"--station", 0, 255, &station},
    };
    for (const NumberOption& option : kOptions) {
        if (strcmp(name, option.name) != 0) {
            continue;
        }
        *known = true;
        const char* value = TakeValue(cursor);
        if (!ParseNumber(value, option.low, option.high, option.target)) {
            return Fail(cursor, "bad or missing number after", name);
        }
        if (station >= 0) {
            o->initialStationAddress = static_cast<int16_t>(station);
        }
        return 0;
    }
    *known = false;
    return 0;
}

// Options that take a word or a file name.
int16_t ParseValueOption(ArgumentCursor* cursor, const char* name, SimOptions* o, bool* known) {
    *known = true;
    if (strcmp(name, "--state") == 0 || strcmp(name, "--trace") == 0 ||
        strcmp(name, "--startup") == 0 || strcmp(name, "--answer-14") == 0 ||
        strcmp(name, "--answer-10") == 0 || strcmp(name, "--ack-fault") == 0 ||
        strcmp(name, "--wrong-ack") == 0 || strcmp(name, "--confirm") == 0) {
        const char* value = TakeValue(cursor);
        if (value == nullptr) {
            return Fail(cursor, "missing value after", name);
        }
        bool good = false;
        if (strcmp(name, "--state") == 0) {
            good = CopyText(value, o->stateFile, sizeof o->stateFile);
        } else if (strcmp(name, "--trace") == 0) {
            good = CopyText(value, o->traceFile, sizeof o->traceFile);
        } else if (strcmp(name, "--startup") == 0) {
            good = ParseStartup(value, &o->startupFault);
        } else if (strcmp(name, "--answer-14") == 0) {
            good = ParseAnswer(value, &o->answer14, o->wrongAnswer14, sizeof o->wrongAnswer14);
        } else if (strcmp(name, "--answer-10") == 0) {
            good = ParseAnswer(value, &o->answer10, o->wrongAnswer10, sizeof o->wrongAnswer10);
        } else if (strcmp(name, "--ack-fault") == 0) {
            good = ParseAckFault(value, &o->ackFault);
        } else if (strcmp(name, "--wrong-ack") == 0) {
            good = strlen(value) == 1;
            o->wrongAck = static_cast<uint8_t>(value[0]);
        } else {
            good = ParseConfirm(value, o);
        }
        return good ? 0 : Fail(cursor, "bad value for", name);
    }
    *known = false;
    return 0;
}

// Options that name an event of the session: NAME, 1 to 63 characters.
int16_t ParseEventOption(ArgumentCursor* cursor, const char* name, SimProgramSettings* s,
                         bool* known) {
    char* target = nullptr;
    if (strcmp(name, "--power-event") == 0) {
        target = s->powerEventName;
    } else if (strcmp(name, "--quit-event") == 0) {
        target = s->quitEventName;
    } else {
        *known = false;
        return 0;
    }
    *known = true;
    const char* value = TakeValue(cursor);
    if (value == nullptr || value[0] == 0 || !CopyText(value, target, kSimEventNameCapacity)) {
        return Fail(cursor, "bad or missing event name after", name);
    }
    return 0;
}

// Options without a value.
bool ParseFlag(const char* name, SimProgramSettings* s) {
    SimOptions* o = &s->options;
    struct Flag {
        const char* name;
        int16_t* target;
        int16_t value;
    };
    const Flag kFlags[] = {
        {"--no-input", &s->ignoreInput, 1},
        {"--no-banner-line-end", &o->bannerLineEnd, 0},
        {"--glitch", &o->powerGlitch, 1},
        {"--checksum-fails", &o->checksumCheckFails, 1},
        {"--config-lower-case", &o->configLowerCase, 1},
        {"--config-silent", &o->configSilent, 1},
        {"--config-no-line-feed", &o->configLineFeed, 0},
    };
    for (const Flag& flag : kFlags) {
        if (strcmp(name, flag.name) == 0) {
            *flag.target = flag.value;
            return true;
        }
    }
    return false;
}

} // namespace

int16_t ParseSimArguments(int argc, const char* const* argv, SimProgramSettings* settings,
                          char* error, int32_t errorCapacity) {
    memset(settings, 0, sizeof *settings);
    settings->powerOnAfterMs = -1;
    settings->exitAfterMs = -1;
    SetDefaultSimOptions(&settings->options);
    if (errorCapacity > 0) {
        error[0] = 0;
    }
    ArgumentCursor cursor = {argc, argv, 1, error, errorCapacity};
    bool havePort = false;
    for (; cursor.index < argc; ++cursor.index) {
        const char* argument = argv[cursor.index];
        if (strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0 ||
            strcmp(argument, "/?") == 0) {
            settings->showHelp = 1;
            return 0;
        }
        if (argument[0] != '-') {
            if (havePort || !ParsePort(argument, &settings->portNumber)) {
                return Fail(&cursor, "not a port COM1 to COM8", argument);
            }
            havePort = true;
            continue;
        }
        bool known = false;
        if (ParseFlag(argument, settings)) {
            continue;
        }
        if (ParseNumberOption(&cursor, argument, settings, &known) != 0) {
            return 1;
        }
        if (known) {
            continue;
        }
        if (ParseValueOption(&cursor, argument, &settings->options, &known) != 0) {
            return 1;
        }
        if (known) {
            continue;
        }
        if (ParseEventOption(&cursor, argument, settings, &known) != 0) {
            return 1;
        }
        if (!known) {
            return Fail(&cursor, "unknown option", argument);
        }
    }
    if (!havePort) {
        return Fail(&cursor, "missing port", "COMn");
    }
    return 0;
}
