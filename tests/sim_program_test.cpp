// korvan-sim.exe started as a process on COM2, with a plain peer on COM1.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "support/peer_port.h"

namespace {

std::string SimulatorPath() {
    char own[MAX_PATH];
    GetModuleFileNameA(nullptr, own, sizeof own);
    std::string path(own);
    path = path.substr(0, path.find_last_of("\\/") + 1) + "..\\sim\\korvan-sim.exe";
    char full[MAX_PATH];
    GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return full;
}

// A running korvan-sim.exe with pipes for its standard input and output.
class SimProcess {
  public:
    bool Start(const std::string& arguments) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE inputRead = nullptr;
        HANDLE outputWrite = nullptr;
        if (!CreatePipe(&inputRead, &input_, &inherit, 0) ||
            !CreatePipe(&output_, &outputWrite, &inherit, 0)) {
            return false;
        }
        SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = inputRead;
        startup.hStdOutput = outputWrite;
        startup.hStdError = outputWrite;
        std::string command = "\"" + SimulatorPath() + "\" " + arguments;
        PROCESS_INFORMATION process;
        BOOL created = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
        CloseHandle(inputRead);
        CloseHandle(outputWrite);
        if (!created) {
            return false;
        }
        CloseHandle(process.hThread);
        process_ = process.hProcess;
        reader_ = std::thread([this] {
            char buffer[512];
            DWORD got = 0;
            while (ReadFile(output_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
                text_.append(buffer, got);
            }
        });
        return true;
    }
    void Send(const std::string& line) {
        DWORD written = 0;
        WriteFile(input_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
    void CloseInput() {
        if (input_ != nullptr) {
            CloseHandle(input_);
            input_ = nullptr;
        }
    }
    // The exit code, or -1 when the process has not ended within timeoutMs.
    int Wait(int timeoutMs) {
        if (WaitForSingleObject(process_, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
            return -1;
        }
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        return static_cast<int>(code);
    }
    // All output, once the process has ended.
    std::string Output() {
        if (reader_.joinable()) {
            reader_.join();
        }
        return text_;
    }
    ~SimProcess() {
        CloseInput();
        if (process_ != nullptr && Wait(0) == -1) {
            TerminateProcess(process_, 9);
        }
        Output();
        if (process_ != nullptr) {
            CloseHandle(process_);
        }
        if (output_ != nullptr) {
            CloseHandle(output_);
        }
    }

  private:
    HANDLE process_ = nullptr;
    HANDLE input_ = nullptr;
    HANDLE output_ = nullptr;
    std::thread reader_;
    std::string text_;
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(SimProgram, PowersOnByOptionSendsTheBannerAndEndsWithItsReport) {
    HANDLE peer = OpenPeer(kPortA);
    ASSERT_NE(peer, INVALID_HANDLE_VALUE);
    SimProcess sim;
    ASSERT_TRUE(sim.Start("COM2 --power-on-after 300 --exit-after 2500"));
    std::string startup = PeerReadCount(peer, 31, 5000);
    EXPECT_EQ(startup, "\r\nKorvan V2.07\r\nKonfigmode...\r\n");
    PeerWrite(peer, "\x14");
    EXPECT_EQ(PeerReadCount(peer, 2, 2000), "OK");
    EXPECT_EQ(sim.Wait(10000), 0);
    std::string output = sim.Output();
    EXPECT_TRUE(Contains(output, "Simulated Korvan module on COM2")) << output;
    EXPECT_TRUE(Contains(output, "p (power cycle)")) << output; // how to power-cycle
    EXPECT_TRUE(Contains(output, "banner \"Konfigmode...\"")) << output;
    EXPECT_TRUE(Contains(output, "handshake 0x14 -> \"OK\"")) << output;
    EXPECT_TRUE(Contains(output, "Report of the simulated module")) << output;
    EXPECT_TRUE(Contains(output, "power-ons: 1, banners sent: 1")) << output;
    EXPECT_TRUE(Contains(output, "station address: 3")) << output;
    CloseHandle(peer);
}

TEST(SimProgram, TakesCommandsOnStandardInputAndEndsWithIt) {
    HANDLE peer = OpenPeer(kPortA);
    ASSERT_NE(peer, INVALID_HANDLE_VALUE);
    SimProcess sim;
    ASSERT_TRUE(sim.Start("COM2 --station 42"));
    Sleep(300);
    EXPECT_EQ(PeerReadUntilQuiet(peer, 200), ""); // off until told
    sim.Send("p\n");
    EXPECT_EQ(PeerReadCount(peer, 31, 5000).substr(16), "Konfigmode...\r\n");
    PeerWrite(peer, "\x15");
    std::string reply = PeerReadCount(peer, 66, 2000);
    EXPECT_EQ(reply.substr(28, 2), "2A");
    sim.Send("off\n");
    Sleep(300);
    PeerWrite(peer, "\x14");
    EXPECT_EQ(PeerReadCount(peer, 1, 300), "");
    sim.CloseInput(); // the end of standard input ends the program
    EXPECT_EQ(sim.Wait(10000), 0);
    std::string output = sim.Output();
    EXPECT_TRUE(Contains(output, "configuration read (0x15): 66 bytes sent, station address 42"))
        << output;
    EXPECT_TRUE(Contains(output, "module now off")) << output;
    CloseHandle(peer);
}

// Another program opens the simulator's events by name once they exist.
HANDLE OpenSimEvent(const char* name) {
    for (int tries = 0; tries < 500; ++tries) {
        HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
        if (event != nullptr) {
            return event;
        }
        Sleep(20);
    }
    return nullptr;
}

TEST(SimProgram, NamedEventsPowerCycleAndEndIt) {
    HANDLE peer = OpenPeer(kPortA);
    ASSERT_NE(peer, INVALID_HANDLE_VALUE);
    SimProcess sim;
    ASSERT_TRUE(
        sim.Start("COM2 --no-input --power-event sim-test-power --quit-event sim-test-quit"));
    HANDLE power = OpenSimEvent("sim-test-power");
    HANDLE quit = OpenSimEvent("sim-test-quit");
    ASSERT_NE(power, nullptr);
    ASSERT_NE(quit, nullptr);
    EXPECT_EQ(PeerReadUntilQuiet(peer, 300), ""); // off until the event
    SetEvent(power);
    EXPECT_EQ(PeerReadCount(peer, 31, 5000).substr(16), "Konfigmode...\r\n");
    SetEvent(power); // once more: off and on again
    EXPECT_EQ(PeerReadCount(peer, 31, 5000).substr(16), "Konfigmode...\r\n");
    EXPECT_EQ(sim.Wait(300), -1); // without input it runs on
    SetEvent(quit);
    EXPECT_EQ(sim.Wait(10000), 0);
    std::string output = sim.Output();
    EXPECT_TRUE(Contains(output, "Setting the event \"sim-test-power\" power-cycles")) << output;
    EXPECT_TRUE(Contains(output, "power-ons: 2, banners sent: 2")) << output;
    CloseHandle(power);
    CloseHandle(quit);
    CloseHandle(peer);
}

TEST(SimProgram, RefusesBadArgumentsAndAPortWithoutDevice) {
    SimProcess wrong;
    ASSERT_TRUE(wrong.Start("COM2 --no-such-option"));
    EXPECT_EQ(wrong.Wait(10000), 2);
    const std::string reason = wrong.Output();
    EXPECT_TRUE(Contains(reason, "korvan-sim: The following argument was not expected: "
                                 "--no-such-option"))
        << reason;
    EXPECT_EQ(std::count(reason.begin(), reason.end(), '\n'), 1) << reason; // one line
    SimProcess badPort;
    ASSERT_TRUE(badPort.Start("COM257"));
    EXPECT_EQ(badPort.Wait(10000), 2);
    EXPECT_TRUE(Contains(badPort.Output(), "\"COM257\" is not a COM port")) << badPort.Output();
    SimProcess missing;
    ASSERT_TRUE(missing.Start("COM5 --exit-after 100"));
    EXPECT_EQ(missing.Wait(10000), 1);
    EXPECT_TRUE(Contains(missing.Output(), "COM5 cannot be opened"));
    SimProcess high; // any port number is tried
    ASSERT_TRUE(high.Start("com256 --exit-after 100"));
    EXPECT_EQ(high.Wait(10000), 1);
    EXPECT_TRUE(Contains(high.Output(), "COM256 cannot be opened"));
}

TEST(SimProgram, HelpListsTheOptionsInGroupsAndTheCommands) {
    SimProcess help;
    ASSERT_TRUE(help.Start("--help"));
    EXPECT_EQ(help.Wait(10000), 0);
    const std::string text = help.Output();
    for (const char* part : {"korvan-sim.exe [OPTIONS] port", "COM1 to COM256", "Running:",
                             "--power-event NAME", "Faults:", "--ack-fault", "--confirm-delay MS",
                             "p or Enter   power cycle", "q            print the report and end"}) {
        EXPECT_TRUE(Contains(text, part)) << part << " in\n" << text;
    }
}
