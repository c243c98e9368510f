#include "command_line.h"

#include <windows.h>

#include <CLI/CLI.hpp>

#include <cstdio>

#include "any_port_option.h"
#include "console_options.h"
#include "korvan_version.h"

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

int UsageError(const std::string& problem) {
    fprintf(stderr, "korvan-cli: %s (see korvan-cli --help)\n", problem.c_str());
    return kUsageError;
}

int ReadCommandLine(int argc, wchar_t** wideArgv, CommandLine* line) {
    std::vector<std::string> arguments;
    for (int k = 0; k < argc; ++k) {
        arguments.push_back(Utf8Of(wideArgv[k]));
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(&argument[0]);
    }

    CLI::App app{"Programs a Korvan module on a COM port: loads new firmware into it, or sets "
                 "its Profibus-ID. Several ports at once, and module after module, make it a "
                 "production station.",
                 "korvan-cli"};
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

    try {
        app.parse(argc, argv.data());
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return UsageError(UsageProblem(e));
    }
    line->countGiven = count->count() > 0;
    line->jobGiven = firmware->parsed() || profibus->parsed() || readId->parsed();
    line->mode =
        firmware->parsed() ? kFirmwareMode : (profibus->parsed() ? kProfibusIdMode : kReadIdMode);
    return -1;
}
