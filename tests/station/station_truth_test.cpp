// A station of this process, module after module, says only what is so: a
// module switched on just after the pause was answered gets no byte, and
// once the station is resumed its port says that it may be waiting
// unprogrammed; a module is shown done at once while another program holds
// the log's lock, and a stop ends the station within half a second then.
// The tool runs on COM1, the simulated module on COM2.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "simulator.h"
#include "module_log.h"
#include "station.h"
#include "stop_signal.h"
#include "support/peer_port.h"
#include "support/run_driver.h"
#include "support/text_checks.h"

namespace {

const char kPausedModule[] = "paused; a module switched on meanwhile waits unprogrammed";
const char kUnprogrammed[] = "a module may be waiting unprogrammed: switch it OFF and ON";

// Every byte the module has had from the tool since it was started.
int32_t BytesHeard() {
    SimReport report;
    ReadSimReport(&report);
    return report.answer14Count + report.answer10Count + report.ignoredByteCount +
           report.configReadCount;
}

class StationTruthTest : public ::testing::Test {
  protected:
    void SetUp() override {
        log_ = TempPath("truth-log.csv");
        DeleteFileA(log_.c_str());
        ASSERT_EQ(moduleLog_.Open(log_), "");
        job_.log = &moduleLog_;
        SimOptions options;
        SetDefaultSimOptions(&options);
        ASSERT_EQ(StartSimulator(kModulePort, &options), 0);
        errors_ = TempPath("pause-errors.txt");
        output_ = TempPath("pause-output.txt");
        job_.ports = {kToolPort};
        job_.choices.mode = kReadIdMode;
        job_.repeat = true;
        job_.errors = fopen(errors_.c_str(), "w");
        job_.output = fopen(output_.c_str(), "w");
        const int16_t stopPorts[] = {kToolPort};
        SetStopPorts(stopPorts, 1);
    }
    void StartStation() {
        state_ = std::make_unique<StationState>(job_.ports, JobInfoOf(job_));
        station_ = std::thread([this] { end_ = RunStation(job_, state_.get()); });
        ASSERT_TRUE(AwaitStep("switch the module OFF and ON"));
    }
    void TearDown() override {
        if (station_.joinable()) {
            RequestStop();
            station_.join();
        }
        StopSimulator();
        fclose(job_.errors);
        fclose(job_.output);
        moduleLog_.Close();
        for (const std::string& path : {errors_, output_, log_}) {
            DeleteFileA(path.c_str());
        }
    }
    bool AwaitStep(const std::string& step) {
        return AwaitTrue([&] { return state_->Port(0).step == step; }, 10000);
    }

    StationJob job_;
    ModuleLog moduleLog_;
    std::string errors_, output_, log_;
    std::unique_ptr<StationState> state_;
    std::thread station_;
    StationEnd end_;
};

} // namespace

TEST_F(StationTruthTest, AModuleSwitchedOnAfterThePauseIsAnsweredGetsNothing) {
    StartStation();
    PowerOnModule();
    ASSERT_TRUE(AwaitStep("next module: switch it ON"));
    ASSERT_EQ(state_->Totals().modules, 1);
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int32_t heard = BytesHeard();
        state_->SetPaused(true); // what the server does before it answers
        PowerOnModule();         // at once after the answer
        // The port either holds the module or takes it.
        ASSERT_TRUE(AwaitTrue(
            [&] {
                const PortSnapshot port = state_->Port(0);
                return port.step == kPausedModule || port.status == kPortDetecting ||
                       port.status == kPortProgramming || port.modules > 1;
            },
            10000))
            << attempt;
        EXPECT_EQ(state_->Port(0).step, kPausedModule) << attempt;
        EXPECT_EQ(BytesHeard(), heard) << attempt;
        state_->SetPaused(false);
        // Resumed, the port says what sits in its fixture; it never shows
        // the module as passed.
        ASSERT_TRUE(AwaitStep(kUnprogrammed)) << attempt;
        EXPECT_EQ(state_->Port(0).status, kPortWaiting) << attempt;
        EXPECT_EQ(BytesHeard(), heard) << attempt;
        EXPECT_EQ(state_->Totals().modules, 1) << attempt;
    }
    // Switched OFF and ON, the module is taken.
    PowerOnModule();
    ASSERT_TRUE(AwaitTrue([&] { return state_->Totals().modules == 2; }, 10000));
    EXPECT_TRUE(AwaitTrue([&] { return state_->Port(0).status == kPortPassed; }, 5000));
    RequestStop();
    station_.join();
    EXPECT_EQ(end_.status, 0);
}

// Another program holds the log's lock all the while: each module is shown
// done as soon as its port is done with it, and a stop ends the station
// within half a second; the rows that never went in follow on standard
// output.
TEST_F(StationTruthTest, ALogLockHeldElsewhereHoldsUpNeitherModulesNorTheStop) {
    HANDLE other =
        CreateFileA(log_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(ModuleLog::kLockOffset);
    at.OffsetHigh = static_cast<DWORD>(ModuleLog::kLockOffset >> 32);
    ASSERT_TRUE(LockFileEx(other, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at));
    StartStation();
    for (int64_t module = 1; module <= 2; ++module) {
        PowerOnModule();
        ASSERT_TRUE(AwaitTrue([&] { return state_->Port(0).status != kPortPassed; }, 10000));
        ASSERT_TRUE(AwaitTrue([&] { return state_->Port(0).status == kPortPassed; }, 10000));
        Stopwatch shown;
        ASSERT_TRUE(AwaitTrue([&] { return state_->Totals().modules == module; }, 10000));
        EXPECT_LT(shown.Ms(), 500) << module;
        ASSERT_TRUE(AwaitStep("next module: switch it ON"));
    }
    Stopwatch clock;
    RequestStop();
    station_.join();
    EXPECT_LT(clock.Ms(), 500 + 1000);
    UnlockFileEx(other, 0, 1, 0, &at);
    CloseHandle(other);
    EXPECT_EQ(end_.status, kExitLogFailed);
    const std::string output = ReadWholeFile(output_);
    EXPECT_EQ(CountOf(output, ",COM1,read-id,"), 2u) << output;
    EXPECT_EQ(CountOf(ReadWholeFile(log_), ",COM1,read-id,"), 0u);
}

