// Whole runs through the real dialog on a line that is not ideal: a glitch
// while the module is switched, an adapter pulled out mid-run, a port held
// by another program, and devices that talk without ever sending the
// banner. The tool's COM1 has a stand-in for its driver in front of the real
// cable (the simulated module is on COM2).
#include <thread>

#include "support/job_fixture.h"
#include "run_context.h"
#include "support/driver_double.h"
#include "support/talker.h"

namespace {

const char kDetectionFailed[] = "Connected instrument is no Korvan module";
const char kWaiting[] = "Wait for detection of Korvan";

class LineFaultTest : public JobTest {
  protected:
    void SetUp() override {
        JobTest::SetUp();
        InstallDriverDouble("COM1");
    }
    void TearDown() override {
        RemoveDriverDouble();
        JobTest::TearDown();
    }
};

} // namespace

TEST_F(LineFaultTest, AGlitchAndALineErrorAtPowerOnDoNotSpoilTheRun) {
    driverDouble.alwaysAborts = true; // the driver stops every read on a line error
    options_.powerGlitch = 1;         // and the line shows 0x00 0xFF 0xF8 first
    StartModule();
    ChooseFirmwareJob(dialog_, Script("glitch.dcs", std::string(300, '\x5A')));
    JobOutcome run = RunJob(dialog_, true, 0, [] { InjectLineError(CE_FRAME); });
    ExpectSuccess(run, " The programming of Firmware was successful. ");
    EXPECT_EQ(Report().firmwareByteCount, 300);
}

TEST_F(LineFaultTest, AnAdapterPulledMidDownloadEndsTheRunAndTheDialogCarriesOn) {
    // 0x14 and 0x10, the first 96 pairs, then 50 pairs of the next 128: the
    // write of that stretch fails, and the step ends there, without waiting
    // for an acknowledgement. The status line keeps the last byte of the
    // stretch before.
    driverDouble.goneAfterWritten = 2 + 2 * 96 + 2 * 50;
    StartModule();
    const std::string path = Script("pulled.dcs", std::string(300, '\x33'));
    ChooseFirmwareJob(dialog_, path);
    JobOutcome run = RunJob(dialog_);
    ExpectFailure(run, "Korvan could not be programmed", "Update firmware --> 95");
    EXPECT_EQ(PortTable[kToolPort].portHandle, nullptr);
    EXPECT_EQ(Report().firmwareByteCount, 96 + 50);

    // Plugged in again, the next run goes through.
    PullDevice(0);
    ExpectSuccess(RunJob(dialog_), " The programming of Firmware was successful. ");
    ExpectCleanedUp(path);
}

TEST_F(LineFaultTest, AnAdapterPulledWhileTheRecordIsReadEndsTheRunWithItsReadTimeOut) {
    driverDouble.goneAfterWritten = 1; // gone right after the 0x15
    driverDouble.goneAfterWrittenError = ERROR_ACCESS_DENIED;
    StartModule();
    ChooseProfibusJob(dialog_, 7);
    JobOutcome run = RunJob(dialog_);
    ExpectFailure(run, "Configuration of Korvan module cannot be read",
                  "Read old configuration of Pelix IC");
    EXPECT_NE(Report().stationAddress, 7);
    PullDevice(0);
    ExpectCleanedUp();
}

TEST_F(LineFaultTest, APortHeldByAnotherProgramCannotBeOpened) {
    driverDouble.openError = ERROR_ACCESS_DENIED;
    StartModule();
    ChooseProfibusJob(dialog_, 3);
    JobOutcome run = RunJob(dialog_);
    ExpectFailure(run, "Error on opening the COM-Port", " ");
    EXPECT_FALSE(run.prompted);
}

TEST_F(JobTest, APortThisProcessHoldsStaysWithItsOwner) {
    StartModule(); // holds COM2
    ChooseProfibusJob(dialog_, 3);
    ChoosePort(dialog_, kModulePort);
    ExpectFailure(RunJob(dialog_), "Error on opening the COM-Port", " ");
    // The module's port still runs: a run on COM1 reaches it.
    EXPECT_NE(PortTable[kModulePort].portHandle, nullptr);
    ChoosePort(dialog_, kToolPort);
    ExpectSuccess(RunJob(dialog_), " The programming of Profibus-ID was successful. ");
    EXPECT_EQ(Report().stationAddress, 3);
}

TEST_F(JobTest, ADeviceThatTalksOnWithoutTheBannerIsGivenUp) {
    // An NMEA-like line every 200 ms: a run buffer full of bytes in about
    // three seconds.
    Talker gps(kModulePort,
               {"$GPGGA,101530.00,5231.1234,N,01323.5678,E,1,08,0.9,45.2,M,,,,*47\r\n"}, 200);
    ChooseProfibusJob(dialog_, 3);
    JobOutcome run = RunJob(dialog_, false, 0, [&] { gps.SwitchOn(); });
    std::string sent = gps.Stop();
    ExpectFailure(run, kDetectionFailed, kWaiting);
    EXPECT_LT(run.runMs - run.promptMs, 8000);
    EXPECT_EQ(sent, ""); // nothing was sent to it
}

TEST_F(JobTest, ASlowTalkerIsGivenUpWhenTheDetectionTimeRunsOut) {
    detectionLimitMs = 2500;
    Talker slow(kModulePort, {"."}, 1000);
    ChooseProfibusJob(dialog_, 3);
    JobOutcome run = RunJob(dialog_, false, 0, [&] { slow.SwitchOn(); });
    std::string sent = slow.Stop();
    detectionLimitMs = kDetectionLimitMs;
    ExpectFailure(run, kDetectionFailed, kWaiting);
    EXPECT_GE(run.runMs - run.promptMs, 2500);
    EXPECT_LT(run.runMs - run.promptMs, 2500 + 1500);
    EXPECT_EQ(sent, "");
}

TEST_F(JobTest, AStartUpWithLongPausesIsStillDetected) {
    // Each part of the start-up output within the 10 s of its byte.
    Talker module(kModulePort, {"Korvan V2.3\r\n", "Konfigmode...\r\n", ""}, 4000);
    ChooseProfibusJob(dialog_, 3);
    JobOutcome run = RunJob(dialog_, false, 0, [&] { module.SwitchOn(); });
    std::string sent = module.Stop();
    // Detected: the run has gone on to ask for the record.
    ExpectFailure(run, "Configuration of Korvan module cannot be read",
                  "Read old configuration of Pelix IC");
    EXPECT_EQ(sent, "\x15");
}

TEST_F(JobTest, ADeviceTalkingBeforeStartStillGetsTheRequestAndNothingElse) {
    // 48 bytes every 50 ms, from before START: the discards before the
    // request give up on it, the detection's bound ends the run.
    Talker scale(kModulePort, {"ST,GS,+0000.00kg,0000.00kg,0000.00kg,0000.00k\r\n"}, 50);
    scale.SwitchOn();
    ChooseProfibusJob(dialog_, 3);
    JobOutcome run = RunJob(dialog_, false);
    std::string sent = scale.Stop();
    EXPECT_TRUE(run.prompted);
    ExpectFailure(run, kDetectionFailed, kWaiting);
    EXPECT_LT(run.runMs - run.promptMs, 100 + kDiscardOverrunMs + 3000);
    EXPECT_EQ(sent, "");
}

TEST_F(LineFaultTest, AnAdapterThatBuffersItsWritesGetsItsRepliesCountedFromTheWire) {
    // The adapter takes the first block's 192 characters at once and sends
    // them in some 200 ms; the module acknowledges 600 ms after the last
    // one. From the end of the write that is 800 ms, past the 700 ms of the
    // acknowledgement, which counts from the wire.
    driverDouble.bufferedWritesPerSecond = 960;
    options_.ackFault = kAckLate;
    options_.ackFaultBlock = 0;
    options_.ackDelayMs = 600;
    StartModule();
    const std::string script = Script("late.dcs", std::string(100, 'x'));
    ChooseFirmwareJob(dialog_, script);
    ExpectSuccess(RunJob(dialog_), " The programming of Firmware was successful. ");
}

TEST_F(LineFaultTest, ADriverThatStopsTakingBytesEndsTheStepWithItsFailure) {
    // A stalled driver: from the handshake on, no write completes.
    StartModule();
    const std::string script = Script("stall.dcs", std::string(300, 'x'));
    ChooseFirmwareJob(dialog_, script);
    JobOutcome run = RunJob(dialog_, true, 0, [] { driverDouble.holdWrites = true; });
    ExpectFailure(run, "Korvan does not answer", "Initialisation of programming process");
    // Detection, the write's margin and its cancel, the port's closing.
    EXPECT_LT(run.runMs - run.promptMs, 3000 + 1000 + 1000 + 2000);
    EXPECT_EQ(ModuleReceived(), "");
}
