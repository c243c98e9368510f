// Logic of the serial layer that a pty pair cannot exercise: carrier
// debounce, line-code translation, the read buffer bound, the ring store and
// the wire time of written bytes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <cstring>
#include <vector>

#include "device_io.h"
#include "monitor_thread.h"
#include "line_settings.h"
#include "read_port.h"
#include "port_list.h"
#include "receive_thread.h"
#include "support/peer_port.h"
#include "wait_hook.h"

// Feeds the samples after the first and returns the indices (counting the
// first sample as 0) at which a lost line is reported.
static std::vector<int> LostAt(std::vector<bool> samples) {
    CarrierDebounce state;
    StartCarrierDebounce(&state, samples[0]);
    std::vector<int> reports;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (SampleCarrier(&state, samples[i])) {
            reports.push_back(static_cast<int>(i));
        }
    }
    return reports;
}

TEST(CarrierDebounce, ReportsALastingDropOnceOnItsSecondOffSample) {
    EXPECT_EQ(LostAt({true, true, false, false}), std::vector<int>{3});
    EXPECT_EQ(LostAt({true, false, false, false, false, false}), std::vector<int>{2});
}

TEST(CarrierDebounce, IgnoresADropOfOneSample) {
    EXPECT_TRUE(LostAt({true, false, true, true, true}).empty());
}

TEST(CarrierDebounce, IgnoresACarrierThatIsOffFromTheStart) {
    EXPECT_TRUE(LostAt({false, false, false, false}).empty());
    // ... until it has come on and dropped again.
    EXPECT_EQ(LostAt({false, false, true, false, false}), std::vector<int>{4});
}

TEST(CarrierDebounce, ReportsEachSeparateDrop) {
    EXPECT_EQ(LostAt({true, false, false, true, false, false}), (std::vector<int>{2, 5}));
    // A short drop right before a lasting one: the lasting one still counts.
    EXPECT_EQ(LostAt({true, false, true, false, false}), std::vector<int>{4});
}

TEST(TickSeconds, CountsFiftyMillisecondsPerTick) {
    EXPECT_EQ(TickSeconds(1), 0.05);
    EXPECT_EQ(TickSeconds(20), 1.0);
    EXPECT_EQ(TickSeconds(40), 2.0);
}

static PortConfig Config(int32_t baud, int16_t parity, int16_t stop) {
    PortConfig config = {1, baud, parity, 8, stop, 1, 0, nullptr, nullptr, nullptr, 1, 0};
    return config;
}

static int16_t Translate(PortConfig config, BYTE* parity, BYTE* stop) {
    return TranslateLineCodes(&config, parity, stop);
}

TEST(LineCodes, TranslatesEveryDefinedCode) {
    BYTE parity = 0xEE, stop = 0xEE;
    const int32_t rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (int32_t rate : rates) {
        EXPECT_EQ(Translate(Config(rate, 0, 1), &parity, &stop), 0) << rate;
    }
    const int16_t codes[] = {0, 1, 2, 3, 4, 10};
    const BYTE expected[] = {NOPARITY, EVENPARITY, ODDPARITY, SPACEPARITY, MARKPARITY, MARKPARITY};
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(Translate(Config(9600, codes[i], 2), &parity, &stop), 0);
        EXPECT_EQ(parity, expected[i]) << codes[i];
        EXPECT_EQ(stop, TWOSTOPBITS);
    }
}

TEST(LineCodes, RefusesCodesWithoutALineSetting) {
    BYTE parity, stop;
    EXPECT_EQ(Translate(Config(9601, 0, 1), &parity, &stop), 1);
    EXPECT_EQ(Translate(Config(0, 0, 1), &parity, &stop), 1);
    for (int16_t code : {5, 9, 11, -1}) {
        EXPECT_EQ(Translate(Config(9600, code, 1), &parity, &stop), 1) << code;
    }
    for (int16_t code : {0, 3, -1}) {
        EXPECT_EQ(Translate(Config(9600, 0, code), &parity, &stop), 1) << code;
    }
}

TEST(LineSettings, ChangesOnlyTheListedFields) {
    DCB dcb;
    memset(&dcb, 0xFF, sizeof dcb);
    PortConfig config = Config(9600, 0, 1);
    ApplyLineSettings(&dcb, &config, NOPARITY, ONESTOPBIT);
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.fParity, 0u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fOutxCtsFlow | dcb.fOutxDsrFlow | dcb.fDsrSensitivity, 0u);
    EXPECT_EQ(dcb.fOutX | dcb.fInX | dcb.fTXContinueOnXoff | dcb.fErrorChar, 0u);
    EXPECT_EQ(dcb.XonChar, 17);
    EXPECT_EQ(dcb.XoffChar, 19);
    EXPECT_EQ(dcb.XonLim | dcb.XoffLim | dcb.EvtChar, 0);
    // A port left stopping on line errors is made to carry on.
    EXPECT_EQ(dcb.fAbortOnError, 0u);
    // Left as the device reported them.
    EXPECT_EQ(dcb.fBinary & dcb.fNull, 1u);
    EXPECT_EQ(static_cast<uint8_t>(dcb.ErrorChar), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(dcb.EofChar), 0xFF);

    config.dtrOn = 2; // only 1 means on
    config.rtsOn = 1;
    config.parityCheck = 1;
    config.dataBits = 0x0107; // the low byte is the byte size
    ApplyLineSettings(&dcb, &config, EVENPARITY, TWOSTOPBITS);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.ByteSize, 7);
}

// Feeds text into a read of the given shape; returns the last step.
static ReadStep Feed(ReadTarget* target, const char* text) {
    ReadStep step = kReadGoOn;
    for (const char* p = text; *p != 0 && step == kReadGoOn; ++p) {
        step = StoreReadByte(target, static_cast<uint8_t>(*p));
    }
    return step;
}

TEST(ReadBuffer, TerminatorReadStopsAtTheTerminatorWithoutStoringIt) {
    uint8_t buffer[32];
    ReadTarget target = {buffer, sizeof buffer, 0, '\n', 0};
    EXPECT_EQ(Feed(&target, "Download ok.\nrest"), kReadDone);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "Download ok.");
}

TEST(ReadBuffer, TerminatorReadNeverWritesPastItsCapacity) {
    uint8_t buffer[8];
    memset(buffer, 'x', sizeof buffer);
    ReadTarget fits = {buffer, 6, 0, '\r', 0};
    EXPECT_EQ(Feed(&fits, "abcde\r"), kReadDone); // five bytes and the NUL fill six
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "abcde");

    memset(buffer, 'x', sizeof buffer);
    ReadTarget overlong = {buffer, 6, 0, '\r', 0};
    EXPECT_EQ(Feed(&overlong, "abcdef\r"), kReadFull);
    EXPECT_EQ(overlong.stored, 5);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "abcde");
    EXPECT_EQ(buffer[6], 'x');
}

TEST(ReadBuffer, CountReadClosesAfterCountBytes) {
    uint8_t buffer[4] = {9, 9, 9, 9};
    ReadTarget target = {buffer, sizeof buffer, 2, 0, 0};
    EXPECT_EQ(StoreReadByte(&target, 0), kReadGoOn); // in count mode 0 is data
    EXPECT_EQ(StoreReadByte(&target, 'K'), kReadDone);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], 'K');
    EXPECT_EQ(buffer[2], 0);
    EXPECT_EQ(buffer[3], 9);
}

class RingStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ring_.readIndex = 0;
        ring_.writeIndex = 0;
        memset(ring_.data, 0, sizeof ring_.data);
    }
    void Place(int16_t readIndex, int16_t writeIndex) {
        ring_.readIndex = readIndex;
        ring_.writeIndex = writeIndex;
    }
    std::string TakeAll() {
        std::string bytes;
        uint8_t byte;
        while (RingTake(&ring_, &byte)) {
            bytes.push_back(static_cast<char>(byte));
        }
        return bytes;
    }
    ReceiveRing ring_;
};

TEST_F(RingStoreTest, KeepsBytesInArrivalOrderAndFramesMarkedOnes) {
    RingStore(&ring_, 'a', false);
    RingStore(&ring_, 'b', true);
    RingStore(&ring_, 'c', false);
    EXPECT_EQ(RingFreeCells(&ring_), kRingSize - 1 - 5);
    EXPECT_EQ(TakeAll(), "a{b}c");
    EXPECT_TRUE(RingIsEmpty(&ring_));
}

TEST_F(RingStoreTest, IndicesWrapFrom7999ToZero) {
    Place(7998, 7998);
    RingStore(&ring_, '1', false);
    RingStore(&ring_, '2', false);
    EXPECT_EQ(ring_.writeIndex, 0);
    RingStore(&ring_, '3', true);
    EXPECT_EQ(ring_.writeIndex, 3);
    EXPECT_EQ(TakeAll(), "12{3}");
    EXPECT_EQ(ring_.readIndex, 3);
}

TEST_F(RingStoreTest, CountsAsFullWithOneCellLeft) {
    Place(100, 99); // 7999 unread
    EXPECT_EQ(RingFreeCells(&ring_), 0);
    Place(0, 7999);
    EXPECT_EQ(RingFreeCells(&ring_), 0);
    Place(0, 7998);
    EXPECT_EQ(RingFreeCells(&ring_), 1);
}

TEST_F(RingStoreTest, AByteIntoAFullRingLeavesItEmpty) {
    Place(0, 7999);
    RingStore(&ring_, 'x', false);
    EXPECT_TRUE(RingIsEmpty(&ring_));
    RingStore(&ring_, 'y', false); // and the ring goes on working
    EXPECT_EQ(TakeAll(), "y");
}

TEST_F(RingStoreTest, AMarkedByteWithoutRoomForItsThreeCellsLeavesNoHalfMark) {
    for (int16_t free = 0; free < 3; ++free) {
        Place(10, static_cast<int16_t>((10 + 7999 - free) % kRingSize));
        ASSERT_EQ(RingFreeCells(&ring_), free);
        RingStore(&ring_, 'x', true);
        EXPECT_TRUE(RingIsEmpty(&ring_)) << "free cells: " << free;
        RingStore(&ring_, 'y', true);
        EXPECT_EQ(TakeAll(), "{y}") << "free cells: " << free;
    }
    Place(10, 6); // exactly three cells free: stored whole
    RingStore(&ring_, 'x', true);
    EXPECT_EQ(RingFreeCells(&ring_), 0);
}

// A writer that fills the ring faster than its reader empties it, so that
// it drops the unread bytes again and again while the reader takes. Each
// byte carries the parity of the drops so far (bit 7) and its place since
// the last drop (bits 0 to 6, counting on from 0 modulo 128): the reader
// must see, after each byte, either the next place of the same period, or
// the first place of a period. A take that a drop overtook would read on
// into the cells of an earlier period, and would leave the ring reading full
// of them right after the drop.
TEST(RingUnderStress, ADropNeverLetsTheReaderTakeStaleCells) {
    static ReceiveRing ring;
    ring.readIndex = 0;
    ring.writeIndex = 0;
    std::atomic<bool> writing{true};
    std::atomic<long> drops{0};
    long stale = 0;
    long taken = 0;
    long overtaken = 0;
    std::thread reader([&] {
        int last = -1;
        uint8_t byte = 0;
        while (writing || !RingIsEmpty(&ring)) {
            for (int burst = 0; burst < 64 && RingTake(&ring, &byte); ++burst) {
                ++taken;
                // Two drops between takes bring the same period again, from
                // its first place.
                const bool samePeriod = last >= 0 && (byte & 0x80) == (last & 0x80);
                const int place = byte & 0x7F;
                if (place != 0 && (!samePeriod || place != ((last & 0x7F) + 1) % 128)) {
                    ++stale;
                }
                last = byte;
            }
            for (volatile int pause = 0; pause < 200; ++pause) {
            }
        }
    });
    uint8_t period = 0;
    uint8_t place = 0;
    // Until enough drops have been made: how many a second depends on how
    // the two threads share the machine.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    while (drops < 1500 && std::chrono::steady_clock::now() < end) {
        for (int i = 0; i < 1000; ++i) {
            if (RingStore(&ring, static_cast<uint8_t>(period | place), false)) {
                place = (place + 1) & 0x7F;
            } else {
                ++drops;
                period ^= 0x80;
                place = 0;
                // Until the writer stores again the ring reads empty,
                // whatever a take under way at the drop does.
                for (volatile int settle = 0; settle < 300; ++settle) {
                }
                if (RingFreeCells(&ring) != kRingSize - 1) {
                    ++overtaken;
                }
            }
        }
    }
    writing = false;
    reader.join();
    EXPECT_GE(drops, 200);
    EXPECT_GT(taken, 10000);
    EXPECT_EQ(overtaken, 0) << "in " << drops << " drops";
    EXPECT_EQ(stale, 0) << "in " << drops << " drops";
}

TEST(PortNames, OnlyComAndANumberFrom1To256NameAPort) {
    auto number = [](const char* name) { return PortNumberOfName(name, strlen(name) + 1); };
    EXPECT_EQ(number("COM1"), 1);
    EXPECT_EQ(number("COM12"), 12);
    EXPECT_EQ(number("com200"), 200);
    EXPECT_EQ(number("COM256"), 256);
    for (const char* other :
         {"COM", "COM0", "COM012", "COM257", "COM1000", "COM1X", "CNCA0", "LPT1", "COM 3", ""}) {
        EXPECT_EQ(number(other), 0) << other;
    }
    EXPECT_EQ(PortNumberOfName("COM37", 5), 37); // data without its terminator
    EXPECT_EQ(PortNumberOfName("COM37", 4), 3);
}

// Microseconds that count characters take at 9600 baud, 10 bits each.
static int64_t WireUs(int32_t count) {
    return static_cast<int64_t>(count) * 10 * 1000000 / 9600;
}

TEST(WireTime, WrittenBytesLeaveTheWireTheirTimeAfterTheWriteStarted) {
    // A USB adapter takes the first block's 192 characters at once.
    EXPECT_EQ(LineFreeAfterWrite(0, 1000, 1500, 192, 9600), 1000 + WireUs(192));
    // An on-board UART ends a write of 256 only once they have gone: they
    // are not counted a second time from the end of the write.
    const int64_t end = 1000 + WireUs(256);
    EXPECT_EQ(LineFreeAfterWrite(0, 1000, end, 256, 9600), end);
    // Bytes written while earlier ones are still on the wire follow them.
    EXPECT_EQ(LineFreeAfterWrite(100000, 1000, 2000, 2, 9600), 100000 + WireUs(2));
}

TEST(WireTime, NoDeviceIsAheadOfTheWireByMoreThanItsBuffer) {
    const int64_t now = 5000000;
    EXPECT_EQ(LineFreeAfterWrite(now + 10000000, now, now, 256, 9600),
              now + WireUs(kLargestDeviceBuffer));
    // An unknown rate counts as 1200 baud.
    EXPECT_EQ(LineFreeAfterWrite(0, 0, 0, 12, 0), 100000);
}

// ---- The hook of a thread's waits ----

// When the hook was called, in ms since the wait began.
Stopwatch* waitClock = nullptr;
std::vector<double> hookCalls;

static void RecordHookCall() {
    hookCalls.push_back(waitClock->Ms());
}

// A pause, one object and as many as a wait holds (where the thread's
// messages find no place): each calls the hook every 50 ms while it lasts
// (100 ms more are room for a busy machine), and only in the hooked thread.
TEST(WaitHook, EveryWaitOfTheHookedThreadCallsItAtLeastEvery50ms) {
    HANDLE events[MAXIMUM_WAIT_OBJECTS];
    for (HANDLE& event : events) {
        event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    for (DWORD count : {0, 1, MAXIMUM_WAIT_OBJECTS}) {
        hookCalls.clear();
        SetWaitHook(RecordHookCall);
        Stopwatch clock;
        waitClock = &clock;
        EXPECT_EQ(AwaitObjects(count, events, 300), static_cast<DWORD>(WAIT_TIMEOUT));
        hookCalls.push_back(clock.Ms());
        const size_t calls = hookCalls.size();
        std::thread([&] { AwaitObject(events[0], 60); }).join();
        SetWaitHook(nullptr);
        EXPECT_EQ(hookCalls.size(), calls);
        EXPECT_GE(hookCalls.back(), 280); // its time, less a tick of the clock it counts in
        for (size_t k = 0; k < hookCalls.size(); ++k) {
            EXPECT_LT(hookCalls[k] - (k > 0 ? hookCalls[k - 1] : 0), 150) << count << " objects";
        }
    }
    for (HANDLE event : events) {
        CloseHandle(event);
    }
}
