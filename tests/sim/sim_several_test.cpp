// Three simulators in one process, one on the far end of each cable (COM2,
// COM4, COM200; the peers play the tool on COM1, COM3, COM12), each with its
// own faults, record, power switch, trace and report.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "simulator.h"
#include "support/peer_port.h"

namespace {

const std::string kStartup = "\r\nKorvan V2.07\r\nKonfigmode...\r\n";
const int kCount = 3;
const int16_t kModules[kCount] = {kPeerA, kPeerB, 200};
const int kTools[kCount] = {kPortA, kPortB, 12};

// The bytes of a trace file in one direction (1 received, 2 sent).
std::string TracedBytes(const std::string& path, char direction) {
    std::ifstream trace(path, std::ios::binary);
    std::string records((std::istreambuf_iterator<char>(trace)), std::istreambuf_iterator<char>());
    std::string bytes;
    for (size_t k = 0; k + 1 < records.size(); k += 2) {
        if (records[k + 1] == direction) {
            bytes += records[k];
        }
    }
    return bytes;
}

class SeveralSimulatorsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int i = 0; i < kCount; ++i) {
            SetDefaultSimOptions(&options_[i]);
            options_[i].initialStationAddress = static_cast<int16_t>(10 + i);
            traces_[i] = TempPath("several-" + std::to_string(i) + ".trc");
            snprintf(options_[i].traceFile, kSimPathCapacity, "%s", traces_[i].c_str());
        }
        options_[1].answer14 = kAnswerWrong; // "NO"
        options_[2].startupFault = kStartupBannerOnly;
    }
    void TearDown() override {
        StopSimulator();
        for (int i = 0; i < kCount; ++i) {
            if (peers_[i] != INVALID_HANDLE_VALUE) {
                CloseHandle(peers_[i]);
            }
            DeleteFileA(traces_[i].c_str());
        }
    }
    void StartAll() {
        for (int i = 0; i < kCount; ++i) {
            ASSERT_EQ(StartSimulator(kModules[i], &options_[i]), 0);
            peers_[i] = OpenPeer(kTools[i]);
            ASSERT_NE(peers_[i], INVALID_HANDLE_VALUE);
        }
    }
    // What peer i gets back; every byte either way is kept for the traces.
    std::string Ask(int i, const std::string& bytes, size_t count, int timeoutMs = 1000) {
        PeerWrite(peers_[i], bytes);
        written_[i] += bytes;
        std::string answer = PeerReadCount(peers_[i], count, timeoutMs);
        read_[i] += answer;
        return answer;
    }
    std::string Take(int i) {
        std::string bytes = PeerReadUntilQuiet(peers_[i], 200);
        read_[i] += bytes;
        return bytes;
    }

    SimOptions options_[kCount];
    std::string traces_[kCount];
    HANDLE peers_[kCount] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
    std::string written_[kCount];
    std::string read_[kCount];
};

} // namespace

TEST_F(SeveralSimulatorsTest, EachAnswersItsOwnCableAndKeepsItsOwnReportAndTrace) {
    StartAll();
    EXPECT_EQ(StartSimulator(kPeerB, &options_[0]), 1); // one simulator a port

    // Each is switched on and off by itself.
    PowerOnModuleOn(kPeerB);
    EXPECT_EQ(Take(1), kStartup);
    EXPECT_EQ(Ask(0, "\x14", 1, 300), "");
    EXPECT_EQ(Ask(2, "\x14", 1, 300), "");
    PowerOnModuleOn(kPeerA);
    PowerOnModuleOn(200);
    EXPECT_EQ(Take(0), kStartup);
    EXPECT_EQ(Take(2), "Konfigmode...\r\n");

    // Each with its own faults and record.
    EXPECT_EQ(Ask(0, "\x14", 2), "OK");
    EXPECT_EQ(Ask(1, "\x14", 2), "NO");
    EXPECT_EQ(Ask(2, "\x14", 2), "OK");
    for (int i = 0; i < kCount; ++i) {
        std::string reply = Ask(i, "\x15", 66);
        ASSERT_EQ(reply.size(), 66u) << i;
        EXPECT_EQ(reply.substr(28, 2), i == 0 ? "0A" : i == 1 ? "0B" : "0C");
    }
    EXPECT_EQ(Ask(2, "\x10", 1), ".");
    EXPECT_EQ(Ask(2, "0102FF\n0102", 14), "\rDownload ok.\n");

    PowerOffModuleOn(kPeerA);
    EXPECT_EQ(Ask(0, "\x14", 1, 300), "");
    EXPECT_EQ(Ask(1, "\x14", 2), "NO");
    StopSimulatorOn(kPeerB);
    EXPECT_EQ(Ask(2, "\x14", 2), "OK");

    // Reports and received scripts, the stopped one's included.
    SimReport reports[kCount];
    for (int i = 0; i < kCount; ++i) {
        ASSERT_TRUE(ReadSimReportOf(kModules[i], &reports[i]));
        EXPECT_EQ(reports[i].stationAddress, 10 + i);
        EXPECT_EQ(reports[i].powerOnCount, 1);
        EXPECT_EQ(reports[i].configReadCount, 1);
    }
    EXPECT_EQ(reports[0].answer14Count, 1);
    EXPECT_EQ(reports[1].answer14Count, 2);
    EXPECT_EQ(reports[2].answer14Count, 2);
    EXPECT_EQ(reports[0].poweredOn, 0);
    EXPECT_EQ(reports[2].firmwareByteCount, 3);
    uint8_t firmware[8];
    EXPECT_EQ(CopyReceivedFirmwareOf(kPeerA, firmware, sizeof firmware), 0);
    ASSERT_EQ(CopyReceivedFirmwareOf(200, firmware, sizeof firmware), 3);
    EXPECT_EQ(firmware[2], 0xFF);
    SimReport none;
    EXPECT_FALSE(ReadSimReportOf(kMissingPort, &none));
    EXPECT_EQ(none.powerOnCount, 0);
    SimReport first; // the calls without a port: the first that runs
    ReadSimReport(&first);
    EXPECT_EQ(first.stationAddress, 10);

    // Each event log tells of its own module only.
    char line[kEventLineLength];
    std::string events[kCount];
    for (int i = 0; i < kCount; ++i) {
        while (TakeSimEventOf(kModules[i], line, sizeof line)) {
            events[i] += std::string(line) + "\n";
        }
    }
    EXPECT_NE(events[1].find("-> \"NO\""), std::string::npos) << events[1];
    EXPECT_EQ(events[0].find("\"NO\""), std::string::npos) << events[0];
    EXPECT_EQ(events[0].find("download"), std::string::npos) << events[0];
    EXPECT_NE(events[2].find("download end: 3 script bytes"), std::string::npos) << events[2];

    // Each trace holds its own cable's bytes, both ways.
    StopSimulator();
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(TracedBytes(traces_[i], 1), written_[i]) << i;
        EXPECT_EQ(TracedBytes(traces_[i], 2), read_[i]) << i;
    }
}

TEST_F(SeveralSimulatorsTest, AFailedStartFreesItsSlotAndARestartStartsAfresh) {
    for (int i = 0; i <= kSimulatorSlots; ++i) {
        ASSERT_EQ(StartSimulator(kMissingPort, &options_[0]), 1);
    }
    StartAll();
    PowerOnModuleOn(200);
    EXPECT_EQ(Take(2), "Konfigmode...\r\n");
    StopSimulatorOn(kPeerA);
    SimOptions other = options_[1];
    other.traceFile[0] = 0;
    ASSERT_EQ(StartSimulator(kPeerA, &other), 0);
    PowerOnModule(); // the first running one is COM2's again
    EXPECT_EQ(Take(0), kStartup);
    EXPECT_EQ(Ask(0, "\x14", 2), "NO");
    EXPECT_EQ(Take(1), ""); // COM4's module stayed off
    SimReport report;
    ASSERT_TRUE(ReadSimReportOf(kPeerA, &report));
    EXPECT_EQ(report.powerOnCount, 1);
    EXPECT_EQ(report.stationAddress, 11);
    ASSERT_TRUE(ReadSimReportOf(200, &report));
    EXPECT_EQ(report.bannerCount, 1);
}
