// The serial layer in direct mode on real null-modem pairs under the test
// runner: COM1<->COM2 and COM3<->COM4, no device behind COM5.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "await_ports.h"
#include "port_table.h"
#include "port_threads.h"
#include "support/peer_port.h"

namespace {

PortConfig DirectConfig(int16_t port) {
    // The configuration of a programming run: 9600 8N1, DTR on, RTS off.
    return ModuleLineConfig(port, nullptr);
}

class DirectPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PortConfig config = DirectConfig(kPortA);
        ASSERT_EQ(OpenPort(&config), 0);
        peer_ = OpenPeer(kPeerA);
        ASSERT_NE(peer_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        ClosePort(kPortA);
        if (peer_ != INVALID_HANDLE_VALUE) {
            CloseHandle(peer_);
        }
    }
    // Gives bytes written by the peer time to cross the cable.
    static void LetArrive() {
        Sleep(100);
    }
    HANDLE peer_ = INVALID_HANDLE_VALUE;
    uint8_t buffer_[64];
};

} // namespace

TEST(OpenAndClose, OpensClosesAndOpensAgain) {
    PortConfig config = DirectConfig(kPortA);
    ASSERT_EQ(OpenPort(&config), 0);
    EXPECT_NE(PortTable[kPortA].portHandle, nullptr);
    EXPECT_EQ(PortTable[kPortA].directMode, 1);
    EXPECT_EQ(PortTable[kPortA].monitorRunning, 1);
    EXPECT_EQ(PortTable[kPortA].receiveThread, nullptr); // no receive thread in direct mode
    EXPECT_EQ(ClosePort(kPortA), 0);
    EXPECT_EQ(PortTable[kPortA].portHandle, nullptr);
    EXPECT_EQ(PortTable[kPortA].monitorThread, nullptr);
    ASSERT_EQ(OpenPort(&config), 0);
    EXPECT_EQ(ClosePort(kPortA), 0);
}

// Each port has its own start and stop hand-shake: three ports opened and
// closed over and over, each from a thread of its own, always have their
// monitor running once opened, and none left once closed.
TEST(OpenAndClose, PortsOpenAndCloseAtTheSameTimeEachFromItsOwnThread) {
    std::atomic<int> failures{0};
    auto cycle = [&failures](int16_t port) {
        PortConfig config = DirectConfig(port);
        for (int k = 0; k < 25; ++k) {
            if (OpenPort(&config) != 0 || PortTable[port].monitorRunning != 1) {
                ++failures;
            }
            ClosePort(port);
            if (PortTable[port].monitorThread != nullptr || PortTable[port].portHandle != nullptr) {
                ++failures;
            }
        }
    };
    std::thread first(cycle, kPortA);
    std::thread second(cycle, kPortB);
    std::thread third(cycle, 12);
    first.join();
    second.join();
    third.join();
    EXPECT_EQ(failures, 0);
}

TEST(OpenAndClose, APortWithoutDeviceFailsAndClosesHarmlessly) {
    PortConfig config = DirectConfig(kMissingPort);
    EXPECT_EQ(OpenPort(&config), 1);
    EXPECT_EQ(ClosePort(kMissingPort), 0);
    EXPECT_EQ(PortTable[kMissingPort].portHandle, nullptr);
    EXPECT_EQ(PortTable[kMissingPort].monitorThread, nullptr);
}

TEST(OpenAndClose, APortAlreadyOpenIsRefusedAndKeepsWorking) {
    PortConfig config = DirectConfig(kPortA);
    ASSERT_EQ(OpenPort(&config), 0);
    HANDLE device = PortTable[kPortA].portHandle;
    EXPECT_EQ(OpenPort(&config), kPortInUse); // its owner, not the caller, closes it
    EXPECT_EQ(PortTable[kPortA].portHandle, device);
    EXPECT_EQ(PortTable[kPortA].monitorRunning, 1);
    uint32_t ticks = PortTable[kPortA].tickCount;
    Sleep(200);
    EXPECT_GT(PortTable[kPortA].tickCount, ticks);
    EXPECT_EQ(ClosePort(kPortA), 0);
}

TEST(OpenAndClose, ClosingAPortNeverOpenedChangesNothing) {
    alignas(PortSlot) static unsigned char before[sizeof(PortSlot)];
    memcpy(before, &PortTable[kPortB], sizeof before);
    EXPECT_EQ(ClosePort(kPortB), 0);
    EXPECT_EQ(memcmp(before, &PortTable[kPortB], sizeof before), 0);
    // Numbers without a slot are passed over.
    EXPECT_EQ(ClosePort(0), 0);
    EXPECT_EQ(ClosePort(-1), 0);
    EXPECT_EQ(ClosePort(257), 0);
    EXPECT_EQ(ClosePort(32767), 0);
}

TEST(OpenAndClose, RefusesValuesWithoutALineSettingAndTouchesNoDevice) {
    PortConfig good = DirectConfig(kPortA);
    PortConfig bad[10];
    for (PortConfig& config : bad) {
        config = good;
    }
    bad[0].baudRate = 9601;
    bad[1].baudRate = 110;
    bad[2].parityCode = 5;
    bad[3].parityCode = 9;
    bad[4].parityCode = 11;
    bad[5].stopBitCode = 0;
    bad[6].stopBitCode = 3;
    bad[7].portNumber = 0;
    bad[8].portNumber = 257;
    bad[9].portNumber = -1;
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(OpenPort(&bad[i]), 1) << "case " << i;
        EXPECT_EQ(PortTable[kPortA].portHandle, nullptr) << "case " << i;
    }
    // The device was never taken: the port opens as usual.
    ASSERT_EQ(OpenPort(&good), 0);
    EXPECT_EQ(ClosePort(kPortA), 0);
}

static HANDLE FailingCreator(LPTHREAD_START_ROUTINE, int16_t) {
    return nullptr;
}

static std::atomic<int> creations{0};
static HANDLE SecondCreationFails(LPTHREAD_START_ROUTINE routine, int16_t port) {
    if (++creations == 2) {
        return nullptr;
    }
    return CreateThread(nullptr, 0, routine, reinterpret_cast<LPVOID>(static_cast<intptr_t>(port)),
                        0, nullptr);
}

static void IgnoreBytes(int16_t, std::atomic<int16_t>*, std::atomic<int16_t>*, uint8_t*) {}

TEST(OpenAndClose, AThreadThatCannotStartLeavesNothingBehind) {
    PortThreadCreator platformCreator = createPortThread;
    PortConfig config = DirectConfig(kPortA);

    createPortThread = FailingCreator;
    Stopwatch clock;
    EXPECT_EQ(OpenPort(&config), 1);
    EXPECT_LT(clock.Ms(), 1000);
    EXPECT_EQ(PortTable[kPortA].portHandle, nullptr);
    EXPECT_EQ(PortTable[kPortA].writeEvent, nullptr);

    // Receive-thread mode: the monitor starts, the receive thread does not.
    createPortThread = SecondCreationFails;
    config.byteCallback = IgnoreBytes;
    EXPECT_EQ(OpenPort(&config), 1);
    EXPECT_EQ(creations, 2);
    EXPECT_EQ(PortTable[kPortA].portHandle, nullptr);
    EXPECT_EQ(PortTable[kPortA].monitorRunning, 0);
    EXPECT_EQ(PortTable[kPortA].monitorThread, nullptr);

    createPortThread = platformCreator;
    config.byteCallback = nullptr;
    ASSERT_EQ(OpenPort(&config), 0);
    EXPECT_EQ(ClosePort(kPortA), 0);
}

TEST(MonitorThread, TicksEveryFiftyMillisecondsWhileOpen) {
    PortConfig config = DirectConfig(kPortA);
    Stopwatch clock;
    ASSERT_EQ(OpenPort(&config), 0);
    EXPECT_LE(PortTable[kPortA].tickCount, 2u);
    Sleep(1000);
    uint32_t ticks = PortTable[kPortA].tickCount;
    double elapsed = clock.Ms();
    // Never faster than one tick per 50 ms; slower only under load.
    EXPECT_LE(ticks, elapsed / 50 + 1);
    EXPECT_GE(ticks, 1000 / 50 / 2);
    EXPECT_EQ(ClosePort(kPortA), 0);
    // The count keeps its last value once the thread has ended.
    uint32_t last = PortTable[kPortA].tickCount;
    Sleep(120);
    EXPECT_EQ(PortTable[kPortA].tickCount, last);
    EXPECT_GE(last, ticks);
}

TEST(MonitorThread, ClosePortReturnsWithinAboutOneTick) {
    PortConfig config = DirectConfig(kPortA);
    ASSERT_EQ(OpenPort(&config), 0);
    Sleep(120);
    Stopwatch clock;
    EXPECT_EQ(ClosePort(kPortA), 0);
    double elapsed = clock.Ms();
    EXPECT_GE(elapsed, 10); // DTR drops 10 ms before RTS
    EXPECT_LT(elapsed, 50 + 10 + 150);
}

static std::atomic<int> tickCalls{0};
static double tickSeconds[40];
static std::atomic<int16_t> tickTag{0};
static void RecordTick(int16_t tag, double seconds) {
    int call = tickCalls++;
    if (call < 40) {
        tickSeconds[call] = seconds;
    }
    tickTag = tag;
}

TEST(MonitorThread, TickCallbackGetsTheElapsedSeconds) {
    PortConfig config = DirectConfig(kPortA);
    config.tickCallback = RecordTick;
    config.callbackTag = 77;
    ASSERT_EQ(OpenPort(&config), 0);
    Stopwatch clock;
    while (tickCalls < 40 && clock.Ms() < 10000) {
        Sleep(20);
    }
    EXPECT_EQ(ClosePort(kPortA), 0);
    ASSERT_GE(tickCalls, 40);
    EXPECT_EQ(tickSeconds[0], 0.05);
    EXPECT_EQ(tickSeconds[19], 1.0);
    EXPECT_EQ(tickSeconds[39], 2.0);
    EXPECT_EQ(tickTag, 77);
}

TEST_F(DirectPortTest, ReadsACountOfBytesAlreadyWaiting) {
    PeerWrite(peer_, "OK");
    LetArrive();
    memset(buffer_, 'x', sizeof buffer_);
    EXPECT_EQ(ReadPort(kPortA, 2, 0, 0, buffer_, sizeof buffer_), 0);
    EXPECT_EQ(buffer_[0], 'O');
    EXPECT_EQ(buffer_[1], 'K');
    EXPECT_EQ(buffer_[2], 0);
    EXPECT_EQ(buffer_[3], 'x');
}

TEST_F(DirectPortTest, ReadsUpToTheTerminator) {
    PeerWrite(peer_, "Download ok.\nmore");
    EXPECT_EQ(ReadPort(kPortA, 0, '\n', 500, buffer_, sizeof buffer_), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer_), "Download ok.");
    // What follows the terminator stays for the next read.
    EXPECT_EQ(ReadPort(kPortA, 4, 0, 500, buffer_, sizeof buffer_), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer_), "more");
}

TEST_F(DirectPortTest, TimeOutZeroTakesOnlyWhatIsWaiting) {
    Stopwatch clock;
    EXPECT_EQ(ReadPort(kPortA, 1, 0, 0, buffer_, sizeof buffer_), 1);
    EXPECT_LT(clock.Ms(), 50);
    PeerWrite(peer_, "A");
    LetArrive();
    EXPECT_EQ(ReadPort(kPortA, 1, 0, 0, buffer_, sizeof buffer_), 0);
    EXPECT_EQ(buffer_[0], 'A');
}

TEST_F(DirectPortTest, TimesOutAfterTwoToThreeTicksOfSilenceFor100Ms) {
    for (int round = 0; round < 3; ++round) {
        Stopwatch clock;
        EXPECT_EQ(ReadPort(kPortA, 1, 0, 100, buffer_, sizeof buffer_), 1);
        double elapsed = clock.Ms();
        EXPECT_GE(elapsed, 100);
        EXPECT_LT(elapsed, 150 + 150);
    }
}

TEST_F(DirectPortTest, BytesThatTrickleInWithinTheTimeOutNeverTimeOut) {
    std::thread sender([this] {
        for (char c = 'a'; c < 'a' + 10; ++c) {
            Sleep(100);
            PeerWrite(peer_, std::string(1, c));
        }
    });
    Stopwatch clock;
    int16_t status = ReadPort(kPortA, 10, 0, 200, buffer_, sizeof buffer_);
    double elapsed = clock.Ms();
    sender.join();
    EXPECT_EQ(status, 0);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer_), "abcdefghij");
    EXPECT_GE(elapsed, 900); // far longer than the time-out itself
}

TEST_F(DirectPortTest, ATerminatorReadStopsAtItsBufferCapacity) {
    PeerWrite(peer_, "abcdefghij\r");
    uint8_t small[6];
    memset(buffer_, 'x', sizeof buffer_);
    EXPECT_EQ(ReadPort(kPortA, 0, '\r', 500, buffer_, 6), 2);
    EXPECT_EQ(buffer_[6], 'x'); // nothing past the capacity
    EXPECT_EQ(memcmp(buffer_, "abcde", 6), 0);
    // A count that cannot fit with its NUL is refused before reading.
    EXPECT_EQ(ReadPort(kPortA, 6, 0, 500, small, sizeof small), 1);
    EXPECT_EQ(ReadPort(kPortA, 5, 0, 500, small, sizeof small), 0);
}

TEST_F(DirectPortTest, WritesReachThePeerInCallOrder) {
    const uint8_t first[] = {0x14, 'a', 0x00};
    const uint8_t second[] = {0xFF, '\n'};
    EXPECT_EQ(WritePort(kPortA, first, 3), 0);
    EXPECT_EQ(WritePort(kPortA, second, 2), 0);
    EXPECT_EQ(PeerReadUntilQuiet(peer_, 200), std::string("\x14"
                                                          "a\0\xFF\n",
                                                          5));
}

TEST_F(DirectPortTest, DiscardInputReturnsOnlyAfterTheLineHasBeenSilent) {
    std::atomic<double> lastSentMs{0};
    Stopwatch clock;
    std::thread sender([&] {
        for (int i = 0; i < 12; ++i) {
            PeerWrite(peer_, "z");
            lastSentMs = clock.Ms();
            Sleep(50);
        }
    });
    Sleep(20);
    DiscardInput(kPortA, 200);
    double returned = clock.Ms();
    sender.join();
    EXPECT_GE(returned - lastSentMs, 200);
    EXPECT_LT(returned - lastSentMs, 250 + 200);
    EXPECT_EQ(ReadPort(kPortA, 1, 0, 0, buffer_, sizeof buffer_), 1); // all dropped
}

TEST_F(DirectPortTest, DiscardInputGivesUpOnALineThatNeverFallsSilent) {
    std::atomic<bool> talking{true};
    std::thread talker([&] {
        while (talking) {
            PeerWrite(peer_, "$GPGSV,3,1,11*70\r\n");
            Sleep(20);
        }
    });
    Stopwatch clock;
    EXPECT_EQ(DiscardInput(kPortA, 200), 1);
    const double ms = clock.Ms();
    talking = false;
    talker.join();
    // The discard's own time and its overrun, or a thousand bytes first.
    EXPECT_GE(ms, 200);
    EXPECT_LT(ms, 200 + kDiscardOverrunMs + 500);
    DiscardInput(kPortA, 100);
    EXPECT_EQ(DiscardInput(kPortA, 100), 0); // a silent line
}

TEST_F(DirectPortTest, OperationsOnAPortNotOpenDoNothing) {
    uint8_t byte = 'q';
    EXPECT_EQ(WritePort(kPortB, &byte, 1), 1); // nothing written
    EXPECT_EQ(ReadPort(kPortB, 1, 0, 100, buffer_, sizeof buffer_), 1);
    DiscardInput(kPortB, 100);
    CloseTrace(kPortB);
    EXPECT_EQ(OpenTrace(kPortB, TempPath("never.trc").c_str()), 1);
    EXPECT_EQ(ReadPort(257, 1, 0, 0, buffer_, sizeof buffer_), 1);
}

// Another thread cuts a port's transfers short (a station's Ctrl+C): a
// long read gives up at once, nothing more is written, and the next
// opening of the port is a fresh one.
TEST_F(DirectPortTest, AnInterruptedPortEndsItsTransfersUntilItIsClosed) {
    // The clock starts before the interrupter can run: the read cannot end
    // before its 300 ms have passed, however the threads are scheduled.
    Stopwatch clock;
    std::atomic<double> interruptedAtMs{-1};
    std::thread interrupter([&clock, &interruptedAtMs] {
        Sleep(300);
        interruptedAtMs = clock.Ms();
        InterruptPort(kPortA);
    });
    EXPECT_EQ(ReadPort(kPortA, 1, 0, 5000, buffer_, sizeof buffer_), 1);
    const double ms = clock.Ms();
    interrupter.join();
    EXPECT_GE(ms, 300);
    EXPECT_LT(ms - interruptedAtMs, 50 + 1000);
    EXPECT_TRUE(PortInterrupted(kPortA));
    EXPECT_EQ(AwaitInput(kPortA, 5000), 1);
    EXPECT_EQ(WritePort(kPortA, reinterpret_cast<const uint8_t*>("x"), 1), 1);
    EXPECT_EQ(PeerReadUntilQuiet(peer_, 200), "");
    ClosePort(kPortA);
    EXPECT_FALSE(PortInterrupted(kPortA));
    PortConfig config = DirectConfig(kPortA);
    ASSERT_EQ(OpenPort(&config), 0);
    EXPECT_EQ(WritePort(kPortA, reinterpret_cast<const uint8_t*>("y"), 1), 0);
    EXPECT_EQ(PeerReadCount(peer_, 1, 2000), "y");
}

// A watch of several silent ports (a run that finds the module on any
// port) ends within some 50 ms of an interruption of any of them.
TEST_F(DirectPortTest, AWatchOfSeveralPortsEndsOnAnInterruption) {
    PortConfig config = DirectConfig(kPortB);
    ASSERT_EQ(OpenPort(&config), 0);
    const int16_t ports[] = {kPortA, kPortB};
    ASSERT_EQ(SetWatchReadWait(kPortA, true), 0);
    ASSERT_EQ(SetWatchReadWait(kPortB, true), 0);
    Stopwatch clock;
    std::atomic<double> interruptedAtMs{-1};
    std::thread interrupter([&clock, &interruptedAtMs] {
        Sleep(300);
        interruptedAtMs = clock.Ms();
        InterruptPort(kPortB);
    });
    int32_t got = 0;
    int16_t first = 0;
    EXPECT_EQ(AwaitPortBytes(ports, 2, 10000, buffer_, sizeof buffer_, &got, &first),
              kAwaitInterrupted);
    const double ms = clock.Ms();
    interrupter.join();
    EXPECT_GE(ms, 300);
    EXPECT_LT(ms - interruptedAtMs, 50 + 1000);
    EXPECT_EQ(got, 0);
    ClosePort(kPortB);
}

TEST_F(DirectPortTest, TraceRecordsEveryByteWithItsDirection) {
    std::string path = TempPath("direct.trc");
    ASSERT_EQ(OpenTrace(kPortA, path.c_str()), 0);
    const uint8_t sent[] = {'A', 'B', 'C'};
    WritePort(kPortA, sent, 3);
    WritePort(kPortA, sent, 0); // sends and traces nothing
    PeerWrite(peer_, "xy");
    EXPECT_EQ(ReadPort(kPortA, 2, 0, 500, buffer_, sizeof buffer_), 0);
    EXPECT_EQ(ClosePort(kPortA), 0); // closes the trace
    EXPECT_EQ(ReadWholeFile(path), std::string("A\2B\2C\2x\1y\1", 10));
    EXPECT_EQ(PeerReadUntilQuiet(peer_, 100), "ABC");
    DeleteFileA(path.c_str());
}

TEST(WakeUpParity, SendsOneZeroByteWaitsAndSettlesAtSpaceParity) {
    HANDLE peer = OpenPeer(kPeerA);
    ASSERT_NE(peer, INVALID_HANDLE_VALUE);
    // The far end answers the wake-up byte; the answer is read and dropped.
    std::thread answer([peer] {
        if (PeerReadCount(peer, 1, 2000).size() == 1) {
            PeerWrite(peer, "W");
        }
    });
    PortConfig config = DirectConfig(kPortA);
    config.parityCode = 10;
    Stopwatch clock;
    ASSERT_EQ(OpenPort(&config), 0);
    answer.join();
    uint8_t buffer[4];
    EXPECT_EQ(ReadPort(kPortA, 1, 0, 0, buffer, sizeof buffer), 1);
    EXPECT_EQ(PortTable[kPortA].lineSettings.Parity, SPACEPARITY);
    EXPECT_EQ(ClosePort(kPortA), 0);

    // Without an answer the read gives up after its 100 ms.
    clock = Stopwatch();
    ASSERT_EQ(OpenPort(&config), 0);
    EXPECT_GE(clock.Ms(), 100);
    EXPECT_EQ(ClosePort(kPortA), 0);
    EXPECT_EQ(PeerReadUntilQuiet(peer, 200), std::string(1, '\0'));
    CloseHandle(peer);
}
