// Runs that find the module themselves: the dialog's "Any port" entry and
// korvan-cli --port auto, on the harness's cables. The simulated module
// holds COM2 (the tool finds it on COM1); a device that is no module talks
// from COM4 to the tool's COM3, and a stand-in driver keeps COM4 from the
// tool as Windows would (a port another program holds does not open).
#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "dialog_ids.h"
#include "support/job_fixture.h"
#include "support/scoped_value.h"
#include "support/text_checks.h"
#include "support/talker.h"
#include "main_dialog.h"
#include "run_context.h"
#include "support/console_process.h"
#include "support/driver_double.h"
#include "support/played_devices.h"
#include "run_texts.h"
#include "station_port.h"

namespace {

const char kDetectionFailed[] = "Connected instrument is no Korvan module";
const char kWaiting[] = "Wait for detection of Korvan";
const char kProfibusSuccess[] = " The programming of Profibus-ID was successful. ";
enum { kTalkerPort = 4 };
const char kGpsLine[] = "$GPGGA,101530.00,5231.1234,N,01323.5678,E,1,08,0.9,45.2,M*47\r\n";

class AnyPortTest : public JobTest {
  protected:
    void SetUp() override {
        JobTest::SetUp();
        InstallDriverDouble("COM4");
        driverDouble.openError = ERROR_ACCESS_DENIED;
        ChoosePort(dialog_, kAnyPort);
    }
    void TearDown() override {
        RemoveDriverDouble();
        JobTest::TearDown();
    }
};

// The console program's face in this process, its steps thrown away.
struct QuietConsole {
    FILE* steps = fopen("NUL", "w");
    std::unique_ptr<OnePortStation> station;
    ~QuietConsole() {
        station.reset();
        fclose(steps);
    }
    RunFace Face(std::initializer_list<int16_t> ports) {
        StationJob job;
        job.ports = {kAnyPort};
        job.choices.mode = kProfibusIdMode;
        job.choices.profibusId = 5;
        job.choices.port = kAnyPort;
        for (int16_t port : ports) {
            job.choices.watchPorts[job.choices.watchCount++] = port;
        }
        job.output = steps;
        job.errors = steps;
        station = std::make_unique<OnePortStation>(job);
        return station->Face();
    }
    RunOutcome Run(std::initializer_list<int16_t> ports) {
        const RunFace face = Face(ports);
        return RunProgramming(&face);
    }
};

} // namespace

TEST_F(AnyPortTest, TheListEndsWithTheEntryThatFindsTheModule) {
    HWND list = GetDlgItem(dialog_, IDC_COM_PORT_LIST);
    const LRESULT last = SendMessageA(list, CB_GETCOUNT, 0, 0) - 1;
    char text[kListEntryRoom] = "";
    SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(last), reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "Any port (find the module)");
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), last);
    EXPECT_EQ(ChosenPortEntry(dialog_), kAnyPort);
    // A refill keeps it last and chosen.
    MainDialogProc(dialog_, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0);
    EXPECT_EQ(SendMessageA(list, CB_GETCOUNT, 0, 0) - 1, last);
    EXPECT_EQ(ChosenPortEntry(dialog_), kAnyPort);
}

TEST_F(AnyPortTest, FindsTheModuleSendsNothingElsewhereAndKeepsItsPortChosen) {
    StartModule();
    Talker gps(kTalkerPort, {kGpsLine}, 200);
    ChooseProfibusJob(dialog_, 9);
    JobOutcome run = RunJob(dialog_, true, 0, [&] { gps.SwitchOn(); });
    ExpectSuccess(run, kProfibusSuccess);
    EXPECT_EQ(Report().stationAddress, 9);
    EXPECT_EQ(ChosenPortEntry(dialog_), kToolPort);
    EXPECT_EQ(PortTable[3].portHandle, nullptr);
    EXPECT_EQ(PortTable[12].portHandle, nullptr);

    // The next run goes to COM1 directly: no other port is opened.
    bool othersClosed = false;
    ChooseProfibusJob(dialog_, 10);
    run = RunJob(dialog_, true, 0, [&] {
        othersClosed = PortTable[3].portHandle == nullptr && PortTable[12].portHandle == nullptr &&
                       PortTable[kToolPort].portHandle != nullptr;
    });
    ExpectSuccess(run, kProfibusSuccess);
    EXPECT_TRUE(othersClosed);
    EXPECT_EQ(Report().stationAddress, 10);
    EXPECT_EQ(gps.Stop(), ""); // the device that talked was sent not one byte
}

TEST_F(AnyPortTest, APortPastTheByteBoundIsClosedAndTheOthersAreStillWatched) {
    // 48 bytes every 50 ms: past 1000 bytes in about a second; the module
    // is switched on after two.
    Talker scale(kTalkerPort, {"ST,GS,+0000.00kg,0000.00kg,0000.00kg,0000.00k\r\n"}, 50);
    StartModule();
    bool closedBeforeTheBanner = false;
    std::thread module;
    ChooseProfibusJob(dialog_, 4);
    JobOutcome run = RunJob(dialog_, false, 0, [&] {
        scale.SwitchOn();
        module = std::thread([&] {
            Sleep(2000);
            closedBeforeTheBanner = PortTable[3].portHandle == nullptr;
            PowerOnModule();
        });
    });
    module.join();
    ExpectSuccess(run, kProfibusSuccess);
    EXPECT_TRUE(closedBeforeTheBanner);
    EXPECT_EQ(scale.Stop(), "");
    EXPECT_EQ(Report().stationAddress, 4);
}

TEST_F(AnyPortTest, OnlySilentPortsAreNoModuleOnceTheirSilenceHasRunOut) {
    ChooseProfibusJob(dialog_, 3);
    JobOutcome run = RunJob(dialog_, false);
    ExpectFailure(run, kDetectionFailed, kWaiting);
    EXPECT_TRUE(run.prompted);
    EXPECT_GE(run.runMs - run.promptMs, 10000);
    EXPECT_LT(run.runMs - run.promptMs, 10000 + 2500);
    EXPECT_EQ(ChosenPortEntry(dialog_), kAnyPort);
    ExpectCleanedUp();
}

namespace {
Stopwatch* choiceClock = nullptr;
double chosenAtMs = -1;
int16_t chosenPort = 0;
void NoteChoice(void*, int16_t port) {
    chosenAtMs = choiceClock->Ms();
    chosenPort = port;
}
} // namespace

TEST_F(AnyPortTest, ThePortIsChosenRightAfterTheBannersLastByte) {
    // A plain device on COM2 sends the banner; the job that follows finds
    // no module behind it and ends with its reply's time-out.
    HANDLE device = OpenPeer(kModulePort);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    QuietConsole console;
    Stopwatch clock;
    choiceClock = &clock;
    std::atomic<double> bannerAtMs{-1};
    std::thread start([&] {
        Sleep(500);
        PeerWrite(device, "\r\nKorvan V2.3\r\nKonfigmode..");
        Sleep(100);
        // The clock of the banner's last byte starts before it is written:
        // the port cannot be chosen earlier.
        bannerAtMs = clock.Ms();
        PeerWrite(device, ".");
    });
    RunFace runFace = console.Face({1, 3, 12, 200, 5});
    runFace.portFound = NoteChoice;
    EXPECT_EQ(RunProgramming(&runFace), kConfigNotRead);
    start.join();
    EXPECT_EQ(chosenPort, kToolPort);
    EXPECT_GE(chosenAtMs, bannerAtMs);
    EXPECT_LT(chosenAtMs - bannerAtMs, 100 + 150);
    // What came after the banner was the job's, and only on COM1.
    EXPECT_EQ(PeerReadUntilQuiet(device, 100), "\x15");
    CloseHandle(device);
}

TEST_F(AnyPortTest, NoPortThatOpensIsAnOpeningError) {
    StartModule(); // holds COM2
    QuietConsole console;
    // COM5 to COM7 have no device, COM4 is held elsewhere, COM2 by the module.
    EXPECT_EQ(console.Run({5, 6, 7, kTalkerPort, kModulePort}), kPortNotOpened);
    EXPECT_EQ(console.station->Result(), "Error on opening the COM-Port");
    // The detail names every port tried with why, not a port "COM-1".
    const std::string detail = console.station->Report().detail;
    EXPECT_EQ(detail.rfind("no port opened: COM5, COM6, COM7 ", 0), 0u) << detail;
    EXPECT_NE(detail.find("; COM4 access denied; COM2 open in this program already"),
              std::string::npos)
        << detail;
    EXPECT_EQ(FailureReport(console.station->Report()),
              "Error on opening the COM-Port\n" + detail + "\n");
    EXPECT_NE(PortTable[kModulePort].portHandle, nullptr); // still the module's
    EXPECT_EQ(console.Run({}), kPortNotOpened);
    EXPECT_EQ(ModuleReceived(), "");
}

TEST_F(AnyPortTest, TheConsoleProgramFindsTheModuleWithPortAuto) {
    StartModule();
    ConsoleProcess cli;
    ASSERT_TRUE(cli.Start("korvan-cli.exe", "--port auto profibus-id 17", true));
    cli.CloseInput();
    ASSERT_TRUE(cli.AwaitErrorText(kWaiting, 20000));
    Sleep(300);
    PowerOnModule();
    EXPECT_EQ(cli.Wait(60000), 0);
    const std::string errors = WithoutCarriageReturns(cli.Errors());
    const size_t found = errors.find("Wait for detection of Korvan\nKorvan found on COM1\n");
    EXPECT_NE(found, std::string::npos) << errors;
    EXPECT_LT(found, errors.find("Read old configuration of Pelix IC")) << errors;
    EXPECT_EQ(WithoutCarriageReturns(cli.Output()), std::string(kProfibusSuccess) + "\n");
    EXPECT_EQ(Report().stationAddress, 17);
}

// The module's own port stops its reads on a line error, as some drivers
// do: the glitch of its power-on does not hide the banner that follows.
class AnyPortGlitchTest : public JobTest {
  protected:
    void SetUp() override {
        JobTest::SetUp();
        InstallDriverDouble("COM1");
        driverDouble.alwaysAborts = true;
        ChoosePort(dialog_, kAnyPort);
    }
    void TearDown() override {
        RemoveDriverDouble();
        JobTest::TearDown();
    }
};

TEST_F(AnyPortGlitchTest, ALineErrorAtPowerOnDoesNotHideTheModule) {
    options_.powerGlitch = 1; // the line shows 0x00 0xFF 0xF8 first
    StartModule();
    ChooseProfibusJob(dialog_, 6);
    JobOutcome run = RunJob(dialog_, true, 0, [] { InjectLineError(CE_FRAME); });
    ExpectSuccess(run, kProfibusSuccess);
    EXPECT_EQ(ChosenPortEntry(dialog_), kToolPort);
    EXPECT_EQ(Report().stationAddress, 6);
}

// A watch that finds no module says why, port by port.
TEST_F(AnyPortTest, AWatchThatFindsNoModuleSaysWhyOfEachPort) {
    const ScopedValue<int32_t> detection(detectionLimitMs, 1500);
    QuietConsole console;
    EXPECT_EQ(console.Run({1, 3, 12}), kNoKorvanModule);
    EXPECT_STREQ(console.station->Report().detail, "no banner: COM1, COM3, COM12 not within 1 s");
}

// The console program stops at once while it listens on every port: on
// Ctrl+C, Ctrl+Break or (as here) its stop event.
TEST_F(AnyPortTest, TheConsoleProgramStopsAtOnceWhileItWatchesEveryPort) {
    NamedStopEvent stop("korvan-watch-stop");
    ASSERT_NE(stop.Handle(), nullptr);
    ConsoleProcess cli;
    ASSERT_TRUE(
        cli.Start("korvan-cli.exe", "--port auto --stop-event " + stop.Name() + " read-id", true));
    cli.CloseInput();
    ASSERT_TRUE(cli.AwaitErrorText(kWaiting, 20000));
    Sleep(1000);
    Stopwatch clock;
    stop.Set();
    const int exitCode = cli.Wait(20000);
    EXPECT_EQ(exitCode, 9) << cli.Errors();
    EXPECT_LT(clock.Ms(), 500 + 3000);
    EXPECT_NE(WithoutCarriageReturns(cli.Errors()).find("The run was interrupted\n"),
              std::string::npos);
}

// The module waits for no one once it has sent its banner: the job starts
// at once, and the fifteen other ports are closed alongside it.
TEST_F(AnyPortTest, TheJobStartsRightAfterTheBannerWithSixteenPortsWatched) {
    HANDLE device = OpenPeer(kModulePort);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    QuietConsole console;
    const RunFace face =
        console.Face({1, 3, 12, 200, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31});
    std::atomic<double> bannerEndMs{-1};
    std::atomic<double> jobByteMs{-1};
    std::string jobByte;
    Stopwatch clock;
    std::thread module([&] {
        Sleep(500);
        PeerWrite(device, "\r\nKorvan V2.3\r\nKonfigmode..");
        Sleep(100);
        bannerEndMs = clock.Ms();
        PeerWrite(device, ".");
        jobByte = PeerReadCount(device, 1, 5000);
        jobByteMs = clock.Ms();
    });
    EXPECT_EQ(RunProgramming(&face), kConfigNotRead);
    module.join();
    EXPECT_EQ(jobByte, "\x15");
    EXPECT_LT(jobByteMs - bannerEndMs, 200 + 800); // the line settles for 200 ms
    for (int16_t port : {3, 12, 200, 20, 31}) {
        EXPECT_EQ(PortTable[port].portHandle, nullptr) << port;
    }
    CloseHandle(device);
}

// A port of a Bluetooth link is not opened by the watch: opening it would
// call its partner by radio, holding the run for seconds (played here by
// a driver that takes 5 s to open COM3).
TEST(AnyPortBluetooth, APortOfABluetoothLinkIsNeitherOpenedNorWaitedFor) {
    PlayDevices({{"COM3", "Standard Serial over Bluetooth link (COM3)", "Microsoft",
                  "BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}_LOCALMFG&0000"}});
    InstallDriverDouble("COM3");
    driverDouble.openDelayMs = 5000;
    const ScopedValue<int32_t> detection(detectionLimitMs, 1500);
    QuietConsole console;
    Stopwatch clock;
    EXPECT_EQ(console.Run({1, 3, 12}), kNoKorvanModule);
    EXPECT_LT(clock.Ms(), 1500 + 4000);
    EXPECT_EQ(driverDouble.opens, 0);
    EXPECT_STREQ(console.station->Report().detail,
                 "no banner: COM3 a Bluetooth link, passed over; COM1, COM12 not within 1 s");
    RemoveDriverDouble();
    StopPlayingDevices();
}
