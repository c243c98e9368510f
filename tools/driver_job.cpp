#include "driver_job.h"

#include <cstdio>
#include <cstring>

#include <CLI/CLI.hpp>

#include "console_options.h"

namespace {

// Lists a command with the words it takes: "firmware FILE". The usage line
// shows that a command is needed, which a callback checks.
class CommandFormatter : public CLI::Formatter {
  public:
    CommandFormatter() {
        label("SUBCOMMAND", "COMMAND");
    }
    std::string make_usage(const CLI::App* app, std::string name) const override {
        return CLI::detail::find_and_replace(CLI::Formatter::make_usage(app, name), "[COMMAND]",
                                             "COMMAND");
    }
    std::string make_subcommand(const CLI::App* command) const override {
        std::string words = command->get_display_name(true);
        for (const CLI::Option* word : command->get_options(
                 [](const CLI::Option* option) { return option->get_positional(); })) {
            words += " " + word->get_name(true);
        }
        std::stringstream out;
        CLI::detail::format_help(out, words, command->get_description(), get_column_width());
        return out.str();
    }
};

// The port and the two jobs of command (run or choose), which sets
// s->command to code once a job is given.
void AddJobs(CLI::App* command, DriverSettings* s, int16_t code) {
    command->group("Commands");
    command->require_subcommand(0, 1);
    command
        ->add_option("--port", s->portNumber, "the tool's port to pick in its list (default COM1)")
        ->transform(ComPortArgument())
        ->type_name("COMn");
    CLI::App* firmware =
        command->add_subcommand("firmware", "load FILE (at most 99 characters) into the module");
    AddTextOption(firmware, "FILE", s->fileName, sizeof s->fileName, "", "the firmware script")
        ->required();
    firmware->callback([s] { s->job = kJobFirmware; });
    firmware->group("Jobs");
    CLI::App* profibusId = command->add_subcommand("profibus-id", "set the Profibus-ID (1 to 127)");
    profibusId->group("Jobs");
    profibusId->add_option("ID", s->profibusId, "the new Profibus-ID")
        ->required()
        ->check(CLI::Range(1, 127).description(""));
    profibusId->callback([s] { s->job = kJobProfibusId; });
    const std::string name = command->get_name();
    command->callback([s, code, name] {
        if (s->job == 0) {
            throw CLI::RequiredError("The job of " + name + " (firmware FILE or profibus-id ID)");
        }
        s->command = code;
    });
}

// The defaults in settings, and the commands and options that change them.
void DescribeArguments(CLI::App& app, DriverSettings* s) {
    memset(s, 0, sizeof *s);
    s->portNumber = 1;
    s->timeoutMs = kDriverDefaultTimeoutMs;

    app.description("Drives the running KORVAN_Setup.exe dialog as a person would.");
    app.formatter(std::make_shared<CommandFormatter>());
    app.set_help_flag("-h,--help", "print this help and end");
    // An option given twice takes its last value.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    // The command, and the job of run, are required by the callbacks, which
    // run after CLI11 has refused words it does not know ("dance"): its own
    // requirement would come first and not name them.
    app.require_subcommand(0, 1);
    app.callback([s] {
        if (s->command == 0) {
            throw CLI::RequiredError("A command (run, choose, quit or set-event)");
        }
    });
    app.fallthrough(); // the options of a command may follow its words
    app.add_option_function<int32_t>(
           "--timeout", [s](int32_t seconds) { s->timeoutMs = seconds * 1000; },
           "longest wait for each step, every command (default 120)")
        ->check(CLI::Range(1, 3600).description(""))
        ->type_name("S");

    CLI::App* run = app.add_subcommand("run", "one job, from START to the result line");
    AddJobs(run, s, kDriverRun);
    AddTextOption(run, "--power-event", s->powerEventName, sizeof s->powerEventName, "",
                  "set this event when the tool asks for the power cycle")
        ->type_name("NAME");
    run->add_option("--hold-prompt", s->holdPromptMs,
                    "leave the prompt box standing MS before the power cycle and OK (default 0)")
        ->check(CLI::Range(0, static_cast<int>(kDriverLongestHoldMs)).description(""))
        ->type_name("MS");

    AddJobs(app.add_subcommand("choose", "pick the port and the job only, without START"), s,
            kDriverChoose);

    app.add_subcommand("quit", "press Quit and wait until the dialog is gone")
        ->group("Commands")
        ->callback([s] { s->command = kDriverQuit; });
    CLI::App* setEvent =
        app.add_subcommand("set-event", "set a named event (waits until it exists)");
    AddTextOption(setEvent, "NAME", s->eventName, sizeof s->eventName, "",
                  "the event (up to 63 characters)")
        ->required();
    setEvent->group("Commands");
    setEvent->callback([s] { s->command = kDriverSetEvent; });
    app.footer("run prints the steps, the status line and the result line; its exit status is 0\n"
               "when the result line reports success, 1 otherwise. choose exits with 0 once the\n"
               "dialog is ready for START, 1 otherwise.");
}

} // namespace

int16_t ParseDriverArguments(int argc, const char* const* argv, DriverSettings* settings,
                             char* error, int32_t errorCapacity) {
    CLI::App app("", "korvan-demo-driver.exe");
    DescribeArguments(app, settings);
    if (errorCapacity > 0) {
        error[0] = 0;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        settings->command = kDriverHelp;
    } catch (const CLI::ParseError& e) {
        snprintf(error, static_cast<size_t>(errorCapacity), "%s", UsageProblem(e).c_str());
        return 1;
    }
    return 0;
}

std::string DriverHelpText() {
    CLI::App app("", "korvan-demo-driver.exe");
    static DriverSettings scratch;
    DescribeArguments(app, &scratch);
    return app.help("", CLI::AppFormatMode::All);
}

const char* SuccessTextOfJob(int16_t job) {
    return job == kJobFirmware ? " The programming of Firmware was successful. "
                               : " The programming of Profibus-ID was successful. ";
}
