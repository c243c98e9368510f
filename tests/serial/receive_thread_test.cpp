// The serial layer in receive-thread mode on a real null-modem pair: the
// receive thread fills the ring, the transfers are served from it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "port_table.h"
#include "receive_thread.h"
#include "support/peer_port.h"

namespace {

std::atomic<int> callbackCalls{0};
std::atomic<int16_t> callbackTag{0};
std::atomic<bool> callbackTakes{false};
char taken[64];
std::atomic<int> takenCount{0};
// The stream check: the callback takes each byte and compares it with the
// pattern of seed 9 (below) at its place.
std::atomic<bool> callbackChecks{false};
std::atomic<int> checkedCount{0};
std::atomic<bool> checkFailed{false};

// The byte callback of the tests: counts its calls and, when asked to, takes
// each byte out of the ring itself.
void OnByte(int16_t tag, std::atomic<int16_t>* readIndex, std::atomic<int16_t>* writeIndex,
            uint8_t* data) {
    callbackTag = tag;
    ++callbackCalls;
    while (callbackChecks && *readIndex != *writeIndex) {
        const int at = checkedCount;
        if (data[*readIndex] != static_cast<uint8_t>((at * 7 + 9) & 0xFF)) {
            checkFailed = true;
        }
        checkedCount = at + 1;
        *readIndex = static_cast<int16_t>((*readIndex + 1) % kRingSize);
    }
    while (callbackTakes && *readIndex != *writeIndex) {
        int count = takenCount;
        if (count < static_cast<int>(sizeof taken)) {
            taken[count] = static_cast<char>(data[*readIndex]);
            takenCount = count + 1;
        }
        *readIndex = static_cast<int16_t>((*readIndex + 1) % kRingSize);
    }
}

PortConfig ReceiveConfig(int16_t port) {
    PortConfig config = ModuleLineConfig(port, OnByte);
    config.callbackTag = 5;
    return config;
}

class ReceiveThreadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PortConfig config = ReceiveConfig(kPortA);
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
    ReceiveRing& Ring() {
        return PortTable[kPortA].buffers->ring;
    }
    // Waits until the ring has taken in total bytes since the port opened
    // (counting wraps of the write index by hand).
    bool AwaitWriteIndex(int16_t index, int timeoutMs = 5000) {
        Stopwatch clock;
        while (Ring().writeIndex != index && clock.Ms() < timeoutMs) {
            Sleep(1);
        }
        return Ring().writeIndex == index;
    }
    HANDLE peer_ = INVALID_HANDLE_VALUE;
    uint8_t buffer_[64];
};

std::string Pattern(size_t length, int seed) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    }
    return bytes;
}

} // namespace

TEST(ReceiveThreadMode, OpensWithARunningThreadAndAnEmptyRing) {
    PortConfig config = ReceiveConfig(kPortA);
    ASSERT_EQ(OpenPort(&config), 0);
    PortSlot& slot = PortTable[kPortA];
    EXPECT_EQ(slot.directMode, 0);
    EXPECT_EQ(slot.receiveRunning, 1);
    EXPECT_EQ(slot.monitorRunning, 1);
    EXPECT_EQ(slot.buffers->ring.readIndex, 0);
    EXPECT_EQ(slot.buffers->ring.writeIndex, 0);
    HANDLE thread = slot.receiveThread;
    ASSERT_NE(thread, nullptr);
    HANDLE copy;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    Sleep(600); // let the thread sit in a pending read that runs out at least once
    Stopwatch clock;
    EXPECT_EQ(ClosePort(kPortA), 0);
    EXPECT_LT(clock.Ms(), 510 + 300);
    // The thread has cleared the hand-shake flag; it ends right after.
    EXPECT_EQ(WaitForSingleObject(copy, 1000), WAIT_OBJECT_0);
    CloseHandle(copy);
    EXPECT_EQ(slot.receiveThread, nullptr);
    EXPECT_EQ(slot.portHandle, nullptr);
    // ... and the port opens again.
    ASSERT_EQ(OpenPort(&config), 0);
    EXPECT_EQ(ClosePort(kPortA), 0);
}

TEST_F(ReceiveThreadTest, BytesReceivedWhileNobodyReadsComeOutInArrivalOrder) {
    const std::string sent = Pattern(300, 3);
    PeerWrite(peer_, sent);
    ASSERT_TRUE(AwaitWriteIndex(300));
    EXPECT_EQ(Ring().readIndex, 0);
    EXPECT_GE(callbackCalls, 300);
    EXPECT_EQ(callbackTag, 5);
    std::string received;
    while (ReadPort(kPortA, 1, 0, 0, buffer_, sizeof buffer_) == 0) {
        received.push_back(static_cast<char>(buffer_[0]));
    }
    EXPECT_EQ(received, sent);
}

TEST_F(ReceiveThreadTest, IndicesWrapFrom7999ToZero) {
    const std::string first = Pattern(7990, 1);
    PeerWrite(peer_, first);
    ASSERT_TRUE(AwaitWriteIndex(7990));
    DiscardInput(kPortA, 0);
    ASSERT_EQ(Ring().readIndex, 7990);

    PeerWrite(peer_, "0123456789ABCDEF");
    ASSERT_TRUE(AwaitWriteIndex(6)); // 7990 + 16 - 8000
    EXPECT_EQ(ReadPort(kPortA, 16, 0, 0, buffer_, sizeof buffer_), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer_), "0123456789ABCDEF");
    EXPECT_EQ(Ring().readIndex, 6);
}

// Closes the overflow box when it comes up; reports whether it did.
static bool CloseOverflowBox(int timeoutMs) {
    Stopwatch clock;
    while (clock.Ms() < timeoutMs) {
        HWND box = FindWindowA("#32770", "RS232-ERROR");
        if (box != nullptr) {
            char text[64] = "";
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text); // the box's message static
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            return strcmp(text, "BUFFER-OVERFLOW") == 0 || text[0] == 0;
        }
        Sleep(10);
    }
    return false;
}

TEST_F(ReceiveThreadTest, ByteIntoAFullRingShowsTheOverflowBoxAndEmptiesIt) {
    PeerWrite(peer_, Pattern(7999, 2));
    ASSERT_TRUE(AwaitWriteIndex(7999));
    EXPECT_EQ(RingFreeCells(&Ring()), 0);
    EXPECT_EQ(FindWindowA("#32770", "RS232-ERROR"), nullptr);

    PeerWrite(peer_, "!");
    EXPECT_TRUE(CloseOverflowBox(5000));
    // The unread bytes and the new one are dropped: the reader is moved up
    // to the writer.
    Stopwatch clock;
    while (Ring().readIndex != 7999 && clock.Ms() < 5000) {
        Sleep(10);
    }
    EXPECT_EQ(Ring().writeIndex, 7999);
    EXPECT_EQ(ReadPort(kPortA, 1, 0, 0, buffer_, sizeof buffer_), 1); // reads empty

    PeerWrite(peer_, "after"); // and reception goes on
    EXPECT_EQ(ReadPort(kPortA, 5, 0, 1000, buffer_, sizeof buffer_), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer_), "after");
}

// Finds the overflow box without closing it.
static HWND AwaitOverflowBox(int timeoutMs) {
    Stopwatch clock;
    HWND box = nullptr;
    while (box == nullptr && clock.Ms() < timeoutMs) {
        box = FindWindowA("#32770", "RS232-ERROR");
        Sleep(10);
    }
    return box;
}

TEST_F(ReceiveThreadTest, BytesTakenWhileTheOverflowBoxStandsMakeRoomAndNothingIsLost) {
    const std::string first = Pattern(7999, 3);
    PeerWrite(peer_, first);
    ASSERT_TRUE(AwaitWriteIndex(7999));
    PeerWrite(peer_, "!");
    HWND box = AwaitOverflowBox(5000);
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(ReadPort(kPortA, 50, 0, 0, buffer_, sizeof buffer_), 0);
    EXPECT_EQ(memcmp(buffer_, first.data(), 50), 0);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    // The byte goes in after the unread ones; the ring never reads past them.
    ASSERT_TRUE(AwaitWriteIndex(0));
    EXPECT_EQ(Ring().readIndex, 50);
    EXPECT_EQ(RingFreeCells(&Ring()), 50 - 1);
    DiscardInput(kPortA, 0);
    PeerWrite(peer_, "after");
    EXPECT_EQ(ReadPort(kPortA, 5, 0, 1000, buffer_, sizeof buffer_), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer_), "after");
}

TEST_F(ReceiveThreadTest, ReadWithTimeOutZeroOnAnEmptyRingReturnsAtOnce) {
    Stopwatch clock;
    EXPECT_EQ(ReadPort(kPortA, 1, 0, 0, buffer_, sizeof buffer_), 1);
    EXPECT_LT(clock.Ms(), 50);
}

TEST_F(ReceiveThreadTest, ReadTimesOutWhenNothingComesAndTakesAByteThatDoes) {
    Stopwatch clock;
    EXPECT_EQ(ReadPort(kPortA, 1, 0, 200, buffer_, sizeof buffer_), 1);
    double elapsed = clock.Ms();
    EXPECT_GE(elapsed, 199); // the wait's own clock may round a little down
    EXPECT_LT(elapsed, 200 + 200);

    std::thread sender([this] {
        Sleep(100);
        PeerWrite(peer_, "K");
    });
    clock = Stopwatch();
    EXPECT_EQ(ReadPort(kPortA, 1, 0, 2000, buffer_, sizeof buffer_), 0);
    elapsed = clock.Ms();
    sender.join();
    EXPECT_EQ(buffer_[0], 'K');
    EXPECT_GE(elapsed, 90);
    EXPECT_LT(elapsed, 100 + 400);
}

TEST_F(ReceiveThreadTest, ReadUpToATerminatorAcrossSeveralArrivals) {
    std::thread sender([this] {
        PeerWrite(peer_, "Download");
        Sleep(100);
        PeerWrite(peer_, " ok.\nrest");
    });
    EXPECT_EQ(ReadPort(kPortA, 0, '\n', 500, buffer_, sizeof buffer_), 0);
    sender.join();
    EXPECT_STREQ(reinterpret_cast<char*>(buffer_), "Download ok.");
    EXPECT_EQ(ReadPort(kPortA, 4, 0, 500, buffer_, sizeof buffer_), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer_), "rest");
}

// The wake-up of a byte must outlast the moment it is given: a reader that
// has cleared the event, found the ring empty and only then starts to wait
// must still be woken by a byte stored in between. So after a byte the event
// stays set until a reader clears it (a pulse would be gone by then).
TEST_F(ReceiveThreadTest, TheWakeUpOfAByteWaitsForALateReader) {
    HANDLE event = PortTable[kPortA].dataArrivedEvent;
    ResetEvent(event);
    PeerWrite(peer_, "w");
    ASSERT_TRUE(AwaitWriteIndex(1));
    Sleep(20);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(ReadPort(kPortA, 1, 0, 100, buffer_, sizeof buffer_), 0);
    EXPECT_EQ(buffer_[0], 'w');
}

// A byte stored between the reader's look at the empty ring and its wait must
// end the wait at once. Many rounds with the byte sent at slightly different
// moments: a lost wake-up shows as a read that runs into its time-out.
TEST_F(ReceiveThreadTest, AReaderNeverSleepsThroughAByteAlreadyInTheRing) {
    int late = 0;
    for (int round = 0; round < 300; ++round) {
        std::thread sender([this, round] {
            for (volatile int spin = 0; spin < (round % 30) * 2000; ++spin) {
            }
            PeerWrite(peer_, "x");
        });
        Stopwatch clock;
        int16_t status = ReadPort(kPortA, 1, 0, 3000, buffer_, sizeof buffer_);
        double elapsed = clock.Ms();
        sender.join();
        ASSERT_EQ(status, 0) << "round " << round;
        if (elapsed > 1000) {
            ++late;
        }
    }
    EXPECT_EQ(late, 0);
}

TEST_F(ReceiveThreadTest, DiscardInputSleepsThenEmptiesTheRing) {
    PeerWrite(peer_, "stale bytes");
    ASSERT_TRUE(AwaitWriteIndex(11));
    Stopwatch clock;
    DiscardInput(kPortA, 200);
    double elapsed = clock.Ms();
    EXPECT_GE(elapsed, 199);
    EXPECT_LT(elapsed, 200 + 200);
    EXPECT_TRUE(RingIsEmpty(&Ring()));
    EXPECT_EQ(ReadPort(kPortA, 1, 0, 0, buffer_, sizeof buffer_), 1);
}

TEST_F(ReceiveThreadTest, WritesLeaveInCallOrderAndOwnTheirBytes) {
    std::string expected;
    for (int i = 0; i < 200; ++i) {
        uint8_t bytes[3] = {static_cast<uint8_t>('a' + i % 26), static_cast<uint8_t>(i), '|'};
        WritePort(kPortA, bytes, 3);
        expected.append(reinterpret_cast<char*>(bytes), 3);
        memset(bytes, 0xEE, sizeof bytes); // the caller's buffer goes away at once
    }
    EXPECT_EQ(PeerReadUntilQuiet(peer_, 300), expected);
}

TEST_F(ReceiveThreadTest, TheByteCallbackMayTakeTheBytesItself) {
    callbackTakes = true;
    PeerWrite(peer_, "taken");
    Stopwatch clock;
    while (takenCount < 5 && clock.Ms() < 2000) {
        Sleep(5);
    }
    callbackTakes = false;
    EXPECT_EQ(std::string(taken, takenCount), "taken");
    EXPECT_TRUE(RingIsEmpty(&Ring()));
}

TEST_F(ReceiveThreadTest, TraceHoldsReceivedAndSentBytes) {
    std::string path = TempPath("receive.trc");
    ASSERT_EQ(OpenTrace(kPortA, path.c_str()), 0);
    const uint8_t sent[] = {'A', 'B', 'C'};
    WritePort(kPortA, sent, 3);
    EXPECT_EQ(PeerReadCount(peer_, 3, 2000), "ABC");
    PeerWrite(peer_, "xy");
    EXPECT_EQ(ReadPort(kPortA, 2, 0, 1000, buffer_, sizeof buffer_), 0);
    EXPECT_EQ(ClosePort(kPortA), 0);
    std::ifstream file(path, std::ios::binary);
    std::string records((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(records, std::string("A\2B\2C\2x\1y\1", 10));
    file.close();
    DeleteFileA(path.c_str());
}

TEST_F(ReceiveThreadTest, KeepsUpWithAFastSender) {
    // 40,000 bytes through the ring, taken and checked by the byte callback
    // on the receive thread itself: a measure of what the receive thread
    // manages under this platform, whatever the test's own thread gets of
    // a loaded machine (a reader held back for 8,000 bytes' time would fill
    // the ring, and its overflow box would stop the thread).
    const std::string sent = Pattern(40000, 9);
    callbackChecks = true;
    std::thread sender([this, &sent] { PeerWrite(peer_, sent); });
    Stopwatch clock;
    while (checkedCount < static_cast<int>(sent.size()) && clock.Ms() < 20000) {
        Sleep(5);
    }
    const double elapsed = clock.Ms();
    sender.join();
    EXPECT_EQ(checkedCount, static_cast<int>(sent.size()));
    EXPECT_FALSE(checkFailed);
    RecordProperty("bytes_per_second", static_cast<int>(sent.size() / (elapsed / 1000)));
    printf("received %d bytes in %.0f ms\n", checkedCount.load(), elapsed);
}

TEST_F(ReceiveThreadTest, ClosingThePortEndsAnOverflowBoxNobodyAnswers) {
    PeerWrite(peer_, Pattern(7999, 4));
    ASSERT_TRUE(AwaitWriteIndex(7999));
    PeerWrite(peer_, "!");
    ASSERT_NE(AwaitOverflowBox(5000), nullptr);
    Stopwatch clock;
    EXPECT_EQ(ClosePort(kPortA), 0);
    // The thread is given its second, then its box is closed for it.
    EXPECT_LT(clock.Ms(), 1000 + 1000 + 1000);
    EXPECT_EQ(FindWindowA("#32770", "RS232-ERROR"), nullptr);
    EXPECT_EQ(PortTable[kPortA].portHandle, nullptr);
}
