// The serial layer on what real adapters and lines do and a virtual cable
// cannot show, played by a stand-in for the driver of COM1 (the cable behind
// it is real): line errors, a device pulled out, the modem lines, and reads
// and writes that the device keeps pending.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "port_table.h"
#include "support/driver_double.h"
#include "support/peer_port.h"

namespace {

PortConfig RunConfig(int16_t port) {
    // The configuration of a programming run: 9600 8N1, DTR on, RTS off.
    return ModuleLineConfig(port, nullptr);
}

void IgnoreBytes(int16_t, std::atomic<int16_t>*, std::atomic<int16_t>*, uint8_t*) {}

class DriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InstallDriverDouble("COM1");
        peer_ = OpenPeer(kPeerA);
        ASSERT_NE(peer_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        ClosePort(kPortA);
        RemoveDriverDouble();
        CloseHandle(peer_);
    }
    void Open(bool receiveThread = false) {
        PortConfig config = RunConfig(kPortA);
        if (receiveThread) {
            config.byteCallback = IgnoreBytes;
        }
        ASSERT_EQ(OpenPort(&config), 0);
    }
    HANDLE peer_ = INVALID_HANDLE_VALUE;
    uint8_t buffer_[64];
};

} // namespace

TEST_F(DriverTest, APortLeftStoppingOnLineErrorsIsMadeToCarryOn) {
    driverDouble.reportsAbortOnError = true;
    Open();
    EXPECT_EQ(LastLineSettings().fAbortOnError, 0u);
    InjectLineError(CE_FRAME);
    PeerWrite(peer_, "ab");
    EXPECT_EQ(ReadPort(kPortA, 2, 0, 500, buffer_, sizeof buffer_), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer_), "ab");
}

TEST_F(DriverTest, AReadOnADriverThatStopsOnErrorsAnywayClearsTheErrorAndReadsOn) {
    driverDouble.alwaysAborts = true;
    Open();
    InjectLineError(CE_FRAME | CE_BREAK);
    PeerWrite(peer_, "xyz");
    EXPECT_EQ(ReadPort(kPortA, 3, 0, 500, buffer_, sizeof buffer_), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer_), "xyz");

    // The time-out is still counted across a refused read.
    InjectLineError(CE_OVERRUN);
    Stopwatch clock;
    EXPECT_EQ(ReadPort(kPortA, 1, 0, 100, buffer_, sizeof buffer_), 1);
    EXPECT_GE(clock.Ms(), 100);
    EXPECT_LT(clock.Ms(), 150 + 250);
}

TEST_F(DriverTest, APulledDeviceTimesReadsOutWithoutSpinningAndCloses) {
    Open();
    PullDevice(ERROR_BAD_COMMAND);
    const uint8_t bytes[] = {0x14};
    EXPECT_EQ(WritePort(kPortA, bytes, 1), 1); // refused, and it says so
    Stopwatch clock;
    EXPECT_EQ(ReadPort(kPortA, 1, 0, 500, buffer_, sizeof buffer_), 1);
    EXPECT_GE(clock.Ms(), 500);
    EXPECT_LT(clock.Ms(), 550 + 500);
    // Each refused read pauses as long as a read would have waited.
    EXPECT_LT(driverDouble.readCalls, 100);

    clock = Stopwatch();
    EXPECT_EQ(ClosePort(kPortA), 0);
    EXPECT_LT(clock.Ms(), 500);
    EXPECT_EQ(PortTable[kPortA].portHandle, nullptr);
    EXPECT_EQ(PortTable[kPortA].monitorThread, nullptr);
    // Plugged in again, it opens as before.
    PullDevice(0);
    Open();
}

// A wait for input on a device that refuses every look at it (an adapter
// pulled out) tells so at once, instead of reading as a silent line; a
// passing refusal does not.
TEST_F(DriverTest, AWaitForInputTellsOfADeviceThatHasGone) {
    Open();
    EXPECT_EQ(AwaitInput(kPortA, 100), 1); // silent
    PullDevice(ERROR_BAD_COMMAND);
    Stopwatch clock;
    EXPECT_EQ(AwaitInput(kPortA, 5000), kDeviceGone);
    EXPECT_LT(clock.Ms(), 200 + 1500);
    PullDevice(0);
    PeerWrite(peer_, "x");
    EXPECT_EQ(AwaitInput(kPortA, 1000), 0);
}

// A driver that keeps a read for good once its adapter is pulled out: the
// wait for input still finds the device gone, and once the adapter is back
// the port opens again, its reads going through another area than the one
// the driver keeps.
TEST_F(DriverTest, AReadTheDriverKeepsForGoodLeavesThePortToBeOpenedAgain) {
    Open();
    driverDouble.holdReadsForGood = true;
    EXPECT_EQ(ReadPort(kPortA, 1, 0, 100, buffer_, sizeof buffer_), 1); // its read stays
    PullDevice(ERROR_BAD_COMMAND);
    EXPECT_EQ(AwaitInput(kPortA, 3000), kDeviceGone);
    ClosePort(kPortA);
    driverDouble.holdReadsForGood = false;
    PullDevice(0);
    for (int opening = 0; opening < 2; ++opening) {
        Open();
        PeerWrite(peer_, "K");
        EXPECT_EQ(ReadPort(kPortA, 1, 0, 1000, buffer_, sizeof buffer_), 0) << opening;
        EXPECT_EQ(buffer_[0], 'K');
        ClosePort(kPortA);
    }
    EXPECT_EQ(driverDouble.heldPending, 1); // the driver still keeps it
}

TEST_F(DriverTest, AReceiveThreadWhoseReadsFailPausesBetweenThem) {
    Open(true);
    Sleep(100);
    PullDevice(ERROR_DEVICE_REMOVED);
    Sleep(50);
    const long before = driverDouble.readCalls;
    Sleep(500);
    EXPECT_LT(driverDouble.readCalls - before, 100);
    Stopwatch clock;
    EXPECT_EQ(ClosePort(kPortA), 0);
    EXPECT_LT(clock.Ms(), 1500);
    EXPECT_EQ(PortTable[kPortA].receiveThread, nullptr);
}

TEST_F(DriverTest, DtrIsOnAndRtsOffWhileOpenAndDtrDropsFirstAtClose) {
    Open();
    DCB settings = LastLineSettings();
    EXPECT_EQ(settings.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(settings.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_TRUE(EscapeCalls().empty());
    ASSERT_EQ(ClosePort(kPortA), 0);
    std::vector<EscapeCall> calls = EscapeCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].function, static_cast<DWORD>(CLRDTR));
    EXPECT_EQ(calls[1].function, static_cast<DWORD>(CLRRTS));
    EXPECT_GE(calls[1].ms - calls[0].ms, 10);

    PortConfig config = RunConfig(kPortA);
    config.dtrOn = 0;
    config.rtsOn = 1;
    ASSERT_EQ(OpenPort(&config), 0);
    settings = LastLineSettings();
    EXPECT_EQ(settings.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(settings.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
}

static std::atomic<int> linesLost{0};
static std::atomic<long> lostAtSample{0};
static std::atomic<int16_t> lostTag{0};
static void OnLineLost(int16_t tag) {
    ++linesLost;
    lostAtSample = driverDouble.modemStatusCalls.load();
    lostTag = tag;
}

TEST_F(DriverTest, ALastingCarrierDropIsReportedOnceAndABlipNever) {
    // Samples: the first at the start, then one a tick; a drop of one sample
    // (2), then a lasting one (from 5), reported on its second sample (6).
    ScriptCarrier({true, true, false, true, true, false, false, false, true, true});
    PortConfig config = RunConfig(kPortA);
    config.lineLostCallback = OnLineLost;
    config.callbackTag = 9;
    ASSERT_EQ(OpenPort(&config), 0);
    Stopwatch clock;
    while (driverDouble.modemStatusCalls < 14 && clock.Ms() < 5000) {
        Sleep(10);
    }
    ASSERT_EQ(ClosePort(kPortA), 0);
    EXPECT_EQ(linesLost, 1);
    EXPECT_EQ(lostAtSample, 7); // the seventh sample, numbered 6 from 0
    EXPECT_EQ(lostTag, 9);
}

TEST_F(DriverTest, ClosePortGivesUpAWriteThatTheFarEndDoesNotTake) {
    driverDouble.holdWrites = true;
    Open(true);
    uint8_t bytes[120];
    memset(bytes, 'w', sizeof bytes);
    WritePort(kPortA, bytes, sizeof bytes);
    Stopwatch clock;
    EXPECT_EQ(ClosePort(kPortA), 0);
    // The wire time of 120 bytes at 9600 baud (at most 12 bits each), then
    // a second more.
    EXPECT_GE(clock.Ms(), 150 + 1000);
    EXPECT_LT(clock.Ms(), 150 + 1000 + 1000);
    EXPECT_GE(driverDouble.cancels, 1);
    EXPECT_EQ(PortTable[kPortA].writePending, 0);
}

TEST_F(DriverTest, APendingReadEndsBeforeTheThreadThatStartedIt) {
    // The device ends a cancelled read only after the receive thread's own
    // 500 ms wait has run out.
    driverDouble.holdReads = true;
    driverDouble.cancelDelayMs = 600;
    Open(true);
    Sleep(100);
    EXPECT_EQ(driverDouble.heldPending, 1);
    EXPECT_EQ(ClosePort(kPortA), 0);
    Stopwatch clock;
    while (driverDouble.heldPending > 0 && clock.Ms() < 3000) {
        Sleep(10);
    }
    EXPECT_EQ(driverDouble.heldPending, 0);
    EXPECT_FALSE(driverDouble.readOutlivedItsThread);
}

TEST_F(DriverTest, TheWakeUpByteGoesOutAtMarkParityAndTheLineSettlesAtSpace) {
    PortConfig config = RunConfig(kPortA);
    config.parityCode = 10;
    ASSERT_EQ(OpenPort(&config), 0);
    EXPECT_EQ(driverDouble.bytesAtMarkParity, 1);
    EXPECT_EQ(LastLineSettings().Parity, SPACEPARITY);
    EXPECT_EQ(PeerReadCount(peer_, 1, 1000), std::string(1, '\0'));
}

void IgnoreLineLoss(int16_t) {}

TEST_F(DriverTest, TheTickClockStaysTrueWhereTheDeviceRunsOneCallAtATime) {
    // On a synchronous handle the monitor thread's modem-line reads (for an
    // owner who wants to hear of the carrier's loss) would wait behind every
    // read of the device, and every time-out would grow.
    driverDouble.synchronousHandle = true;
    PortConfig config = RunConfig(kPortA);
    config.lineLostCallback = IgnoreLineLoss;
    ASSERT_EQ(OpenPort(&config), 0);
    const long modemReads = driverDouble.modemStatusCalls;
    Stopwatch clock;
    EXPECT_EQ(ReadPort(kPortA, 1, 0, 10000, buffer_, sizeof buffer_), 1);
    EXPECT_GE(clock.Ms(), 10000);
    EXPECT_LT(clock.Ms(), 10500);
    EXPECT_GT(driverDouble.modemStatusCalls - modemReads, 100); // the monitor thread read them
}

TEST_F(DriverTest, AWriteTheDeviceDoesNotTakeEndsAfterItsWireTimeAndAMargin) {
    driverDouble.holdWrites = true;
    Open();
    const uint8_t pair[2] = {'4', '1'};
    Stopwatch clock;
    EXPECT_EQ(WritePort(kPortA, pair, 2), 1);
    EXPECT_GE(clock.Ms(), 1000);
    EXPECT_LT(clock.Ms(), 1000 + 3 + 800);
    EXPECT_GE(driverDouble.cancels, 1);
    // A device that takes bytes again gets the next write.
    driverDouble.holdWrites = false;
    EXPECT_EQ(WritePort(kPortA, pair, 2), 0);
    EXPECT_EQ(PeerReadCount(peer_, 2, 1000), "41");
}

TEST_F(DriverTest, AWriteTheDeviceKeepsEvenWhenCancelledKeepsItsSlotUntilItEnds) {
    driverDouble.holdWrites = true;
    driverDouble.cancelDelayMs = 4000;
    Open();
    const uint8_t pair[2] = {'4', '1'};
    Stopwatch clock;
    EXPECT_EQ(WritePort(kPortA, pair, 2), 1);
    EXPECT_LT(clock.Ms(), 2000 + 800);
    EXPECT_EQ(WritePort(kPortA, pair, 2), 1); // at once: the device still has the bytes
    EXPECT_LT(clock.Ms(), 2000 + 900);
    EXPECT_EQ(ClosePort(kPortA), 0);
    EXPECT_LT(clock.Ms(), 2000 + 1000 + 1000 + 800);
    // Its record is the device's until the write ends: the port does not
    // open again before.
    PortConfig config = RunConfig(kPortA);
    EXPECT_EQ(OpenPort(&config), 1);
    while (driverDouble.heldPending > 0 && clock.Ms() < 8000) {
        Sleep(20);
    }
    EXPECT_EQ(OpenPort(&config), 0);
}
