// Runs that find the module themselves: the dialog's "Any port" entry and
// korvan-cli --port auto, on the harness's cables. The simulated module
// holds COM2 (the tool finds it on COM1); a device that is no module talks
// from COM4 to the tool's COM3, and a stand-in driver keeps COM4 from the
// tool as Windows would (a port another program holds does not open).
#include <algorithm>
#include <atomic>
#include <thread>

#include "console_face.h"
#include "dialog_ids.h"
#include "job_fixture.h"
#include "main_dialog.h"
#include "run_context.h"
#include "support/console_process.h"
#include "support/driver_double.h"

namespace {

const char kDetectionFailed[] = "Connected instrument is no Korvan module";
const char kWaiting[] = "Wait for detection of Korvan";
const char kProfibusSuccess[] = " The programming of Profibus-ID was successful. ";
enum { kTalkerPort = 4 };

// A device that is no module: lines at its own pace from the moment it is
// switched on, and what it was sent collected at the end.
class Talker {
  public:
    explicit Talker(int port) : peer_(OpenPeer(port)) {}
    void SwitchOn() {
        thread_ = std::thread([this] {
            while (!over_) {
                PeerWrite(peer_,
                          "$GPGGA,101530.00,5231.1234,N,01323.5678,E,1,08,0.9,45.2,M*47\r\n");
                for (int waited = 0; waited < 200 && !over_; waited += 10) {
                    Sleep(10);
                }
            }
        });
    }
    std::string Stop() {
        over_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        std::string received = PeerReadUntilQuiet(peer_, 200);
        CloseHandle(peer_);
        return received;
    }

  private:
    HANDLE peer_;
    std::atomic<bool> over_{false};
    std::thread thread_;
};

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
    ConsoleFace face;
    QuietConsole() {
        face.choices.mode = kProfibusIdMode;
        face.choices.profibusId = 5;
        face.choices.port = kAnyPort;
        face.steps = fopen("NUL", "w");
    }
    ~QuietConsole() {
        fclose(face.steps);
    }
    RunOutcome Run(std::initializer_list<int16_t> ports) {
        face.choices.watchCount = 0;
        for (int16_t port : ports) {
            face.choices.watchPorts[face.choices.watchCount++] = port;
        }
        const RunFace runFace = MakeConsoleFace(&face);
        return RunProgramming(&runFace);
    }
};

std::string WithoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

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
    Talker gps(kTalkerPort);
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

TEST_F(AnyPortTest, NoPortThatOpensIsAnOpeningError) {
    StartModule(); // holds COM2
    QuietConsole console;
    // COM5 to COM7 have no device, COM4 is held elsewhere, COM2 by the module.
    EXPECT_EQ(console.Run({5, 6, 7, kTalkerPort, kModulePort}), kPortNotOpened);
    EXPECT_EQ(console.face.result, "Error on opening the COM-Port");
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
