// The station in this process, where the driver stand-in can pull the
// tool's adapter out and plug it in again, and where the test plays Windows'
// part in the stops that cannot be sent to a program under Wine: the
// console window closed, the user's session ending. The tool runs on COM1
// (behind the stand-in), the simulated module on COM2.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "port_table.h"
#include "script_store.h"
#include "serial_port.h"
#include "simulator.h"
#include "station.h"
#include "log_writer.h"
#include "station_display.h"
#include "stop_signal.h"
#include "support/scoped_value.h"
#include "support/full_disk.h"
#include "support/text_checks.h"
#include "support/driver_double.h"
#include "support/peer_port.h"
#include "support/run_driver.h"

namespace {

class StationRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InstallDriverDouble("COM1");
        SimOptions options;
        SetDefaultSimOptions(&options);
        options_ = options;
        errorsPath_ = TempPath("station-errors.txt");
        outputPath_ = TempPath("station-output.txt");
        logPath_ = TempPath("station-log.csv");
        for (const std::string& path : {errorsPath_, outputPath_, logPath_}) {
            DeleteFileA(path.c_str());
        }
        job_.ports = {kToolPort};
        job_.choices.mode = kProfibusIdMode;
        job_.choices.profibusId = 9;
        job_.errors = fopen(errorsPath_.c_str(), "w");
        job_.output = fopen(outputPath_.c_str(), "w");
        ASSERT_EQ(log_.Open(logPath_), "");
        job_.log = &log_;
        const int16_t stopPorts[] = {kToolPort};
        SetStopPorts(stopPorts, 1);
    }
    void TearDown() override {
        if (station_.joinable()) {
            RequestStop();
            station_.join();
        }
        StopSimulator();
        RemoveDriverDouble();
        ReleaseScript(2);
        fclose(job_.errors);
        fclose(job_.output);
        for (const std::string& path : {errorsPath_, outputPath_, logPath_}) {
            DeleteFileA(path.c_str());
        }
    }
    void StartModule(int32_t pacingBaud = 0) {
        options_.pacingBaud = pacingBaud;
        ASSERT_EQ(StartSimulator(kModulePort, &options_), 0);
    }
    // The station on a state of the test's own, so that the test can wait
    // for what the ports do without the display; or, for a station that may
    // outlive the test's objects, on its own.
    void StartStation(bool ownState = false) {
        state_ = std::make_unique<StationState>(job_.ports, JobInfoOf(job_));
        StationState* state = ownState ? nullptr : state_.get();
        station_ = std::thread([this, state] { end_ = RunStation(job_, state); });
    }
    StationEnd Join() {
        station_.join();
        return end_;
    }
    std::string Errors() {
        return WithoutCarriageReturns(ReadWholeFile(errorsPath_));
    }
    // Waits until the station's error output holds text, times times.
    bool AwaitErrors(const std::string& text, DWORD timeoutMs, size_t times = 1) {
        return AwaitTrue([&] { return CountOf(Errors(), text) >= times; }, timeoutMs);
    }
    // Waits until the port's step is step.
    bool AwaitStep(const std::string& step, DWORD timeoutMs) {
        return AwaitTrue([&] { return state_->Port(0).step == step; }, timeoutMs);
    }
    // Waits until the station has taken modules modules.
    bool AwaitModules(int64_t modules, DWORD timeoutMs) {
        return AwaitTrue([&] { return state_->Totals().sequence >= modules; }, timeoutMs);
    }
    // The log's module lines.
    size_t LoggedModules() {
        return CountOf(ReadWholeFile(logPath_), "\r\n") - 1;
    }
    void LoadScript(const std::string& bytes) {
        const std::string path = WriteTempFile("station-run.dcs", bytes);
        WCHAR name[kScriptNameRoom];
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, name, kScriptNameRoom);
        ASSERT_EQ(::LoadScript(2, name), 0);
        job_.choices.mode = kFirmwareMode;
        job_.choices.loadedScriptSlot = 2;
        job_.scriptName = path;
        job_.scriptSize = static_cast<int64_t>(bytes.size());
        DeleteFileA(path.c_str());
    }

    SimOptions options_;
    StationJob job_;
    ModuleLog log_;
    std::string errorsPath_, outputPath_, logPath_;
    std::unique_ptr<StationState> state_;
    std::thread station_;
    StationEnd end_;
};

const char kRequest[] = "Please switch the Korvan module OFF and then ON";
const char kSuccess[] = "COM1: The programming of Profibus-ID was successful.";

} // namespace

// An adapter pulled out while its port waits for the next module: the port
// says so within a second, records nothing for the module switched on
// meanwhile, opens the port again when the adapter is back, and takes the
// next module.
TEST_F(StationRunTest, AnAdapterPulledBetweenModulesIsWaitedForAndTakenAgain) {
    job_.repeat = true;
    StartModule();
    StartStation();
    ASSERT_TRUE(AwaitErrors(kRequest, 10000));
    PowerOnModule();
    ASSERT_TRUE(AwaitErrors(kSuccess, 10000));
    ASSERT_TRUE(AwaitErrors("COM1: next module: switch it ON", 10000));
    Stopwatch clock;
    PullDevice(ERROR_BAD_COMMAND);
    ASSERT_TRUE(AwaitErrors("COM1: adapter gone, waiting for it\n", 5000)) << Errors();
    EXPECT_LT(clock.Ms(), 1000 + 2000);
    PowerOnModule(); // a module switched on while the adapter is away
    // The port is tried again, in vain.
    const long opens = driverDouble.opens;
    ASSERT_TRUE(AwaitTrue([&] { return driverDouble.opens > opens; }, 5000));
    EXPECT_EQ(LoggedModules(), 1u) << ReadWholeFile(logPath_);
    PullDevice(0);
    ASSERT_TRUE(AwaitErrors("COM1: adapter back\n", 5000)) << Errors();
    ASSERT_TRUE(AwaitErrors("COM1: next module: switch it ON", 10000, 2)) << Errors();
    PowerOnModule();
    ASSERT_TRUE(AwaitErrors(kSuccess, 10000, 2)) << Errors();
    RequestStop();
    const StationEnd end = Join();
    EXPECT_EQ(end.status, 0) << Errors();
    EXPECT_TRUE(end.threadsEnded);
    EXPECT_EQ(LoggedModules(), 2u) << ReadWholeFile(logPath_);
}

// A device that fails in the middle of a download: that module's line,
// then the wait for the adapter; a stop during that wait ends the station
// at once.
TEST_F(StationRunTest, AnAdapterPulledMidRunIsLoggedThenWaitedForUntilTheStop) {
    job_.repeat = true;
    LoadScript(std::string(2000, 'A'));
    StartModule();
    driverDouble.goneAfterWritten = 600;
    StartStation();
    ASSERT_TRUE(AwaitErrors(kRequest, 10000));
    PowerOnModule();
    ASSERT_TRUE(AwaitErrors("COM1: Korvan could not be programmed (", 15000)) << Errors();
    ASSERT_TRUE(AwaitErrors("COM1: adapter gone, waiting for it\n", 5000)) << Errors();
    EXPECT_EQ(LoggedModules(), 1u);
    const long opens = driverDouble.opens;
    ASSERT_TRUE(AwaitTrue([&] { return driverDouble.opens > opens; }, 5000)); // tried, in vain
    Stopwatch clock;
    RequestStop();
    const StationEnd end = Join();
    EXPECT_LT(clock.Ms(), 500 + 1500);
    EXPECT_EQ(end.status, static_cast<int>(kNotProgrammed)) << Errors();
    EXPECT_EQ(LoggedModules(), 1u);
}

namespace {

// What Windows sends the hidden window of a program whose user's session
// ends, from another thread, as Windows does.
void EndTheSession(LPARAM why) {
    HWND window = FindWindowA("korvan-cli session", nullptr);
    ASSERT_NE(window, nullptr);
    DWORD_PTR answer = 0;
    ASSERT_NE(SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, why, SMTO_BLOCK, 2000, &answer),
              0);
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE)); // the session may end
    ASSERT_NE(SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, why, SMTO_BLOCK, 10000, &answer), 0);
}

// The ways Windows ends a program after a last word: the console window
// closed (the control handler: the log-off and shut-down events of the
// handler never reach a program that uses windows), the user logging off or
// Windows shutting down (the hidden window).
struct Ending {
    const char* name;
    void (*end)();
};

const Ending kEndings[] = {
    {"WindowClosed", [] { OnConsoleControl(CTRL_CLOSE_EVENT); }},
    {"LoggingOff", [] { EndTheSession(ENDSESSION_LOGOFF); }},
    {"ShuttingDown", [] { EndTheSession(0); }},
};

class StationEndingTest : public StationRunTest, public ::testing::WithParamInterface<Ending> {};

} // namespace

// Windows ends the process once the handler returns: by then the module
// under way has its line in the log, "The run was interrupted".
TEST_P(StationEndingTest, TheModuleUnderWayIsLoggedBeforeTheProcessEnds) {
    LoadScript(std::string(4000, 'K'));
    StartModule(9600);
    StartStation();
    ASSERT_TRUE(AwaitErrors(kRequest, 10000));
    PowerOnModule();
    ASSERT_TRUE(AwaitErrors(" 10 % (", 20000)) << Errors();
    Stopwatch clock;
    GetParam().end();
    const double handledMs = clock.Ms();
    // What Windows would find when it ends the process.
    const std::string log = ReadWholeFile(logPath_);
    EXPECT_LT(handledMs, static_cast<double>(kCloseGraceMs));
    EXPECT_NE(log.find(",9,The run was interrupted,cut short by the operator,"), std::string::npos)
        << log;
    const StationEnd end = Join();
    EXPECT_EQ(end.status, 9);
}

INSTANTIATE_TEST_SUITE_P(Ends, StationEndingTest, ::testing::ValuesIn(kEndings),
                         [](const ::testing::TestParamInfo<Ending>& info) {
                             return std::string(info.param.name);
                         });

// A port whose thread does not end after the stop (a driver that holds its
// opening for seconds) is left to itself: the station ends within its stop
// limit and says so, and what the thread uses stays valid until it ends.
TEST_F(StationRunTest, APortThreadThatDoesNotEndInTimeIsLeftWithWhatItUses) {
    const ScopedValue<DWORD> stopLimit(stationStopLimitMs, 300);
    driverDouble.openDelayMs = 1500;
    job_.repeat = true;
    StartStation();
    ASSERT_TRUE(AwaitTrue([] { return driverDouble.opens > 0; }, 5000)); // in the opening
    Stopwatch clock;
    RequestStop();
    const StationEnd end = Join();
    EXPECT_GE(clock.Ms(), 300);
    EXPECT_LT(clock.Ms(), 300 + 2000);
    EXPECT_FALSE(end.threadsEnded);
    EXPECT_EQ(end.status, 0);
    EXPECT_TRUE(AwaitErrors("korvan-cli: a port did not end its run after the stop", 1000));
    // The thread ends its run on the station it was given, and closes its
    // port.
    EXPECT_TRUE(AwaitTrue([this] { return state_->Port(0).status == kPortEnded; }, 5000));
    EXPECT_EQ(PortTable[kToolPort].portHandle, nullptr);
}

namespace {

// A console that holds every write back while held is set (a selection in
// it, or standard error on a pipe that nobody reads): a write waits until
// it is let go.
HANDLE consoleHeld = nullptr;
std::atomic<int> heldWrites{0};

BOOL WINAPI HeldWrite(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written,
                      LPOVERLAPPED overlapped) {
    ++heldWrites;
    WaitForSingleObject(consoleHeld, 10000);
    return WriteFile(file, bytes, count, written, overlapped);
}

} // namespace

// Four modules while the console holds every write back: each ends in its
// usual time, and once the writes go through the display shows them all,
// in order, and the summary.
TEST_F(StationRunTest, AConsoleThatHoldsItsWritesBackDelaysNoModule) {
    consoleHeld = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    consoleCalls.write = HeldWrite;
    job_.repeat = true;
    job_.count = 4;
    StartModule();
    StartStation();
    ASSERT_TRUE(AwaitStep("switch the module OFF and ON", 10000));
    Stopwatch clock;
    for (int k = 0; k < 4; ++k) {
        PowerOnModule();
        ASSERT_TRUE(AwaitModules(k + 1, 5000)) << k;
        if (k < 3) {
            ASSERT_TRUE(AwaitStep("next module: switch it ON", 5000)) << k;
        }
    }
    const double modulesMs = clock.Ms();
    EXPECT_GT(heldWrites, 0);
    EXPECT_TRUE(Errors().empty()) << Errors();
    for (const ModuleRecord& record : state_->RecordsAfter(0)) {
        EXPECT_EQ(record.report.outcome, kRunSucceeded);
        EXPECT_LT(record.line.seconds, 3.0);
    }
    SetEvent(consoleHeld);
    const StationEnd end = Join();
    consoleCalls = kPlatformConsoleCalls;
    CloseHandle(consoleHeld);
    EXPECT_LT(modulesMs, 10000);
    EXPECT_EQ(end.status, 0);
    EXPECT_EQ(CountOf(Errors(), std::string(kSuccess) + " ("), 4u) << Errors();
    EXPECT_TRUE(
        Contains(WithoutCarriageReturns(ReadWholeFile(outputPath_)), "COM1         4      0"));
}

// A log that cannot be written for a while does not stop the station: the
// rows wait, in order, are written once it can be written again, and what
// never reached it at the end goes to standard output, with exit status 10.
TEST_F(StationRunTest, RowsWaitForALogThatCannotBeWrittenAndNoneIsLost) {
    logWrite = FullDiskWrite;
    job_.repeat = true;
    StartModule();
    StartStation();
    ASSERT_TRUE(AwaitStep("switch the module OFF and ON", 10000));
    const char* const kPhases[] = {"written", "full", "written again", "full at the end"};
    for (int k = 0; k < 4; ++k) {
        diskFull = k % 2 == 1;
        PowerOnModule();
        ASSERT_TRUE(AwaitModules(k + 1, 5000)) << kPhases[k];
        ASSERT_TRUE(AwaitStep("next module: switch it ON", 5000)) << kPhases[k];
        if (k == 1) {
            ASSERT_TRUE(AwaitErrors("korvan-cli: log not written: ", 5000)) << Errors();
            EXPECT_TRUE(Contains(Errors(), ", 1 row waiting\n")) << Errors();
            diskFull = false; // the rows wait for the next try
            ASSERT_TRUE(
                AwaitTrue([this] { return LoggedModules() == 2; }, LogWriter::kRetryMs + 2000));
            ASSERT_TRUE(AwaitErrors("korvan-cli: the log is written again", 2000));
        }
    }
    RequestStop();
    const StationEnd end = Join();
    logWrite = WriteFile;
    diskFull = false;
    EXPECT_EQ(end.status, kExitLogFailed) << Errors();
    const std::string log = ReadWholeFile(logPath_);
    ASSERT_EQ(LoggedModules(), 3u) << log;
    const std::string output = ReadWholeFile(outputPath_);
    EXPECT_EQ(output.rfind(kModuleLogHeader, 0), 0u) << output;
    EXPECT_EQ(CountOf(output, ",COM1,profibus-id,"), 1u) << output;
    EXPECT_TRUE(AwaitErrors("1 row follows on standard output", 1000)) << Errors();
    // The rows in the order of their modules.
    std::vector<std::string> times;
    for (size_t at = log.find("\r\n"); at + 2 < log.size(); at = log.find("\r\n", at + 2)) {
        times.push_back(log.substr(at + 2, 20));
    }
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end())) << log;
}

namespace {

// Ctrl+C at the request: Windows ends the console's read with no byte.
HANDLE ctrlC = nullptr;

BOOL WINAPI ReadEndedByCtrlC(HANDLE, LPVOID, DWORD, LPDWORD got, LPOVERLAPPED) {
    WaitForSingleObject(ctrlC, 10000);
    *got = 0;
    return TRUE;
}

} // namespace

// Ctrl+C at the "press Enter" request is a stop, not an Enter: the module
// switched on meanwhile gets nothing.
TEST_F(StationRunTest, CtrlCAtTheRequestIsNoEnter) {
    ctrlC = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    consoleCalls.read = ReadEndedByCtrlC;
    job_.inputIsConsole = true;
    StartModule();
    StartStation();
    ASSERT_TRUE(AwaitErrors(kRequest, 10000));
    SetEvent(ctrlC);
    PowerOnModule();
    // Long enough for the banner and the detection of a module taken as on.
    Sleep(1000);
    EXPECT_EQ(state_->Port(0).status, kPortWaiting);
    EXPECT_FALSE(Contains(Errors(), "Wait for detection of Korvan")) << Errors();
    RequestStop(); // what the handler makes of the Ctrl+C
    const StationEnd end = Join();
    consoleCalls = kPlatformConsoleCalls;
    CloseHandle(ctrlC);
    EXPECT_EQ(end.status, kExitInterrupted) << Errors();
    SimReport report;
    ReadSimReport(&report);
    EXPECT_EQ(report.configReadCount + report.ignoredByteCount, 0) << Errors();
}

// The exit status of a station's modules.
TEST(StationExitStatus, FirstFailingPortOrFirstFailingModuleInTime) {
    // One module per port: the first port in command-line order that failed.
    EXPECT_EQ(StationExitStatus({{0, 0, 500}, {1, 6, 900}, {2, 4, 100}}, false), 6);
    EXPECT_EQ(StationExitStatus({{0, 0, 500}, {1, 0, 900}}, false), 0);
    // --repeat: the first failure in time, the port's place breaking a tie.
    EXPECT_EQ(StationExitStatus({{0, 0, 100}, {1, 6, 900}, {2, 4, 400}, {0, 9, 950}}, true), 4);
    EXPECT_EQ(StationExitStatus({{2, 5, 400}, {1, 8, 400}}, true), 8);
    EXPECT_EQ(StationExitStatus({{0, 0, 100}, {0, 0, 200}}, true), 0);
    EXPECT_EQ(StationExitStatus({}, true), 0);
}
