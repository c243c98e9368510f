// korvan-sim.exe started as a process on COM2, with a plain peer on COM1.
#include <gtest/gtest.h>

#include <string>

#include "support/text_checks.h"
#include "support/console_process.h"
#include "support/peer_port.h"

namespace {

// A running korvan-sim.exe.
class SimProcess : public ConsoleProcess {
  public:
    bool Start(const std::string& arguments) {
        return ConsoleProcess::Start("sim\\korvan-sim.exe", arguments);
    }
};

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

TEST(SimProgram, RefusesAPortWithoutDevice) {
    SimProcess missing;
    ASSERT_TRUE(missing.Start("COM5 --exit-after 100"));
    EXPECT_EQ(missing.Wait(10000), 1);
    EXPECT_TRUE(Contains(missing.Output(), "COM5 cannot be opened"));
    SimProcess high; // any port number is tried
    ASSERT_TRUE(high.Start("com256 --exit-after 100"));
    EXPECT_EQ(high.Wait(10000), 1);
    EXPECT_TRUE(Contains(high.Output(), "COM256 cannot be opened"));
}
