// The command lines of the console programs korvan-sim.exe,
// korvan-demo-driver.exe and korvan-bench.exe, started as processes: what
// they refuse, in one line with exit status 2, and their help. And the usage
// errors of all four, korvan-cli.exe among them, in their own words.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/console_process.h"

namespace {

const char kSim[] = "sim\\korvan-sim.exe";
const char kDriver[] = "tools\\korvan-demo-driver.exe";
const char kBench[] = "bench\\korvan-bench.exe";
const char kCli[] = "korvan-cli.exe";

struct Call {
    const char* program;
    std::string arguments;
    std::string expected; // in the output
};

std::string RunProgram(const Call& call, int* status) {
    ConsoleProcess process;
    if (!process.Start(call.program, call.arguments)) {
        *status = -2;
        return "";
    }
    *status = process.Wait(20000);
    return process.Output();
}

} // namespace

TEST(ConsolePrograms, RefuseABadPortOrOptionInOneLineWithStatus2) {
    const std::vector<Call> calls = {
        {kSim, "COM0", "korvan-sim: port: \"COM0\" is not a COM port COM1 to COM256"},
        {kSim, "COM2 --no-such-option", "korvan-sim: unexpected argument: --no-such-option"},
        {kDriver, "run firmware a.dcs --port COM257",
         "korvan-demo-driver: --port: \"COM257\" is not a COM port COM1 to COM256"},
        {kDriver, "quit --port 2", "korvan-demo-driver: unexpected arguments: --port 2"},
        {kBench, "--tool-port com", "korvan-bench: --tool-port: \"com\" is not a COM port"},
        {kBench, "--module-port 0", "korvan-bench: --module-port: \"0\" is not a COM port"},
        {kBench, "--tool-port COM2", "korvan-bench: the tool and the module need the two ends"},
    };
    for (const Call& call : calls) {
        int status = 0;
        const std::string output = RunProgram(call, &status);
        EXPECT_EQ(status, 2) << call.program << " " << call.arguments;
        EXPECT_NE(output.find(call.expected), std::string::npos) << output;
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    }
}

TEST(ConsolePrograms, HelpListsTheOptionsWithStatus0) {
    const std::vector<Call> calls = {
        {kSim, "--help", "Usage: korvan-sim.exe [OPTIONS] port"},
        {kSim, "/?", "COM1 to COM256"},
        {kDriver, "--help", "Usage: korvan-demo-driver.exe [OPTIONS] COMMAND"},
        {kBench, "--help", "Usage: korvan-bench.exe [OPTIONS]"},
    };
    // What each help has to mention.
    const std::vector<std::vector<std::string>> parts = {
        {"Running:", "--power-event NAME", "--state FILE", "Faults:", "--ack-fault",
         "--confirm-delay MS", "p or Enter   power cycle", "q            print the report and end"},
        {"Running:", "Faults:"},
        {"--timeout S", "--port COMn", "--power-event NAME", "--hold-prompt MS", "firmware FILE",
         "profibus-id ID", "choose", "quit", "set-event", "exit status is 0"},
        {"--tool-port COMn", "--module-port COMn"},
    };
    for (size_t i = 0; i < calls.size(); ++i) {
        int status = 0;
        const std::string output = RunProgram(calls[i], &status);
        EXPECT_EQ(status, 0) << calls[i].program << " " << calls[i].arguments;
        EXPECT_NE(output.find(calls[i].expected), std::string::npos) << output;
        for (const std::string& part : parts[i]) {
            EXPECT_NE(output.find(part), std::string::npos) << part << " in\n" << output;
        }
    }
}

TEST(ConsolePrograms, TellUsageErrorsInTheirOwnWords) {
    const std::vector<Call> calls = {
        {kCli, "--port COM1 --port COM1 profibus-id 3",
         "korvan-cli: --port: COM1 is given twice (see korvan-cli --help)"},
        {kCli, "--port COM1 --count 3 profibus-id 3", "korvan-cli: --count needs --repeat (see"},
        {kCli, "profibus-id 3 --port", "korvan-cli: --port needs a value (COMn|auto) (see"},
        {kCli, "--port COM1 firmware", "korvan-cli: FILE is missing (see"},
        {kSim, "COM2 --pace 0", "korvan-sim: --pace: 0 is no number from "},
        {kDriver, "quit --timeout x", "korvan-demo-driver: --timeout: x is no number from 1 to"},
        {kBench, "--tool-port COM1 --tool-port COM3", "korvan-bench: --tool-port is given more"},
    };
    for (const Call& call : calls) {
        int status = 0;
        const std::string output = RunProgram(call, &status);
        EXPECT_EQ(status, call.program == kCli ? 1 : 2) << call.program << " " << call.arguments;
        EXPECT_NE(output.find(call.expected), std::string::npos) << output;
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    }
}
