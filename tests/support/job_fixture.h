// The fixture of the end-to-end tests: the main dialog with the simulated
// module on COM2 of the cable, the tool on COM1.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "port_table.h"
#include "script_store.h"
#include "serial_port.h"
#include "simulator.h"
#include "support/peer_port.h"
#include "support/run_driver.h"

class JobTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetDefaultSimOptions(&options_);
        dialog_ = OpenMainDialog();
        ASSERT_NE(dialog_, nullptr);
        ChoosePort(dialog_, kToolPort);
    }
    void TearDown() override {
        StopSimulator();
        DestroyWindow(dialog_);
        for (const std::string& path : files_) {
            DeleteFileA(path.c_str());
        }
    }
    // Starts the module with the options set so far; its trace records
    // every byte it receives.
    void StartModule(int16_t port = kModulePort) {
        tracePath_ = TempPath("module.trc");
        files_.push_back(tracePath_);
        strcpy(options_.traceFile, tracePath_.c_str());
        ASSERT_EQ(StartSimulator(port, &options_), 0);
    }
    std::string Script(const std::string& name, const std::string& bytes) {
        std::string path = WriteTempFile(name, bytes);
        files_.push_back(path);
        return path;
    }
    // What the module received; ends the simulator (and so its trace).
    std::string ModuleReceived() {
        StopSimulator();
        return BytesReceivedByModule(tracePath_);
    }
    SimReport Report() {
        SimReport report;
        ReadSimReport(&report);
        return report;
    }
    // After every run: the script slot is empty, the port opens again and
    // the script file is free for others.
    void ExpectCleanedUp(const std::string& scriptPath = "") {
        EXPECT_EQ(ScriptStore[1].loaded, 0);
        EXPECT_EQ(ScriptSize(1), 0);
        PortConfig config = ModuleLineConfig(kToolPort, nullptr);
        EXPECT_EQ(OpenPort(&config), 0);
        ClosePort(kToolPort);
        if (!scriptPath.empty()) {
            HANDLE file = CreateFileA(scriptPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            EXPECT_NE(file, INVALID_HANDLE_VALUE);
            CloseHandle(file);
        }
    }
    // The system is kept awake for the run, whatever its outcome.
    static void ExpectKeptAwake(const JobOutcome& run) {
        const std::vector<EXECUTION_STATE> states = {ES_CONTINUOUS | ES_SYSTEM_REQUIRED,
                                                     ES_CONTINUOUS};
        EXPECT_EQ(run.executionStates, states);
    }
    void ExpectSuccess(const JobOutcome& run, const char* result) {
        ExpectKeptAwake(run);
        EXPECT_EQ(run.result, result);
        EXPECT_EQ(run.status, " ");
        EXPECT_EQ(run.beeps, 0);
        EXPECT_TRUE(run.prompted);
        EXPECT_TRUE(run.inputsEnabledAfter);
    }
    void ExpectFailure(const JobOutcome& run, const char* result, const char* status) {
        ExpectKeptAwake(run);
        EXPECT_EQ(run.result, result);
        EXPECT_EQ(run.status, status);
        EXPECT_EQ(run.beeps, 1);
        EXPECT_TRUE(run.inputsEnabledAfter);
    }

    SimOptions options_;
    HWND dialog_ = nullptr;
    std::string tracePath_;
    std::vector<std::string> files_;
};
