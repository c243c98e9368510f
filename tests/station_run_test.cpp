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
#include "stop_signal.h"
#include "support/driver_double.h"
#include "support/peer_port.h"
#include "support/run_driver.h"

namespace {

size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

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
    void StartStation() {
        station_ = std::thread([this] { end_ = RunStation(job_); });
    }
    StationEnd Join() {
        station_.join();
        return end_;
    }
    // The lines end in CR LF, which the tests read as LF.
    std::string Errors() {
        std::string text = ReadWholeFile(errorsPath_);
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }
    // Waits until the station's error output holds text, times times.
    bool AwaitErrors(const std::string& text, int timeoutMs, size_t times = 1) {
        Stopwatch clock;
        while (clock.Ms() < timeoutMs) {
            if (CountOf(Errors(), text) >= times) {
                return true;
            }
            Sleep(10);
        }
        return false;
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
    Sleep(300);
    Stopwatch clock;
    PullDevice(ERROR_BAD_COMMAND);
    ASSERT_TRUE(AwaitErrors("COM1: adapter gone, waiting for it\n", 5000)) << Errors();
    EXPECT_LT(clock.Ms(), 1000 + 500);
    PowerOnModule(); // a module switched on while the adapter is away
    Sleep(1300);     // the port is tried again once, in vain
    EXPECT_EQ(LoggedModules(), 1u) << ReadWholeFile(logPath_);
    PullDevice(0);
    ASSERT_TRUE(AwaitErrors("COM1: adapter back\n", 5000)) << Errors();
    ASSERT_TRUE(AwaitErrors("COM1: next module: switch it ON", 10000, 2)) << Errors();
    Sleep(300);
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
    Sleep(1500); // tried again, in vain
    Stopwatch clock;
    RequestStop();
    const StationEnd end = Join();
    EXPECT_LT(clock.Ms(), 500 + 500);
    EXPECT_EQ(end.status, static_cast<int>(kNotProgrammed)) << Errors();
    EXPECT_EQ(LoggedModules(), 1u);
}

namespace {

// The ways Windows ends a program after a last word: the console window
// closed (the control handler), the user's session ending (the hidden
// window).
struct Ending {
    const char* name;
    void (*end)();
};

const Ending kEndings[] = {
    {"WindowClosed", [] { OnConsoleControl(CTRL_CLOSE_EVENT); }},
    {"LoggingOff", [] { OnConsoleControl(CTRL_LOGOFF_EVENT); }},
    {"SessionEnding",
     [] {
         SessionWindowProc(nullptr, WM_QUERYENDSESSION, 0, 0);
         SessionWindowProc(nullptr, WM_ENDSESSION, TRUE, 0);
     }},
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
    stationStopLimitMs = 300;
    driverDouble.openDelayMs = 1500;
    job_.repeat = true;
    StartStation();
    Sleep(500); // the port's thread waits in the opening
    Stopwatch clock;
    RequestStop();
    const StationEnd end = Join();
    EXPECT_LT(clock.Ms(), 300 + 50 + 1000);
    EXPECT_FALSE(end.threadsEnded);
    EXPECT_EQ(end.status, 0);
    EXPECT_NE(Errors().find("korvan-cli: a port did not end its run after the stop"),
              std::string::npos);
    // The thread ends its run on the station it was given, and closes its
    // port.
    Sleep(1500 + 1000);
    EXPECT_EQ(PortTable[kToolPort].portHandle, nullptr);
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
