// The simulator on COM2 against a plain peer on COM1 (null-modem pair).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "simulator.h"
#include "support/peer_port.h"

namespace {

const std::string kStartup = "\r\nKorvan V2.07\r\nKonfigmode...\r\n";

std::string HexOf(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

std::string ChecksumLine(const std::vector<uint8_t>& bytes) {
    uint16_t sum = 0;
    for (uint8_t b : bytes) {
        sum = static_cast<uint16_t>(sum + b);
    }
    char text[8];
    snprintf(text, sizeof text, "\n%04X", sum);
    return text;
}

std::vector<uint8_t> Script(size_t size) {
    std::vector<uint8_t> script(size);
    for (size_t i = 0; i < size; ++i) {
        script[i] = static_cast<uint8_t>(i * 13 + 1);
    }
    return script;
}

class SimPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetDefaultSimOptions(&options_);
    }
    void TearDown() override {
        StopSimulator();
        if (peer_ != INVALID_HANDLE_VALUE) {
            CloseHandle(peer_);
        }
    }
    void Start() {
        ASSERT_EQ(StartSimulator(kPeerA, &options_), 0);
        peer_ = OpenPeer(kPortA);
        ASSERT_NE(peer_, INVALID_HANDLE_VALUE);
    }
    // Powers the module on and takes its start-up output.
    std::string PowerOn() {
        PowerOnModule();
        return PeerReadUntilQuiet(peer_, 200);
    }
    std::string Ask(const std::string& bytes, size_t count, int timeoutMs = 1000) {
        PeerWrite(peer_, bytes);
        return PeerReadCount(peer_, count, timeoutMs);
    }
    // The firmware exchange as the tool runs it: handshake, the script's
    // pairs with a wait for each acknowledgement, the checksum line. Returns
    // what came back after the handshake, in order.
    std::string DownloadLikeTheTool(const std::vector<uint8_t>& script,
                                    const std::string& checksum) {
        EXPECT_EQ(Ask("\x14", 2), "OK");
        EXPECT_EQ(Ask("\x10", 1), ".");
        std::string answers;
        size_t from = 0;
        for (size_t ack = 95; ack < script.size(); ack += 128) {
            PeerWrite(peer_, HexOf({script.begin() + static_cast<long>(from),
                                    script.begin() + static_cast<long>(ack) + 1}));
            answers += PeerReadCount(peer_, 1, 700);
            from = ack + 1;
        }
        PeerWrite(peer_, HexOf({script.begin() + static_cast<long>(from), script.end()}));
        PeerWrite(peer_, checksum);
        return answers + PeerReadUntilQuiet(peer_, 300);
    }

    SimOptions options_;
    HANDLE peer_ = INVALID_HANDLE_VALUE;
};

} // namespace

TEST_F(SimPortTest, IsDeafUntilPoweredOnFromAnotherThreadThenSendsItsBanner) {
    Start();
    EXPECT_EQ(Ask("\x14\x15", 1, 300), "");
    std::thread power([] { PowerOnModule(); });
    power.join();
    EXPECT_EQ(PeerReadUntilQuiet(peer_, 200), kStartup);
    EXPECT_EQ(Ask("\x14", 2), "OK");
    SimReport report;
    ReadSimReport(&report);
    EXPECT_EQ(report.poweredOn, 1);
    EXPECT_EQ(report.bannerCount, 1);
    EXPECT_EQ(report.answer14Count, 1);
}

TEST_F(SimPortTest, DownloadsAScriptWithAcknowledgementsAndConfirmsIt) {
    Start();
    ASSERT_EQ(PowerOn(), kStartup);
    std::vector<uint8_t> script = Script(300);
    EXPECT_EQ(Ask("\x14", 2), "OK");
    EXPECT_EQ(Ask("\x10", 1), ".");
    // Nothing before the pair of script byte 95, then the acknowledgement.
    PeerWrite(peer_, HexOf({script.begin(), script.begin() + 95}));
    EXPECT_EQ(PeerReadCount(peer_, 1, 200), "");
    EXPECT_EQ(Ask(HexOf({script[95]}), 1, 700), ".");
    PeerWrite(peer_, HexOf({script.begin() + 96, script.begin() + 223}));
    EXPECT_EQ(PeerReadCount(peer_, 1, 200), "");
    EXPECT_EQ(Ask(HexOf({script[223]}), 1, 700), ".");
    PeerWrite(peer_, HexOf({script.begin() + 224, script.end()}));
    EXPECT_EQ(Ask(ChecksumLine(script), 14), "\rDownload ok.\n");

    SimReport report;
    ReadSimReport(&report);
    EXPECT_EQ(report.firmwareByteCount, 300);
    EXPECT_EQ(report.badCharacterCount, 0);
    std::vector<uint8_t> received(400);
    ASSERT_EQ(CopyReceivedFirmware(received.data(), 400), 300);
    received.resize(300);
    EXPECT_EQ(received, script);
    EXPECT_EQ(report.ackCount, 2);
    EXPECT_EQ(report.ackIndices[0], 95);
    EXPECT_EQ(report.ackIndices[1], 223);
    EXPECT_EQ(report.checksumMatched, 1);
    EXPECT_EQ(report.checksumReceived, report.firmwareSum);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(report.confirmation), 14), "\rDownload ok.\n");
}

TEST_F(SimPortTest, AWrongChecksumGetsAnotherLine) {
    Start();
    PowerOn();
    std::vector<uint8_t> script = Script(100);
    std::string checksum = ChecksumLine(script);
    checksum[4] = checksum[4] == '0' ? '1' : '0';
    EXPECT_EQ(DownloadLikeTheTool(script, checksum), ".\rChecksum error.\n");
    SimReport report;
    ReadSimReport(&report);
    EXPECT_EQ(report.checksumMatched, 0);
    EXPECT_EQ(report.checksumComplete, 1);
}

TEST_F(SimPortTest, ReadsAndStoresItsConfigurationAcrossRestarts) {
    std::string stateFile = TempPath("sim-state.txt");
    DeleteFileA(stateFile.c_str());
    snprintf(options_.stateFile, sizeof options_.stateFile, "%s", stateFile.c_str());
    options_.initialStationAddress = 12;
    Start();
    PowerOn();
    std::string reply = Ask("\x15", 66);
    ASSERT_EQ(reply.size(), 66u);
    EXPECT_EQ(reply.substr(28, 2), "0C");
    EXPECT_EQ(reply.substr(64), "\r\n");

    std::string record = reply.substr(0, 64);
    record.replace(28, 2, "05");
    uint16_t sum = 0;
    for (size_t k = 0; k < 32; ++k) {
        sum = static_cast<uint16_t>(sum + std::stoi(record.substr(2 * k, 2), nullptr, 16));
    }
    char checksum[8];
    snprintf(checksum, sizeof checksum, "\n%04X\n", sum);
    EXPECT_EQ(Ask("\x04" + record + checksum, 1, 500), ""); // no answer to a write-back

    SimReport report;
    ReadSimReport(&report);
    EXPECT_EQ(report.writeBackCount, 32);
    EXPECT_EQ(report.writeBackMatched, 1);
    EXPECT_EQ(report.writeBackStored, 1);
    EXPECT_EQ(report.writeBackSum, sum);
    EXPECT_EQ(report.stationAddress, 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(report.configSent), 66), reply);

    std::ifstream saved(stateFile, std::ios::binary);
    std::string savedText((std::istreambuf_iterator<char>(saved)),
                          std::istreambuf_iterator<char>());
    EXPECT_EQ(savedText, record + "\r\n");
    saved.close();

    // A new start reads the record back from the state file.
    StopSimulator();
    CloseHandle(peer_);
    peer_ = INVALID_HANDLE_VALUE;
    options_.initialStationAddress = -1;
    Start();
    PowerOn();
    EXPECT_EQ(Ask("\x15", 66).substr(0, 64), record);
    DeleteFileA(stateFile.c_str());
}

TEST_F(SimPortTest, FaultsOfHandshakeConfigurationAndStartUp) {
    options_.answer14 = kAnswerWrong;
    options_.configSilent = 1;
    options_.startupFault = kStartupBannerOnly;
    Start();
    EXPECT_EQ(PowerOn(), "Konfigmode...\r\n");
    EXPECT_EQ(Ask("\x14", 2), "NO");
    EXPECT_EQ(Ask("\x15", 1, 500), "");

    options_ = SimOptions();
    SetDefaultSimOptions(&options_);
    options_.startupFault = kStartupEndless;
    options_.configLength = 401;
    options_.configLineFeed = 0;
    ChangeSimOptions(&options_);
    PowerOnModule();
    // Endless output at about 960 bytes/s, never the banner, until power-off.
    std::string babble = PeerReadCount(peer_, 500, 3000);
    EXPECT_EQ(babble.size(), 500u);
    EXPECT_EQ(babble.find("Konfigmode..."), std::string::npos);
    PowerOffModule();
    PeerReadUntilQuiet(peer_, 100);
    EXPECT_EQ(PeerReadCount(peer_, 1, 300), "");

    options_.startupFault = kStartupNormal;
    ChangeSimOptions(&options_);
    EXPECT_EQ(PowerOn(), kStartup);
    std::string reply = Ask("\x15", 402, 2000);
    EXPECT_EQ(reply.size(), 402u);
    EXPECT_EQ(reply.back(), '\r');
}

TEST_F(SimPortTest, ALateAcknowledgementComesAfterItsDelay) {
    options_.ackFault = kAckLate;
    options_.ackFaultBlock = 0;
    options_.ackDelayMs = 400;
    Start();
    PowerOn();
    std::vector<uint8_t> script = Script(96);
    EXPECT_EQ(Ask("\x14", 2), "OK");
    EXPECT_EQ(Ask("\x10", 1), ".");
    PeerWrite(peer_, HexOf(script));
    Stopwatch clock;
    EXPECT_EQ(PeerReadCount(peer_, 1, 2000), ".");
    EXPECT_GE(clock.Ms(), 390);
    EXPECT_LT(clock.Ms(), 1500);
    // Answers that follow keep their order behind the late one.
    EXPECT_EQ(Ask(ChecksumLine(script), 14), "\rDownload ok.\n");
}

TEST_F(SimPortTest, PacedAtTheBaudRateItAnswersNoEarlierThanTheBytesCouldArrive) {
    options_.pacingBaud = 9600;
    Start();
    Stopwatch startup;
    PowerOnModule();
    std::string output = PeerReadCount(peer_, kStartup.size(), 2000);
    EXPECT_EQ(output, kStartup);
    // 31 bytes of 10 bits at 9600 baud: 32.3 ms at least.
    EXPECT_GE(startup.Ms(), 32.0);

    EXPECT_EQ(Ask("\x14", 2), "OK");
    EXPECT_EQ(Ask("\x10", 1), ".");
    // 192 characters written at once could not arrive in under 200 ms; the
    // acknowledgement takes another byte time.
    Stopwatch block;
    PeerWrite(peer_, HexOf(Script(96)));
    EXPECT_EQ(PeerReadCount(peer_, 1, 2000), ".");
    EXPECT_GE(block.Ms(), 199.0); // 200 ms, less the clocks' granularity
    EXPECT_LT(block.Ms(), 1000.0);
}

TEST_F(SimPortTest, TracesTheExchangeThroughTheSerialLayer) {
    std::string traceFile = TempPath("sim-trace.bin");
    snprintf(options_.traceFile, sizeof options_.traceFile, "%s", traceFile.c_str());
    options_.startupFault = kStartupBannerOnly;
    options_.bannerLineEnd = 0;
    Start();
    PowerOn();
    EXPECT_EQ(Ask("\x14", 2), "OK");
    StopSimulator();
    std::ifstream trace(traceFile, std::ios::binary);
    std::string records((std::istreambuf_iterator<char>(trace)), std::istreambuf_iterator<char>());
    std::string expected;
    for (char c : std::string("Konfigmode...")) {
        expected += c;
        expected += '\x02';
    }
    expected += std::string("\x14\x01O\x02K\x02", 6);
    EXPECT_EQ(records, expected);
    trace.close();
    DeleteFileA(traceFile.c_str());
}

namespace {

// Streams a script of size bytes as fast as the peer can, waiting only for
// the acknowledgements; returns the hexadecimal characters per second.
double StreamScript(HANDLE peer, size_t size, std::string* answers) {
    std::vector<uint8_t> script = Script(size);
    std::string hex = HexOf(script);
    Stopwatch clock;
    size_t from = 0;
    for (size_t ack = 95; ack < size; ack += 128) {
        PeerWrite(peer, hex.substr(2 * from, 2 * (ack + 1 - from)));
        *answers += PeerReadCount(peer, 1, 700);
        from = ack + 1;
    }
    PeerWrite(peer, hex.substr(2 * from));
    PeerWrite(peer, ChecksumLine(script));
    *answers += PeerReadCount(peer, 14, 2000);
    return static_cast<double>(hex.size()) / (clock.Ms() / 1000.0);
}

// Acknowledgements of a script: after bytes 95, 223, 351, ...
size_t AckCount(size_t size) {
    return size < 96 ? 0 : (size - 96) / 128 + 1;
}

} // namespace

// The receive thread takes one overlapped read per byte; under Wine that is
// far slower than the tool's stream, so this only measures and checks.
TEST_F(SimPortTest, KeepsUpWithAStreamOnTheReceiveThread) {
    Start();
    PowerOn();
    EXPECT_EQ(Ask("\x14", 2), "OK");
    EXPECT_EQ(Ask("\x10", 1), ".");
    std::string answers;
    double rate = StreamScript(peer_, 40000, &answers);
    EXPECT_EQ(answers, std::string(AckCount(40000), '.') + "\rDownload ok.\n");
    printf("receive thread: %.0f hexadecimal characters per second\n", rate);
    RecordProperty("characters_per_second", static_cast<int>(rate));
    EXPECT_GT(rate, 40000.0);
    SimReport report;
    ReadSimReport(&report);
    EXPECT_EQ(report.firmwareByteCount, 40000);
    EXPECT_EQ(report.checksumMatched, 1);
}
