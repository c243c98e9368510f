// korvan-cli.exe started as a process on COM1, with the simulated module on
// COM2 of the cable. Its standard input is a pipe, not a console: after the
// OFF/ON request it waits for the module's first byte. Its output is text:
// lines end in CR LF, which the tests read as LF.
#include <algorithm>
#include <cstring>

#include "console_face.h"
#include "job_fixture.h"
#include "support/console_process.h"

namespace {

const char kRequest[] = "Please switch the Korvan module OFF and then ON";

std::string WithoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

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

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
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

namespace {

struct FailureCase {
    const char* name;
    const char* arguments;
    void (*fault)(SimOptions* options);
    int exitCode;
    const char* text;
};

void NoFault(SimOptions*) {}

const FailureCase kFailures[] = {
    {"NoScript", "--port COM1 firmware no-such-file.dcs", NoFault, 2,
     "The Script file could not be loaded"},
    {"NoDevice", "--port COM5 profibus-id 3", NoFault, 3, "Error on opening the COM-Port"},
    {"NoModule", "--port COM1 profibus-id 3",
     [](SimOptions* o) { o->startupFault = kStartupEndless; }, 4,
     "Connected instrument is no Korvan module"},
    {"NoAnswer", "--port COM1 firmware SCRIPT", [](SimOptions* o) { o->answer14 = kAnswerNone; }, 5,
     "Korvan does not answer"},
    {"NotProgrammed", "--port COM1 firmware SCRIPT",
     [](SimOptions* o) { o->ackFault = kAckMissing; }, 6, "Korvan could not be programmed"},
    {"ConfigNotRead", "--port COM1 profibus-id 3", [](SimOptions* o) { o->configSilent = 1; }, 7,
     "Configuration of Korvan module cannot be read"},
    {"ConfigNotAccepted", "--port COM1 profibus-id 3", [](SimOptions* o) { o->configLength = 62; },
     8, "Error in received configuration of Korvan module"},
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
    EXPECT_EQ(LastLine(run.errors), failure.text) << run.errors;
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
