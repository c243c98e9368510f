// korvan-cli.exe started as a process on COM1, with the simulated module on
// COM2 of the cable. Its standard input is a pipe, not a console: after the
// OFF/ON request it waits for the module's first byte. Its output is text:
// lines end in CR LF, which the tests read as LF.
#include <algorithm>
#include <cstring>

#include "run_texts.h"
#include "station_display.h"
#include "station_port.h"
#include "support/job_fixture.h"
#include "support/text_checks.h"
#include "support/console_process.h"
#include "support/driver_double.h"

namespace {

const char kRequest[] = "Please switch the Korvan module OFF and then ON";

struct CliRun {
    int exitCode = -1;
    std::string output;
    std::string errors;
};

class CliTest : public JobTest {
  protected:
    // Runs korvan-cli.exe with the arguments; when switchModule is true, the
    // module is switched on switchAfterMs after the tool asked for it.
    CliRun Run(const std::string& arguments, bool switchModule = true, int switchAfterMs = 0) {
        ConsoleProcess cli;
        CliRun run;
        if (!cli.Start("korvan-cli.exe", arguments, true)) {
            ADD_FAILURE() << "korvan-cli.exe did not start";
            return run;
        }
        cli.CloseInput();
        if (switchModule && cli.AwaitErrorText(kRequest, 20000)) {
            Sleep(switchAfterMs);
            PowerOnModule();
        }
        run.exitCode = cli.Wait(60000);
        run.output = WithoutCarriageReturns(cli.Output());
        run.errors = WithoutCarriageReturns(cli.Errors());
        return run;
    }
};

std::string LastLine(const std::string& text) {
    size_t end = text.size();
    if (end > 0 && text[end - 1] == '\n') {
        --end;
    }
    size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start + 1));
}

} // namespace

TEST_F(CliTest, LoadsFirmwareWithTheDialogsBytesOnTheWire) {
    StartModule();
    const std::string script = Script("abc.dcs", "abc");
    const std::string trace = TempPath("cli.trc");
    files_.push_back(trace);
    CliRun run = Run("--port COM1 --trace \"" + trace + "\" firmware \"" + script + "\"");
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.output, " The programming of Firmware was successful. \n");
    EXPECT_TRUE(Contains(run.errors, std::string(kRequest) + "\n")) << run.errors;
    EXPECT_TRUE(Contains(run.errors, "Wait for detection of Korvan\n")) << run.errors;
    EXPECT_TRUE(Contains(run.errors, "100 % (3 of 3 bytes)\n")) << run.errors;
    const std::string sent = "\x14\x10"
                             "616263\n0126";
    EXPECT_EQ(ModuleReceived(), sent);
    // The tool's own trace holds what it sent, with its direction tag.
    EXPECT_EQ(TracedBytes(trace, 2), sent);
    ExpectCleanedUp(script);
}

TEST_F(CliTest, SetsTheProfibusIdOnceTheModuleHasStarted) {
    StartModule();
    Stopwatch clock;
    CliRun run = Run("--port 1 profibus-id 42", true, 1500);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_GE(clock.Ms(), 1500); // it waited for the module
    EXPECT_EQ(run.output, " The programming of Profibus-ID was successful. \n");
    EXPECT_EQ(Report().stationAddress, 42);
}

TEST_F(CliTest, RefusesBadArgumentsWithOneLineBeforeAnythingIsOpened) {
    StartModule();
    for (const char* arguments :
         {"--port COM1 --bogus profibus-id 3", "--port COM1 firmware", "--port COM1 profibus-id 0",
          "--port COM1 profibus-id 128", "--port COM0 profibus-id 3", "--port COM257 profibus-id 3",
          "--port COM1 profibus-id three", "--port COM1 --wait-start x profibus-id 3",
          "profibus-id 3", "--port COM1"}) {
        CliRun run = Run(arguments, false);
        EXPECT_EQ(run.exitCode, 1) << arguments;
        EXPECT_EQ(run.output, "") << arguments;
        EXPECT_EQ(run.errors.rfind("korvan-cli: ", 0), 0u) << arguments << ": " << run.errors;
        EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
    }
    EXPECT_EQ(ModuleReceived(), "");
}

TEST_F(CliTest, TellsItsVersionAndThePortsOfThePc) {
    CliRun version = Run("--version", false);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output, "korvan-cli 1.01\n");
    CliRun ports = Run("--list-ports", false);
    EXPECT_EQ(ports.exitCode, 0);
    EXPECT_EQ(ports.output.rfind("COM1\nCOM2\n", 0), 0u) << ports.output;
}

// A script in a folder whose name no single ANSI code page carries: the name
// reaches the program as UTF-16 and is passed on whole.
TEST_F(CliTest, LoadsAScriptFromAFolderNamedBeyondTheCodePage) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder =
        std::wstring(temp) + L"Zo\u00EB-\u0141ukasz " + std::to_wstring(GetCurrentProcessId());
    const std::wstring script = folder + L"\\Korvan \u00EB\u0141.dcs";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
    HANDLE file = CreateFileW(script.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, "abc", 3, &written, nullptr);
    CloseHandle(file);
    char utf8[4 * MAX_PATH];
    WideCharToMultiByte(CP_UTF8, 0, script.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
    StartModule();
    CliRun run = Run("--port COM1 firmware \"" + std::string(utf8) + "\"");
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(ModuleReceived(), "\x14\x10"
                                "616263\n0126");
    EXPECT_TRUE(DeleteFileW(script.c_str())); // and released
    RemoveDirectoryW(folder.c_str());
}

TEST_F(CliTest, ATraceFileThatCannotBeMadeIsRefusedBeforeThePortIsOpened) {
    StartModule();
    const std::string trace = TempPath("no-such-folder\\run.trc");
    CliRun run = Run("--port COM1 --trace \"" + trace + "\" profibus-id 3", false);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.errors.rfind("korvan-cli: ", 0), 0u) << run.errors;
    EXPECT_TRUE(Contains(run.errors, trace)) << run.errors;
    EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
    EXPECT_EQ(ModuleReceived(), "");
}

TEST_F(CliTest, WaitStartIsTheLongestWaitForTheModulesStartUp) {
    StartModule(); // never switched on
    Stopwatch clock;
    CliRun run = Run("--port COM1 --wait-start 1 profibus-id 3", false);
    const double ms = clock.Ms();
    EXPECT_EQ(run.exitCode, 4) << run.errors;
    EXPECT_TRUE(Contains(run.errors, "Connected instrument is no Korvan module\n")) << run.errors;
    EXPECT_GE(ms, 1000);
    EXPECT_LT(ms, 6000); // not the detection's further 10 s
    EXPECT_EQ(ModuleReceived(), "");
}

// The system's reasons, played by the driver stand-in in this process: the
// console face's run on COM1 fails to open it.
TEST(CliOpenFailure, TheSystemsReasonFollowsTheText) {
    const struct {
        DWORD error;
        std::string reason;
    } kReasons[] = {
        {ERROR_SHARING_VIOLATION, "COM1 is in use by another program"},
        {ERROR_ACCESS_DENIED, "Access to COM1 is denied: another program may be using it"},
        {ERROR_FILE_NOT_FOUND, "There is no COM1 on this PC"},
        {ERROR_GEN_FAILURE, "COM1: "},
    };
    InstallDriverDouble("COM1");
    FILE* steps = fopen("NUL", "w");
    StationJob job;
    job.ports = {1};
    job.choices.mode = kProfibusIdMode;
    job.choices.profibusId = 3;
    job.output = steps;
    job.errors = steps;
    for (const auto& reason : kReasons) {
        driverDouble.openError = reason.error;
        OnePortStation station(job);
        const RunFace face = station.Face();
        EXPECT_EQ(RunProgramming(&face), kPortNotOpened);
        EXPECT_EQ(PortOpenError(1), reason.error);
        const std::string report = FailureReport(station.Report());
        const std::string head = "Error on opening the COM-Port\n" + reason.reason;
        EXPECT_EQ(report.substr(0, head.size()), head) << report;
        EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 2) << report;
    }
    fclose(steps);
    // The system's own text for the others, with the code.
    RunReport notOpened{};
    notOpened.outcome = kPortNotOpened;
    notOpened.port = 1;
    EXPECT_TRUE(Contains(FailureReport(notOpened), " (error 31)\n"));
    // A port that opens has no error left.
    driverDouble.openError = 0;
    PortConfig config = ModuleLineConfig(1, nullptr);
    EXPECT_EQ(OpenPort(&config), 0);
    EXPECT_EQ(PortOpenError(1), 0u);
    ClosePort(1);
    RemoveDriverDouble();
}

namespace {

struct FailureCase {
    const char* name;
    const char* arguments;
    void (*fault)(SimOptions* options);
    int exitCode;
    const char* text;
    // The line that follows the text: its detail; nullptr for the system's
    // reason of an opening.
    const char* detail;
};

void NoFault(SimOptions*) {}

const FailureCase kFailures[] = {
    {"NoScript", "--port COM1 firmware no-such-file.dcs", NoFault, 2,
     "The Script file could not be loaded", "the file cannot be opened or read"},
    {"NoDevice", "--port COM5 profibus-id 3", NoFault, 3, "Error on opening the COM-Port", nullptr},
    {"NoModule", "--port COM1 profibus-id 3",
     [](SimOptions* o) { o->startupFault = kStartupEndless; }, 4,
     "Connected instrument is no Korvan module",
     "no banner in the first 1000 bytes of start-up output"},
    {"NoAnswer", "--port COM1 firmware SCRIPT", [](SimOptions* o) { o->answer14 = kAnswerNone; }, 5,
     "Korvan does not answer", "no answer \"OK\" to 0x14 within 2000 ms"},
    {"NotProgrammed", "--port COM1 firmware SCRIPT",
     [](SimOptions* o) { o->ackFault = kAckMissing; }, 6, "Korvan could not be programmed",
     "no acknowledgement after script byte 95 within 700 ms"},
    {"ConfigNotRead", "--port COM1 profibus-id 3", [](SimOptions* o) { o->configSilent = 1; }, 7,
     "Configuration of Korvan module cannot be read", "no record within 2000 ms of the request"},
    {"ConfigNotAccepted", "--port COM1 profibus-id 3", [](SimOptions* o) { o->configLength = 62; },
     8, "Error in received configuration of Korvan module", "record of 62 characters"},
};

void PrintTo(const FailureCase& failure, std::ostream* out) {
    *out << failure.name;
}

class CliFailureTest : public CliTest, public ::testing::WithParamInterface<FailureCase> {};

} // namespace

TEST_P(CliFailureTest, EndsWithItsExitStatusAndTheDialogsText) {
    const FailureCase& failure = GetParam();
    failure.fault(&options_);
    StartModule();
    std::string arguments = failure.arguments;
    const size_t script = arguments.find("SCRIPT");
    if (script != std::string::npos) {
        arguments.replace(script, 6, "\"" + Script("fault.dcs", std::string(200, 'x')) + "\"");
    }
    CliRun run = Run(arguments, failure.exitCode > 3);
    EXPECT_EQ(run.exitCode, failure.exitCode) << run.errors;
    EXPECT_EQ(run.output, "");
    const std::string last = LastLine(run.errors);
    if (failure.detail != nullptr) {
        // The text, then where the step stopped.
        EXPECT_EQ(last, failure.detail) << run.errors;
        EXPECT_TRUE(Contains(run.errors, std::string(failure.text) + "\n" + last + "\n"))
            << run.errors;
        return;
    }
    // Which reason depends on the platform (Wine opens a COM number without
    // a device, then fails to set it up); the stand-in's test below has them all.
    EXPECT_TRUE(Contains(last, "COM5")) << run.errors;
    EXPECT_TRUE(Contains(run.errors, std::string(failure.text) + "\n" + last + "\n")) << run.errors;
}

INSTANTIATE_TEST_SUITE_P(Outcomes, CliFailureTest, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<FailureCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(ConsoleProgress, ShowsPercentBytesRateAndTimeLeft) {
    EXPECT_EQ(ProgressLine(1, 16384, 0), "  0 %         1 of 16384 bytes");
    EXPECT_EQ(ProgressLine(4801, 16384, 10.0),
              " 29 %      4801 of 16384 bytes      480 bytes/s  0:24 left");
    EXPECT_EQ(ProgressLine(16384, 16384, 34.13),
              "100 %     16384 of 16384 bytes      480 bytes/s  0:00 left");
}

// The station's lines fit a console of 80 columns on a whole shift: the
// longest outcome, COM256, 9,999 modules with 999 failed, 24 hours; a
// duration over a minute reads h:mm:ss. A download's live line tells its
// step, share and rate.
TEST(StationLines, FitAnEightyColumnConsoleOnAWholeShift) {
    const std::string heading = SummaryLine(0, 0, 0, "", 0);
    const std::string shift =
        SummaryLine(256, 9999, 999, "Error in received configuration of Korvan module", 86400);
    EXPECT_EQ(heading.rfind("port   modules failed outcome", 0), 0u) << heading;
    EXPECT_EQ(heading.size(), 79u);
    EXPECT_EQ(shift, "COM256    9999    999 Error in received configuration of Korvan module "
                     "24:00:00");
    const struct {
        double seconds;
        const char* text;
    } kDurations[] = {{0, "0.0 s"},       {59.9, "59.9 s"},      {60, "0:01:00"},
                      {27000, "7:30:00"}, {86399.6, "24:00:00"}, {3599.4, "0:59:59"}};
    for (const auto& duration : kDurations) {
        EXPECT_EQ(DurationText(duration.seconds), duration.text) << duration.seconds;
        EXPECT_EQ(
            SummaryLine(3, 750, 12, "The programming of Firmware was successful.", duration.seconds)
                .size(),
            79u);
    }
    PortView view;
    view.port = 12;
    view.step = "Update firmware";
    view.sent = 6144;
    view.size = 16384;
    view.rate = ByteRate(4801, 10.0);
    EXPECT_EQ(LiveLine(view),
              "COM12    Update firmware                                37 %     480 "
              "bytes/s");
    EXPECT_LE(LiveLine(view).size(), 79u);
    EXPECT_EQ(ByteRate(1, 5.0), 0); // the first byte marks the start
}
