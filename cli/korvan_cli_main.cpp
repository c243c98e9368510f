// korvan-cli.exe: the programming run of KORVAN_Setup.exe without a dialog,
// for production lines and scripts. The same procedure and the same bytes on
// the wire; the outcome in the exit status and as the dialog's result text.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "command_line.h"
#include "event_log.h"
#include "module_log.h"
#include "mqtt_publisher.h"
#include "port_list.h"
#include "port_listing.h"
#include "run_face.h"
#include "run_texts.h"
#include "script_store.h"
#include "service_commands.h"
#include "service_run.h"
#include "station.h"
#include "station_check.h"
#include "station_server.h"
#include "stop_signal.h"
#include "utf8_file_names.h"

namespace {

// The script's bytes stay in this slot of the store for every run.
const int16_t kCliScriptSlot = 2;

int ListPorts() {
    fputs(ListPortsNow().c_str(), stdout);
    return 0;
}

bool IsConsole(DWORD standardHandle) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(standardHandle), &mode) != 0;
}

// The PC's name, which names a station unless --station does.
std::string ThisPcsName() {
    WCHAR name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &length) ? Utf8Of(name) : "";
}

// The job the command line asks for, with the checks that need no file and
// no port. Empty when it can be run, else the problem.
std::string MakeJob(const CommandLine& line, StationJob* job) {
    if (!line.jobGiven) {
        return "no job given: firmware FILE, profibus-id ID or read-id";
    }
    if (line.ports.empty()) {
        return "--port is missing";
    }
    for (int port : line.ports) {
        if (port == kAnyPort && line.ports.size() > 1) {
            return "--port auto takes no other port";
        }
        for (int16_t earlier : job->ports) {
            if (earlier == port) {
                return "--port: COM" + std::to_string(port) + " is given twice";
            }
        }
        job->ports.push_back(static_cast<int16_t>(port));
    }
    if (line.countGiven && !line.repeat) {
        return "--count needs --repeat";
    }
    if (line.repeat && line.ports[0] == kAnyPort) {
        return "--repeat needs the modules' ports; auto finds one module only";
    }
    job->repeat = line.repeat;
    job->count = line.count;
    if (!job->Single() && !line.traceFile.empty()) {
        return "--trace is for one port and one module";
    }
    RunChoices* choices = &job->choices;
    choices->mode = line.mode;
    choices->port = job->ports[0];
    if (choices->port == kAnyPort) {
        choices->watchCount = ListPortChoices(choices->watchPorts, kWatchPortLimit);
    }
    if (line.traceFile.size() >= static_cast<size_t>(kTraceNameRoom)) {
        return "--trace: the file name is too long";
    }
    snprintf(choices->traceFileName, kTraceNameRoom, "%s", line.traceFile.c_str());
    if (line.mode == kFirmwareMode) {
        // Back to UTF-16 as it came: the script is loaded by its wide name.
        if (WidenUtf8Name(line.scriptFile.c_str(), choices->scriptName, kScriptNameRoom) == 0) {
            return "FILE: the name is too long";
        }
        job->scriptName = line.scriptFile;
    }
    choices->profibusId = static_cast<int16_t>(line.profibusId);
    job->waitStartMs = line.waitStartSeconds * 1000;
    job->stationName = line.stationName.empty() ? ThisPcsName() : line.stationName;
    job->order = line.order;
    job->operatorName = line.operatorName;
    job->alarmAfter = line.alarmAfter;
    job->inputIsConsole = IsConsole(STD_INPUT_HANDLE);
    job->errorIsConsole = IsConsole(STD_ERROR_HANDLE);
    return "";
}

// A stop interrupts the ports the runs may open: the job's, or every port a
// run on any port watches.
void GiveStopThePorts(const StationJob& job) {
    if (job.choices.port == kAnyPort) {
        SetStopPorts(job.choices.watchPorts, job.choices.watchCount);
    } else {
        SetStopPorts(job.ports.data(), static_cast<int>(job.ports.size()));
    }
}

bool WatchTheStopEvent(const std::string& eventName) {
    if (eventName.empty()) {
        return true;
    }
    const std::string problem = WatchStopEvent(eventName);
    if (!problem.empty()) {
        fprintf(stderr, "korvan-cli: the stop event \"%s\" cannot be made: %s\n", eventName.c_str(),
                problem.c_str());
    }
    return problem.empty();
}

// Tried before anything is opened: whether the trace file can be created. A
// file that the try made is removed again; the run makes it afresh.
bool CheckTraceFile(const std::string& name) {
    if (name.empty()) {
        return true;
    }
    HANDLE file = OpenUtf8NamedFile(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "korvan-cli: the trace file \"%s\" cannot be created: %s\n", name.c_str(),
                SystemMessage(GetLastError()).c_str());
        return false;
    }
    const bool made = GetLastError() != ERROR_ALREADY_EXISTS;
    CloseHandle(file);
    if (made) {
        DeleteUtf8NamedFile(name.c_str());
    }
    return true;
}

bool OpenTheLog(const std::string& name, ModuleLog* log, StationJob* job) {
    if (name.empty()) {
        return true;
    }
    const std::string problem = log->Open(name);
    if (!problem.empty()) {
        fprintf(stderr, "korvan-cli: the log \"%s\" cannot be opened: %s\n", name.c_str(),
                problem.c_str());
        return false;
    }
    job->log = log;
    return true;
}

// The firmware job's script, loaded once and read by every run. 0 when it
// is there (or the job needs none), else the exit status: the failure is
// told and logged for every port, as a run would.
int LoadTheScript(StationJob* job) {
    if (job->choices.mode != kFirmwareMode) {
        return 0;
    }
    if (LoadScript(kCliScriptSlot, job->choices.scriptName) == 0) {
        job->choices.loadedScriptSlot = kCliScriptSlot;
        job->scriptSize = ScriptSize(kCliScriptSlot);
        job->scriptSha256 = Sha256Text(ScriptStore[kCliScriptSlot].data,
                                       static_cast<size_t>(ScriptStore[kCliScriptSlot].size));
        return 0;
    }
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

// What --serve asks for, checked before anything is opened: the address,
// the secret and whether it may be served. Empty when it can be (or none is
// asked for), else the problem.
std::string MakeServeSettings(const CommandLine& line, ServerSettings* settings) {
    if (line.serve.empty()) {
        return !line.serveTokenFile.empty() ? "--serve-token-file needs --serve"
               : !line.serveHosts.empty()   ? "--serve-host needs --serve"
                                            : "";
    }
    std::string problem = ParseServeAddress(line.serve, &settings->address);
    for (const std::string& host : line.serveHosts) {
        if (problem.empty()) {
            problem = ServeHostProblem(host);
        }
    }
    settings->hostNames = line.serveHosts;
    if (problem.empty() && !line.serveTokenFile.empty()) {
        problem = ReadTokenFile(line.serveTokenFile, &settings->token);
    }
    if (problem.empty()) {
        problem = ServeAccessProblem(settings->address, !settings->token.empty());
    }
    settings->stop = RequestStop;
    settings->note = [](const std::string& text) {
        fprintf(stderr, "korvan-cli: %s\n", text.c_str());
    };
    return problem;
}

// What --mqtt asks for, checked before anything is opened. Empty when it
// can be (or none is asked for), else the problem. The prefix is settled
// once the station's state is there (its name).
std::string MakeMqttSettings(const CommandLine& line, MqttSettings* settings) {
    if (line.mqtt.empty()) {
        return !line.mqttTopic.empty() || !line.mqttCredentials.empty()
                   ? "--mqtt-topic and --mqtt-credentials need --mqtt"
                   : "";
    }
    std::string problem = ParseMqttAddress(line.mqtt, settings);
    if (problem.empty() && !line.mqttTopic.empty()) {
        problem = TakeTopicPrefix(line.mqttTopic, settings);
    }
    if (problem.empty() && !line.mqttCredentials.empty()) {
        problem = ReadCredentialsFile(line.mqttCredentials, settings);
    }
    return problem;
}

// The station's server, started before any COM port is opened: a port in
// use or an address that is not this PC's ends the program at once. Its
// addresses are the first lines on standard error (loopback first).
bool StartServing(std::unique_ptr<StationServer>* server) {
    const std::string problem = (*server)->Start();
    if (!problem.empty()) {
        fprintf(stderr, "korvan-cli: %s\n", problem.c_str());
        server->reset();
        return false;
    }
    for (const std::string& url : (*server)->Urls()) {
        fprintf(stderr, "korvan-cli: serving %s\n", url.c_str());
    }
    fflush(stderr);
    return true;
}

// Standard error redirected (2>run.log) while the technician sits at the
// console: the OFF/ON request still has to reach the screen.
void SeeTheConsole(StationJob* job) {
    if (job->inputIsConsole && !job->errorIsConsole) {
        job->consoleCopy = fopen("CONOUT$", "w");
    }
}

// The program's end. A port's thread that did not end after the stop may
// still read the script and hold its port: the process ends at once then,
// without releasing what they use.
int Finish(StationJob* job, const StationEnd& end) {
    fflush(stdout);
    fflush(stderr);
    if (!end.threadsEnded) {
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(end.status));
    }
    if (job->consoleCopy != nullptr) {
        fclose(job->consoleCopy);
    }
    ReleaseScript(kCliScriptSlot);
    return end.status;
}

// The station of the command line (or of its settings file), or its check.
int RunStationOf(const CommandLine& line) {
    if (line.listPorts) {
        return line.jobGiven ? UsageError("--list-ports takes no job") : ListPorts();
    }
    // A stop given from now on is this station's: the stop event is reset
    // before anything else takes time (the port list of --port auto).
    if (!line.check && !WatchTheStopEvent(line.stopEvent)) {
        return kUsageError;
    }
    static StationJob job;
    static ServerSettings serving;
    std::string problem = MakeJob(line, &job);
    if (problem.empty()) {
        problem = MakeServeSettings(line, &serving);
    }
    static MqttSettings mqtt;
    if (problem.empty()) {
        problem = MakeMqttSettings(line, &mqtt);
    }
    if (!problem.empty()) {
        return UsageError(problem);
    }
    if (line.check) {
        return CheckTraceFile(line.traceFile) ? CheckStation(line, job, kCliScriptSlot)
                                              : kUsageError;
    }
    GiveStopThePorts(job);
    static ModuleLog log;
    if (!CheckTraceFile(line.traceFile) || !OpenTheLog(line.logFile, &log, &job)) {
        return kUsageError;
    }
    const int loaded = LoadTheScript(&job);
    if (loaded != 0) {
        return loaded;
    }
    SeeTheConsole(&job);
    // The station's state outlives the program's end: a port's thread or a
    // client may read it until the process ends.
    static StationState state(job.ports, JobInfoOf(job));
    // The publisher, started before any COM port is opened: a broker away
    // at the start holds nothing up, its records wait.
    static std::unique_ptr<MqttPublisher> publisher;
    if (!line.mqtt.empty()) {
        if (mqtt.prefix.empty()) {
            mqtt.prefix = DefaultTopicPrefix(StationName(state));
        }
        publisher = std::make_unique<MqttPublisher>(state, mqtt);
        const std::string refused = publisher->Start();
        if (!refused.empty()) {
            fprintf(stderr, "korvan-cli: %s\n", refused.c_str());
            return kUsageError;
        }
        serving.mqtt = &publisher->Condition();
    }
    static std::unique_ptr<StationServer> server;
    if (!line.serve.empty()) {
        server = std::make_unique<StationServer>(state, serving);
        if (!StartServing(&server)) {
            return kUsageError;
        }
    }
    StationEnd end = RunStation(job, &state);
    if (publisher != nullptr) {
        publisher->Stop(); // the last records and the end, while the broker takes them
        const std::vector<ModuleRecord> lost = publisher->NotAccepted();
        fputs(NotAcceptedText(lost, publisher->GoneCount(), mqtt).c_str(), stdout);
        if ((!lost.empty() || publisher->GoneCount() > 0) && end.status == 0) {
            end.status = kExitRecordsNotPublished;
        }
    }
    if (server != nullptr) {
        server->Stop(); // the last events go out first
    }
    return Finish(&job, end);
}

// A service is installed only with settings that pass --check, as the
// service will run them (with --repeat): a station that could never run is
// said at once, not at the next start of Windows.
bool SettingsPassTheCheck(const CommandLine& line, wchar_t* program) {
    if (line.configFile.empty()) {
        return true; // the service command says what is missing
    }
    std::wstring file = WideOf(line.configFile);
    std::wstring repeat = L"--repeat";
    std::wstring check = L"--check";
    std::wstring config = L"--config";
    wchar_t* arguments[] = {program, &repeat[0], &check[0], &config[0], &file[0]};
    CommandLine checked;
    if (ReadCommandLine(5, arguments, &checked) >= 0 || RunStationOf(checked) != 0) {
        fprintf(stderr, "korvan-cli: service not installed: its settings do not pass --check\n");
        return false;
    }
    return true;
}

} // namespace

// The arguments come as UTF-16 (wmain), so that names beyond the system's
// code page arrive whole.
int wmain(int argc, wchar_t** wideArgv) {
    // From the first step on, a stop is caught: one that comes before the
    // station has opened a port ends the program with nothing sent.
    CatchConsoleStops();
    CommandLine line;
    const int read = ReadCommandLine(argc, wideArgv, &line);
    if (read >= 0) {
        // A service whose settings have become unusable still answers the
        // service manager: it tells the problem to the event log and stops
        // at once with the usage error's status.
        static int unusable = read;
        const auto tell = [](const CommandLine&) {
            fprintf(stderr, "korvan-cli: %s\n", LastUsageProblem().c_str());
            return unusable;
        };
        return ServiceNameOf(argc, wideArgv, &line.serviceName) ? RunAsService(line, tell) : read;
    }
    switch (line.service) {
    case kServiceInstall:
        return SettingsPassTheCheck(line, wideArgv[0]) ? RunServiceCommand(line) : kUsageError;
    case kServiceRemove:
    case kServiceStatus:
        return RunServiceCommand(line);
    case kServiceRun:
        return RunAsService(line, RunStationOf);
    default:
        return RunStationOf(line);
    }
}
