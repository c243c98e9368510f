#include "sim_arguments.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include <CLI/CLI.hpp>

#include "console_options.h"

namespace {

const char kCommands[] =
    "Commands (keys in the console, or lines on standard input):\n"
    "  p or Enter   power cycle (switch the module off and on)\n"
    "  on / off     switch the module on / off\n"
    "  r            print the report\n"
    "  q            print the report and end (also at the end of standard input)\n";

// An option of a number from low to high, written typeName in the help.
template <typename T>
void AddNumber(CLI::App& app, const std::string& name, T* target, int32_t low, int32_t high,
               const std::string& typeName, const std::string& help) {
    app.add_option(name, *target, help)
        ->check(CLI::Range(low, high).description(""))
        ->type_name(typeName);
}

// An option of one of names, listed in the order of their enum's values; it
// stores the index of the name given. The name texted also takes "NAME=TEXT"
// and puts TEXT into text (capacity with its NUL).
void AddChoice(CLI::App& app, const std::string& name, const std::vector<std::string>& names,
               int16_t* target, const std::string& help, const std::string& texted = "",
               char* text = nullptr, size_t capacity = 0) {
    std::string typeName;
    for (const std::string& word : names) {
        typeName += (typeName.empty() ? "" : "|") + word + (word == texted ? "[=TEXT]" : "");
    }
    app.add_option_function<std::string>(
           name,
           [=](const std::string& value) {
               const size_t equals = value.find('=');
               const std::string word = value.substr(0, equals);
               const auto found = std::find(names.begin(), names.end(), word);
               if (found == names.end() || (equals != std::string::npos && word != texted)) {
                   throw CLI::ValidationError(name, value + " is not " + typeName);
               }
               if (equals != std::string::npos) {
                   const std::string rest = value.substr(equals + 1);
                   if (rest.size() >= capacity) {
                       throw CLI::ValidationError(name, "TEXT longer than " +
                                                            std::to_string(capacity - 1) +
                                                            " characters");
                   }
                   strcpy(text, rest.c_str());
               }
               *target = static_cast<int16_t>(found - names.begin());
           },
           help)
        ->type_name(typeName);
}

// The defaults in settings, and the arguments that change them.
void DescribeArguments(CLI::App& app, SimProgramSettings* s) {
    memset(s, 0, sizeof *s);
    s->powerOnAfterMs = -1;
    s->exitAfterMs = -1;
    SetDefaultSimOptions(&s->options);
    SimOptions* o = &s->options;

    app.description("A simulated Korvan module on a COM port (9600 8N1).");
    app.add_option("port", s->portNumber, "the module's port, COM1 to COM256")
        ->required()
        ->transform(ComPortArgument())
        ->type_name("COMn");
    app.footer(kCommands);

    // An option given twice takes its last value.
    app.option_defaults()->group("Running")->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.set_help_flag("-h,--help", "print this help and end (also /?)");
    AddNumber(app, "--power-on-after", &s->powerOnAfterMs, 0, 86400000, "MS",
              "switch the module on MS after the start");
    AddNumber(app, "--exit-after", &s->exitAfterMs, 0, 86400000, "MS",
              "end MS after the start (standard input may end before)");
    app.add_flag_callback(
        "--no-input", [s] { s->ignoreInput = 1; }, "do not read standard input");
    AddTextOption(&app, "--power-event", s->powerEventName, sizeof s->powerEventName, "NAME",
                  "power cycle whenever another program sets the named event");
    AddTextOption(&app, "--quit-event", s->quitEventName, sizeof s->quitEventName, "NAME",
                  "print the report and end when another program sets it");
    AddTextOption(&app, "--state", o->stateFile, sizeof o->stateFile, "FILE",
                  "keep the configuration record in FILE across runs");
    AddTextOption(&app, "--trace", o->traceFile, sizeof o->traceFile, "FILE",
                  "serial trace file of the port");
    AddNumber(app, "--station", &o->initialStationAddress, 0, 255, "N",
              "station address (value 14 of the record) at the start");
    AddNumber(app, "--pace", &o->pacingBaud, 1, 1000000, "BAUD",
              "bytes take their wire time at BAUD, answers wait for them");
    AddNumber(app, "--power-on-delay", &o->powerOnDelayMs, 0, 600000, "MS",
              "from power-on to the first start-up byte");

    app.option_defaults()->group("Faults");
    AddChoice(app, "--startup", {"normal", "banner-only", "wrong-letter", "endless"},
              &o->startupFault, "what the module sends at power-on");
    AddTextOption(&app, "--startup-text", o->startupText, sizeof o->startupText, "TEXT",
                  "the line before the banner (default \"Korvan V2.07\")");
    app.add_flag_callback(
        "--no-banner-line-end", [o] { o->bannerLineEnd = 0; }, "no CR LF after the banner");
    app.add_flag_callback(
        "--glitch", [o] { o->powerGlitch = 1; },
        "the bytes 0x00 0xFF 0xF8 of a glitching line at power-on");
    AddChoice(app, "--answer-14", {"normal", "none", "wrong"}, &o->answer14,
              "answer to 0x14 (wrong: \"NO\")", "wrong", o->wrongAnswer14, sizeof o->wrongAnswer14);
    AddChoice(app, "--answer-10", {"normal", "none", "wrong"}, &o->answer10,
              "answer to 0x10 (wrong: \"?\")", "wrong", o->wrongAnswer10, sizeof o->wrongAnswer10);
    AddChoice(app, "--ack-fault", {"normal", "missing", "wrong", "late"}, &o->ackFault,
              "at acknowledgement --ack-block");
    AddNumber(app, "--ack-block", &o->ackFaultBlock, 0, 1000000, "N",
              "the acknowledgement of --ack-fault (from 0)");
    AddNumber(app, "--ack-delay", &o->ackDelayMs, 0, 600000, "MS",
              "a late acknowledgement's delay");
    app.add_option_function<std::string>(
           "--wrong-ack",
           [o](const std::string& value) {
               if (value.size() != 1) {
                   throw CLI::ValidationError("--wrong-ack", "needs one character");
               }
               o->wrongAck = static_cast<uint8_t>(value[0]);
           },
           "a wrong acknowledgement's character (default ?)")
        ->type_name("CHAR");
    AddChoice(app, "--confirm", {"normal", "no-leading-byte", "crlf", "other", "missing"},
              &o->confirmFault, "the confirmation after a matching checksum", "other",
              o->otherConfirmText, sizeof o->otherConfirmText);
    AddNumber(app, "--confirm-delay", &o->confirmDelayMs, 0, 600000, "MS",
              "the confirmation leaves MS after the checksum");
    app.add_flag_callback(
        "--checksum-fails", [o] { o->checksumCheckFails = 1; }, "every checksum counts as wrong");
    AddNumber(app, "--config-length", &o->configLength, 1, kSimConfigTextLimit, "N",
              "configuration reply cut or padded to N characters");
    app.add_flag_callback(
        "--config-lower-case", [o] { o->configLowerCase = 1; },
        "configuration reply in lower-case digits");
    AddNumber(app, "--config-zero-at", &o->configZeroAt, 0, kSimConfigTextLimit, "POS",
              "a zero byte inserted at POS of the configuration reply");
    AddNumber(app, "--config-non-hex-at", &o->configNonHexAt, 0, kSimConfigTextLimit, "POS",
              "the character at POS of the configuration reply becomes \"Z\"");
    app.add_flag_callback(
        "--config-silent", [o] { o->configSilent = 1; }, "no answer to 0x15");
    app.add_flag_callback(
        "--config-no-line-feed", [o] { o->configLineFeed = 0; },
        "CR only after the configuration reply");
}

} // namespace

int16_t ParseSimArguments(int argc, const char* const* argv, SimProgramSettings* settings,
                          char* error, int32_t errorCapacity) {
    CLI::App app("", "korvan-sim.exe");
    DescribeArguments(app, settings);
    if (errorCapacity > 0) {
        error[0] = 0;
    }
    if (std::find(argv + 1, argv + argc, std::string("/?")) != argv + argc) {
        settings->showHelp = 1;
        return 0;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        settings->showHelp = 1;
    } catch (const CLI::ParseError& e) {
        snprintf(error, static_cast<size_t>(errorCapacity), "%s", UsageProblem(e).c_str());
        return 1;
    }
    return 0;
}

std::string SimHelpText() {
    CLI::App app("", "korvan-sim.exe");
    static SimProgramSettings scratch;
    DescribeArguments(app, &scratch);
    return app.help();
}
