#include "command_line.h"

#include <windows.h>

#include <CLI/CLI.hpp>

#include <cstdio>

#include "any_port_option.h"
#include "console_options.h"
#include "korvan_version.h"
#include "settings_file.h"
#include "settings_options.h"

namespace {

const char kExitStatuses[] =
    "Exit status:\n"
    "  0  success (the result text goes to standard output)\n"
    "  1  the command line is not usable, or the --log file has other columns\n"
    "  2  The Script file could not be loaded\n"
    "  3  Error on opening the COM-Port\n"
    "  4  Connected instrument is no Korvan module\n"
    "  5  Korvan does not answer\n"
    "  6  Korvan could not be programmed\n"
    "  7  Configuration of Korvan module cannot be read\n"
    "  8  Error in received configuration of Korvan module\n"
    "  9  The run was interrupted (Ctrl+C, Ctrl+Break, the window closed, the session\n"
    "     ending, or the stop event): its module needs programming again\n"
    " 10  a row never reached the --log file (it follows on standard output)\n"
    " 11  a module record never reached the --mqtt broker (it follows on standard\n"
    "     output); 10 when rows of the log were lost too\n"
    "One port, one module: the module's status. Several ports, one module each: 0 when\n"
    "every module succeeded, else the status of the first port, in command-line order,\n"
    "whose module did not. With --repeat: 0 when every module done succeeded (also when\n"
    "the stop came while the ports waited for their next module), else the status of\n"
    "the first module, in time, that did not.\n"
    "\n"
    "The tool asks for the module to be switched OFF and ON. On a console it goes on\n"
    "when Enter is pressed; with standard input from a file or pipe (< NUL) it goes on\n"
    "at once and waits up to --wait-start seconds for the module's start-up output:\n"
    "when none has come by then, the run ends there with exit status 4. With --repeat\n"
    "a port waits for its modules as long as the station runs: an empty fixture is\n"
    "no failure.\n"
    "A failure's detail follows its text on standard error.\n";

// A whole number from low to high, written in decimal digits.
CLI::Validator WholeNumber(int low, int high) {
    const std::string range = std::to_string(low) + " to " + std::to_string(high);
    return CLI::Validator(
        [low, high, range](std::string& text) -> std::string {
            if (text.empty() || text.size() > 9 ||
                text.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(text) < low || std::stoi(text) > high) {
                return text + " is no number from " + range;
            }
            return "";
        },
        "");
}

} // namespace

std::string Utf8Of(const wchar_t* text) {
    const int room = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (room <= 0) {
        return "";
    }
    std::string bytes(static_cast<size_t>(room), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &bytes[0], room, nullptr, nullptr);
    bytes.pop_back(); // the terminator
    return bytes;
}

namespace {
std::string lastUsageProblem;
} // namespace

int UsageError(const std::string& problem) {
    fprintf(stderr, "korvan-cli: %s (see korvan-cli --help)\n", problem.c_str());
    lastUsageProblem = problem;
    return kUsageError;
}

const std::string& LastUsageProblem() {
    return lastUsageProblem;
}

namespace {

// What the reading needs of the command line's parts beyond the values.
struct CommandParts {
    CLI::Option* count = nullptr;
    CLI::App* firmware = nullptr;
    CLI::App* profibus = nullptr;
    CLI::App* readId = nullptr;
    CLI::App* service = nullptr;
    CLI::App* install = nullptr;
    CLI::App* remove = nullptr;
    CLI::App* status = nullptr;
};

// The command line's options and jobs, their values going into *line.
void DefineCommandLine(CLI::App& app, CommandLine* line, CommandParts* parts) {
    app.set_version_flag("--version", std::string("korvan-cli ") + KORVAN_VERSION_TEXT);
    app.footer(kExitStatuses);
    app.require_subcommand(0, 1);
    app.fallthrough();

    app.add_option("--port", line->ports,
                   "the module's COM port: COMn, n from 1 to 256; or auto: listens on every "
                   "port (but those of a Bluetooth link; each opened port gets DTR raised) and "
                   "takes the one the module announces itself on. Given several times, or as a "
                   "list (COM3,COM4), one module on each port, all at once")
        ->type_name("COMn|auto")
        ->delimiter(',')
        ->transform(ComPortOrAutoArgument());
    app.add_option("--trace", line->traceFile,
                   "writes the port's traffic to FILE: 2-byte records of byte and direction "
                   "(1 received, 2 sent); one port, one module")
        ->type_name("FILE");
    app.add_option("--wait-start", line->waitStartSeconds,
                   "without a console: the longest wait for the module's start-up output, 1 to "
                   "3600 seconds; none by then ends the run with exit status 4 (with --repeat a "
                   "port waits as long as the station runs)")
        ->type_name("SECONDS")
        ->check(WholeNumber(1, 3600))
        ->capture_default_str();
    app.add_flag("--repeat", line->repeat,
                 "module after module: after each run the port waits for the next module's "
                 "start-up output and programs it, until a stop or --count; a port whose "
                 "adapter is pulled out waits for it to come back");
    CLI::Option* count =
        app.add_option("--count", line->count,
                       "with --repeat: stops after N modules on all ports (a module counts once "
                       "its start-up output comes, on whichever port; a port that then finds "
                       "every module taken ends)")
            ->type_name("N")
            ->check(WholeNumber(1, 1000000));
    app.add_option("--log", line->logFile,
                   "appends a CSV line for each module to FILE (made with a header line when "
                   "new; a file with other columns is refused; several stations may share it; "
                   "rows wait while it cannot be written)")
        ->type_name("FILE");
    app.add_option("--stop-event", line->stopEvent,
                   "for a line controller: when another program sets the named event, the "
                   "runs end as after Ctrl+C. The station resets the event when it starts: a "
                   "stop applies to the station that runs when it is given")
        ->type_name("NAME");
    app.add_option("--serve", line->serve,
                   "serves the station's live page and its HTTP interface at [ADDRESS:]PORT "
                   "while it runs (ADDRESS 127.0.0.1 unless given; PORT 0 picks a free one)")
        ->type_name("[ADDRESS:]PORT");
    app.add_option("--serve-token-file", line->serveTokenFile,
                   "the secret that every request to --serve must carry: the file's first "
                   "line, 16 characters or more; needed for an ADDRESS beyond this PC")
        ->type_name("FILE");
    app.add_option("--serve-host", line->serveHosts,
                   "a further name that requests to --serve may carry as their Host (a DNS "
                   "alias of this PC, a reverse proxy's name); given again for more")
        ->type_name("NAME");
    app.add_option("--station", line->stationName,
                   "names the station in every record, the log's rows, the interface and the "
                   "page (default: the PC's name)")
        ->type_name("NAME");
    app.add_option("--order", line->order,
                   "the work order or lot, in every record and the log's rows")
        ->type_name("TEXT");
    app.add_option("--operator", line->operatorName,
                   "who runs the station, in every record and the log's rows")
        ->type_name("TEXT");
    app.add_option("--alarm-after", line->alarmAfter,
                   "raises a port's alarm when N modules in a row have failed on it, until one "
                   "passes; 0 for none")
        ->type_name("N")
        ->check(WholeNumber(0, 1000000))
        ->capture_default_str();
    app.add_option("--mqtt", line->mqtt,
                   "publishes the station to the plant's MQTT broker at HOST[:PORT] (1883 unless "
                   "given; no TLS): its state and its ports retained, each module record with "
                   "QoS 1; records wait while the broker is away")
        ->type_name("HOST[:PORT]");
    app.add_option("--mqtt-topic", line->mqttTopic,
                   "the topics' prefix (default korvan/ and this PC's name): PREFIX/state, "
                   "PREFIX/port/COMn, PREFIX/module")
        ->type_name("PREFIX");
    app.add_option("--mqtt-credentials", line->mqttCredentials,
                   "the broker's login: the file's first line the user, its second the password")
        ->type_name("FILE");
    app.add_flag("--list-ports", line->listPorts,
                 "lists the COM ports this PC has, one a line, with their device's name, maker "
                 "and USB IDs where Windows knows them");

    CLI::App* firmware = app.add_subcommand("firmware", "loads new firmware into the module");
    firmware->add_option("FILE", line->scriptFile, "the firmware script (.dcs)")->required();
    CLI::App* profibus = app.add_subcommand("profibus-id", "sets the module's Profibus-ID");
    profibus->add_option("ID", line->profibusId, "the new Profibus-ID, 1 to 127")
        ->required()
        ->check(WholeNumber(1, 127));
    CLI::App* readId = app.add_subcommand(
        "read-id", "reads the module's configuration record and writes nothing back: the "
                   "Profibus-ID on standard output, the record on standard error");

    DefineSettingsOptions(app, line);
    parts->service =
        DefineServiceCommands(app, line, &parts->install, &parts->remove, &parts->status);
    parts->count = count;
    parts->firmware = firmware;
    parts->profibus = profibus;
    parts->readId = readId;
}

CLI::App MakeApp() {
    return CLI::App{"Programs a Korvan module on a COM port: loads new firmware into it, or sets "
                    "its Profibus-ID. Several ports at once, and module after module, make it a "
                    "production station.",
                    "korvan-cli"};
}

// What CLI11 says of the arguments (the program's name first): empty when
// it takes them.
std::string ParseProblem(const std::vector<std::string>& arguments) {
    CommandLine scratch;
    CommandParts parts;
    CLI::App app = MakeApp();
    DefineCommandLine(app, &scratch, &parts);
    std::vector<std::string> kept = arguments;
    std::vector<char*> argv;
    for (std::string& argument : kept) {
        argv.push_back(&argument[0]);
    }
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        return UsageProblem(e);
    }
    return "";
}

// The settings file's arguments before the command line's, its job after
// them, each setting checked on its own so that a problem names its line;
// a setting that the command line gives too is left out (the command line
// wins).
std::string MergeSettings(const CLI::App& app, const CommandParts& parts,
                          const std::vector<std::string>& arguments, const std::string& fileName,
                          std::vector<std::string>* merged) {
    std::vector<Setting> settings;
    std::string folder;
    std::string problem = ReadSettingsFile(fileName, &settings, &folder);
    if (!problem.empty()) {
        return fileName + ", " + problem;
    }
    merged->assign(1, arguments[0]);
    for (const Setting& setting : settings) {
        if (setting.key == "job" || setting.key == "script" || setting.key == "profibus-id") {
            continue;
        }
        const CLI::Option* option = app.get_option_no_throw("--" + setting.key);
        const std::string where =
            fileName + ", line " + std::to_string(setting.line) + ", " + setting.key + ": ";
        if (option == nullptr || !IsSettingKey(setting.key)) {
            return where + "no such setting";
        }
        if (option->count() > 0) {
            continue;
        }
        const std::vector<std::string> given = OptionArguments(setting, folder);
        problem = ParseProblem({arguments[0], given[0]});
        if (!problem.empty()) {
            const std::string named = "--" + setting.key + ": ";
            return where + (problem.rfind(named, 0) == 0 ? problem.substr(named.size()) : problem);
        }
        merged->push_back(given[0]);
    }
    merged->insert(merged->end(), arguments.begin() + 1, arguments.end());
    const bool jobGiven =
        parts.firmware->parsed() || parts.profibus->parsed() || parts.readId->parsed();
    const std::vector<std::string> job = JobArguments(settings, folder, &problem);
    if (!problem.empty()) {
        return fileName + ", " + problem;
    }
    if (!jobGiven && !job.empty()) {
        std::vector<std::string> alone{arguments[0]};
        alone.insert(alone.end(), job.begin(), job.end());
        problem = ParseProblem(alone);
        if (!problem.empty()) {
            return fileName + ", job " + job[0] + ": " + problem;
        }
        merged->insert(merged->end(), job.begin(), job.end());
    }
    return "";
}

// What the parts parsed tell beyond their values.
void TakeParts(const CommandParts& parts, CommandLine* line) {
    line->countGiven = parts.count->count() > 0;
    line->jobGiven = parts.firmware->parsed() || parts.profibus->parsed() || parts.readId->parsed();
    line->mode = parts.firmware->parsed()
                     ? kFirmwareMode
                     : (parts.profibus->parsed() ? kProfibusIdMode : kReadIdMode);
    if (parts.service->parsed()) {
        line->service = parts.install->parsed()
                            ? kServiceInstall
                            : (parts.remove->parsed() ? kServiceRemove : kServiceStatus);
    }
}

// Parses the arguments into *line: -1 to go on, else the exit status.
int Parse(std::vector<std::string> arguments, CommandLine* line, CLI::App* app,
          CommandParts* parts) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(&argument[0]);
    }
    DefineCommandLine(*app, line, parts);
    try {
        app->parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp& e) {
        return app->exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app->exit(e);
    } catch (const CLI::ParseError& e) {
        return UsageError(UsageProblem(e));
    }
    return -1;
}

} // namespace

int ReadCommandLine(int argc, wchar_t** wideArgv, CommandLine* line) {
    std::vector<std::string> arguments;
    for (int k = 0; k < argc; ++k) {
        arguments.push_back(Utf8Of(wideArgv[k]));
    }
    CLI::App app = MakeApp();
    CommandParts parts;
    int read = Parse(arguments, line, &app, &parts);
    if (read >= 0 || line->configFile.empty()) {
        TakeParts(parts, line);
        return read;
    }
    // The settings file: what the command line does not give.
    std::vector<std::string> merged;
    const std::string problem = MergeSettings(app, parts, arguments, line->configFile, &merged);
    if (!problem.empty()) {
        return UsageError(problem);
    }
    if (parts.service->parsed()) {
        TakeParts(parts, line); // the service takes the file's name, checked here
        return -1;
    }
    const std::string configFile = line->configFile;
    *line = CommandLine();
    CLI::App again = MakeApp();
    read = Parse(merged, line, &again, &parts);
    line->configFile = configFile;
    TakeParts(parts, line);
    return read;
}
