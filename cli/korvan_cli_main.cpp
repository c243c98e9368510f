// korvan-cli.exe: the programming run of KORVAN_Setup.exe without a dialog,
// for production lines and scripts. The same procedure and the same bytes on
// the wire; the outcome in the exit status and as the dialog's result text.
#include <windows.h>

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "console_face.h"
#include "korvan_version.h"
#include "port_list.h"
#include "console_options.h"
#include "any_port_option.h"
#include "port_listing.h"
#include "run_face.h"

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
    "\n"
    "The tool asks for the module to be switched OFF and ON. On a console it goes on\n"
    "when Enter is pressed; with standard input from a file or pipe (< NUL) it goes on\n"
    "at once and waits up to --wait-start seconds for the module's start-up output:\n"
    "when none has come by then, the run ends there with exit status 4.\n";

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
                 "its Profibus-ID.",
                 "korvan-cli"};
    app.set_version_flag("--version", std::string("korvan-cli ") + KORVAN_VERSION_TEXT);
    app.footer(kExitStatuses);
    app.require_subcommand(0, 1);
    app.fallthrough();

    int port = 0;
    app.add_option("--port", port,
                   "the module's COM port: COMn, n from 1 to 256; or auto: listens on every "
                   "port and takes the one the module announces itself on")
        ->type_name("COMn|auto")
        ->transform(ComPortOrAutoArgument());
    std::string traceFile;
    app.add_option("--trace", traceFile,
                   "writes the port's traffic to FILE: 2-byte records of byte and direction "
                   "(1 received, 2 sent)")
        ->type_name("FILE");
    int waitStartSeconds = 60;
    app.add_option("--wait-start", waitStartSeconds,
                   "without a console: the longest wait for the module's start-up output, 1 to "
                   "3600 seconds; none by then ends the run with exit status 4")
        ->type_name("SECONDS")
        ->check(WholeNumber(1, 3600))
        ->capture_default_str();
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

    try {
        app.parse(argc, argv.data());
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return UsageError(UsageProblem(e));
    }

    if (listPorts) {
        return firmware->parsed() || profibus->parsed() ? UsageError("--list-ports takes no job")
                                                        : ListPorts();
    }
    if (!firmware->parsed() && !profibus->parsed()) {
        return UsageError("no job given: firmware FILE or profibus-id ID");
    }
    if (port == 0) {
        return UsageError("--port is missing");
    }
    static ConsoleFace face;
    RunChoices* choices = &face.choices;
    choices->port = static_cast<int16_t>(port);
    if (port == kAnyPort) {
        choices->watchCount = ListPortChoices(choices->watchPorts, kWatchPortLimit);
    }
    if (traceFile.size() >= static_cast<size_t>(kTraceNameRoom)) {
        return UsageError("--trace: the file name is too long");
    }
    snprintf(choices->traceFileName, kTraceNameRoom, "%s", traceFile.c_str());
    if (firmware->parsed()) {
        choices->mode = kFirmwareMode;
        // Back to UTF-16 as it came: the script is loaded by its wide name.
        if (MultiByteToWideChar(CP_UTF8, 0, scriptFile.c_str(), -1, choices->scriptName,
                                kScriptNameRoom) == 0) {
            return UsageError("FILE: the name is too long");
        }
    } else {
        choices->mode = kProfibusIdMode;
        choices->profibusId = static_cast<int16_t>(profibusId);
    }
    if (!traceFile.empty()) {
        const std::string problem = TraceFileProblem(traceFile);
        if (!problem.empty()) {
            fprintf(stderr, "korvan-cli: the trace file \"%s\" cannot be created: %s\n",
                    traceFile.c_str(), problem.c_str());
            return kUsageError;
        }
    }
    face.waitStartMs = waitStartSeconds * 1000;
    face.inputIsConsole = IsConsole(STD_INPUT_HANDLE);
    face.errorIsConsole = IsConsole(STD_ERROR_HANDLE);
    // Standard error redirected (2>run.log) while the technician sits at the
    // console: the OFF/ON request still has to reach the screen.
    if (face.inputIsConsole && !face.errorIsConsole) {
        face.consoleCopy = fopen("CONOUT$", "w");
    }

    const RunFace runFace = MakeConsoleFace(&face);
    const RunOutcome outcome = RunProgramming(&runFace);
    if (outcome == kRunSucceeded) {
        printf("%s\n", face.result.c_str());
    } else {
        fputs(FailureReport(outcome, choices->port).c_str(), stderr);
    }
    if (face.consoleCopy != nullptr) {
        fclose(face.consoleCopy);
    }
    return outcome;
}
