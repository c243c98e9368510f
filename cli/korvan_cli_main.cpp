// korvan-cli.exe: the programming run of KORVAN_Setup.exe without a dialog,
// for production lines and scripts. The same procedure and the same bytes on
// the wire; the outcome in the exit status and as the dialog's result text.
#include <windows.h>

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "any_port_option.h"
#include "console_face.h"
#include "console_options.h"
#include "korvan_version.h"
#include "module_log.h"
#include "port_list.h"
#include "port_listing.h"
#include "run_face.h"
#include "script_store.h"
#include "station.h"

namespace {

const int kUsageError = 1;

const char kExitStatuses[] =
    "Exit status:\n"
    "  0  success (the result text goes to standard output)\n"
    "  1  the command line is not usable\n"
    "  2  The Script file could not be loaded\n"
    "  3  Error on opening the COM-Port\n"
    "  4  Connected instrument is no Korvan module\n"
    "  5  Korvan does not answer\n"
    "  6  Korvan could not be programmed\n"
    "  7  Configuration of Korvan module cannot be read\n"
    "  8  Error in received configuration of Korvan module\n"
    "  9  The run was interrupted (Ctrl+C or Ctrl+Break): its module needs programming\n"
    "     again\n"
    " 10  the --log file could not be written: the station stopped\n"
    "Several ports: 0 when every module succeeded, else the status of the first port,\n"
    "in command-line order, that had a failure.\n"
    "\n"
    "The tool asks for the module to be switched OFF and ON. On a console it goes on\n"
    "when Enter is pressed; with standard input from a file or pipe (< NUL) it goes on\n"
    "at once and waits up to --wait-start seconds for the module's start-up output:\n"
    "when none has come by then, the run ends there with exit status 4.\n"
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

int UsageError(const std::string& problem) {
    fprintf(stderr, "korvan-cli: %s (see korvan-cli --help)\n", problem.c_str());
    return kUsageError;
}

bool IsConsole(DWORD standardHandle) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(standardHandle), &mode) != 0;
}

// Tried before anything is opened: whether the trace file can be created.
// Empty when it can, else the system's reason. A file that the try made is
// removed again; the run makes it afresh.
std::string TraceFileProblem(const std::string& name) {
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return SystemMessage(GetLastError());
    }
    const bool made = GetLastError() != ERROR_ALREADY_EXISTS;
    CloseHandle(file);
    if (made) {
        DeleteFileA(name.c_str());
    }
    return "";
}

// A UTF-16 argument in UTF-8, as CLI11 and the program's 8-bit calls take it.
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

int ListPorts() {
    fputs(ListPortsNow().c_str(), stdout);
    return 0;
}

// The script's bytes stay in this slot of the store for every run.
const int16_t kCliScriptSlot = 2;

// The job as the log names it, for a run that has not begun: the script
// could not be loaded.
int ScriptNotLoaded(StationJob* job) {
    RunReport report{};
    report.outcome = kScriptNotLoaded;
    report.oldProfibusId = -1;
    snprintf(report.detail, sizeof report.detail, "the file cannot be opened or read");
    const std::string start = UtcNowText();
    for (int16_t port : job->ports) {
        report.port = port;
        if (job->log != nullptr) {
            job->log->Append(LogLineOf(*job, report, "", start, 0));
        }
    }
    fputs(FailureReport(report).c_str(), stderr);
    return kScriptNotLoaded;
}

// One port, one module: the console face's own lines, as ever.
int RunSingle(StationJob* job, ConsoleFace* face) {
    RunChoices* choices = &face->choices;
    std::vector<int16_t> interruptible = job->ports;
    if (choices->port == kAnyPort) {
        interruptible.assign(choices->watchPorts, choices->watchPorts + choices->watchCount);
    }
    CatchInterrupts(interruptible);
    const RunFace runFace = MakeConsoleFace(face);
    const RunOutcome outcome = RunProgramming(&runFace);
    const RunReport& report = face->report;
    if (outcome == kRunSucceeded && job->mode == kReadIdMode) {
        // The station address for a script; the whole record for a person.
        printf("%d\n", report.oldProfibusId);
        fprintf(stderr, "Configuration record: %s\n", report.record);
    } else if (outcome == kRunSucceeded) {
        printf("%s\n", face->result.c_str());
    } else {
        fputs(FailureReport(report).c_str(), stderr);
    }
    if (job->log != nullptr) {
        const std::string problem =
            job->log->Append(LogLineOf(*job, report, face->result, face->moduleOnUtc,
                                       (GetTickCount64() - face->moduleOnMs) / 1000.0));
        if (!problem.empty()) {
            fprintf(stderr, "korvan-cli: the log cannot be written: %s\n", problem.c_str());
            return outcome == kRunSucceeded ? static_cast<int>(kExitLogFailed) : outcome;
        }
    }
    return outcome;
}

} // namespace

// The arguments come as UTF-16 (wmain), so that names beyond the system's
// code page arrive whole; CLI11 reads them in UTF-8.
int wmain(int argc, wchar_t** wideArgv) {
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

    std::vector<int> ports;
    app.add_option("--port", ports,
                   "the module's COM port: COMn, n from 1 to 256; or auto: listens on every "
                   "port and takes the one the module announces itself on. Given several "
                   "times, or as a list (COM3,COM4), one module on each port, all at once")
        ->type_name("COMn|auto")
        ->delimiter(',')
        ->transform(ComPortOrAutoArgument());
    std::string traceFile;
    app.add_option("--trace", traceFile,
                   "writes the port's traffic to FILE: 2-byte records of byte and direction "
                   "(1 received, 2 sent); one port, one module")
        ->type_name("FILE");
    int waitStartSeconds = 60;
    app.add_option("--wait-start", waitStartSeconds,
                   "without a console: the longest wait for the module's start-up output, 1 to "
                   "3600 seconds; none by then ends the run with exit status 4")
        ->type_name("SECONDS")
        ->check(WholeNumber(1, 3600))
        ->capture_default_str();
    bool repeat = false;
    app.add_flag("--repeat", repeat,
                 "module after module: after each run the port waits for the next module's "
                 "start-up output and programs it, until Ctrl+C or --count");
    int count = 0;
    CLI::Option* countOption =
        app.add_option("--count", count, "with --repeat: stops after N modules on all ports")
            ->type_name("N")
            ->check(WholeNumber(1, 1000000));
    std::string logFile;
    app.add_option("--log", logFile,
                   "appends a CSV line for each module to FILE (made with a header line when "
                   "new)")
        ->type_name("FILE");
    std::string stopEvent;
    app.add_option("--stop-event", stopEvent,
                   "for a line controller: when another program sets the named event, the "
                   "runs end as after Ctrl+C")
        ->type_name("NAME");
    bool listPorts = false;
    app.add_flag("--list-ports", listPorts,
                 "lists the COM ports this PC has, one a line, with their device's name, maker "
                 "and USB IDs where Windows knows them");

    CLI::App* firmware = app.add_subcommand("firmware", "loads new firmware into the module");
    std::string scriptFile;
    firmware->add_option("FILE", scriptFile, "the firmware script (.dcs)")->required();
    CLI::App* profibus = app.add_subcommand("profibus-id", "sets the module's Profibus-ID");
    int profibusId = 0;
    profibus->add_option("ID", profibusId, "the new Profibus-ID, 1 to 127")
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

    const bool jobGiven = firmware->parsed() || profibus->parsed() || readId->parsed();
    if (listPorts) {
        return jobGiven ? UsageError("--list-ports takes no job") : ListPorts();
    }
    if (!jobGiven) {
        return UsageError("no job given: firmware FILE, profibus-id ID or read-id");
    }
    if (ports.empty()) {
        return UsageError("--port is missing");
    }
    StationJob job;
    for (int port : ports) {
        if (port == kAnyPort && ports.size() > 1) {
            return UsageError("--port auto takes no other port");
        }
        for (int16_t earlier : job.ports) {
            if (earlier == port) {
                return UsageError("--port: COM" + std::to_string(port) + " is given twice");
            }
        }
        job.ports.push_back(static_cast<int16_t>(port));
    }
    if (countOption->count() > 0 && !repeat) {
        return UsageError("--count needs --repeat");
    }
    if (repeat && ports[0] == kAnyPort) {
        return UsageError("--repeat needs the modules' ports; auto finds one module only");
    }
    const bool station = job.ports.size() > 1 || repeat;
    if (station && !traceFile.empty()) {
        return UsageError("--trace is for one port and one module");
    }
    static ConsoleFace face;
    RunChoices* choices = &face.choices;
    choices->port = job.ports[0];
    if (choices->port == kAnyPort) {
        choices->watchCount = ListPortChoices(choices->watchPorts, kWatchPortLimit);
    }
    if (traceFile.size() >= static_cast<size_t>(kTraceNameRoom)) {
        return UsageError("--trace: the file name is too long");
    }
    snprintf(choices->traceFileName, kTraceNameRoom, "%s", traceFile.c_str());
    if (firmware->parsed()) {
        job.mode = kFirmwareMode;
        // Back to UTF-16 as it came: the script is loaded by its wide name.
        if (MultiByteToWideChar(CP_UTF8, 0, scriptFile.c_str(), -1, choices->scriptName,
                                kScriptNameRoom) == 0) {
            return UsageError("FILE: the name is too long");
        }
        job.scriptName = scriptFile;
    } else {
        job.mode = profibus->parsed() ? kProfibusIdMode : kReadIdMode;
        job.profibusId = static_cast<int16_t>(profibusId);
    }
    choices->mode = job.mode;
    choices->profibusId = job.profibusId;
    if (!traceFile.empty()) {
        const std::string problem = TraceFileProblem(traceFile);
        if (!problem.empty()) {
            fprintf(stderr, "korvan-cli: the trace file \"%s\" cannot be created: %s\n",
                    traceFile.c_str(), problem.c_str());
            return kUsageError;
        }
    }
    static ModuleLog log;
    if (!logFile.empty()) {
        const std::string problem = log.Open(logFile);
        if (!problem.empty()) {
            fprintf(stderr, "korvan-cli: the log \"%s\" cannot be opened: %s\n", logFile.c_str(),
                    problem.c_str());
            return kUsageError;
        }
        job.log = &log;
    }
    if (!stopEvent.empty()) {
        const std::string problem = InterruptOnEvent(stopEvent);
        if (!problem.empty()) {
            fprintf(stderr, "korvan-cli: the stop event \"%s\" cannot be made: %s\n",
                    stopEvent.c_str(), problem.c_str());
            return kUsageError;
        }
    }
    job.waitStartMs = waitStartSeconds * 1000;
    job.repeat = repeat;
    job.count = count;
    job.inputIsConsole = IsConsole(STD_INPUT_HANDLE);
    job.errorIsConsole = IsConsole(STD_ERROR_HANDLE);

    // The script is loaded once, here, and read by every run.
    if (job.mode == kFirmwareMode) {
        if (LoadScript(kCliScriptSlot, choices->scriptName) != 0) {
            return ScriptNotLoaded(&job);
        }
        job.scriptSlot = kCliScriptSlot;
        job.scriptSize = ScriptSize(kCliScriptSlot);
        job.scriptSha256 = Sha256Text(ScriptStore[kCliScriptSlot].data,
                                      static_cast<size_t>(ScriptStore[kCliScriptSlot].size));
        choices->loadedScriptSlot = kCliScriptSlot;
    }
    int status = 0;
    if (station) {
        CatchInterrupts(job.ports);
        status = RunStation(job);
    } else {
        face.waitStartMs = job.waitStartMs;
        face.inputIsConsole = job.inputIsConsole;
        face.errorIsConsole = job.errorIsConsole;
        // Standard error redirected (2>run.log) while the technician sits at
        // the console: the OFF/ON request still has to reach the screen.
        if (face.inputIsConsole && !face.errorIsConsole) {
            face.consoleCopy = fopen("CONOUT$", "w");
        }
        status = RunSingle(&job, &face);
        if (face.consoleCopy != nullptr) {
            fclose(face.consoleCopy);
        }
    }
    ReleaseScript(kCliScriptSlot);
    return status;
}
