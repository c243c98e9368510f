// The frame that both jobs share: the port, the script file, the prompt, the
// module's detection, the clean-up after every run, and the dialog's answers
// to Windows while a run holds its thread.
#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "dialog_ids.h"
#include "support/job_fixture.h"
#include "main_dialog.h"
#include "run_context.h"
#include "support/window_search.h"

namespace {

const char kDetectionFailed[] = "Connected instrument is no Korvan module";
const char kWaiting[] = "Wait for detection of Korvan";

} // namespace

TEST_F(JobTest, NoPortChosenCannotBeOpened) {
    const std::string path = Script("any.dcs", "abc");
    StartModule();
    ChooseFirmwareJob(dialog_, path);
    ChoosePort(dialog_, 0);
    JobOutcome run = RunJob(dialog_);
    ExpectFailure(run, "Error on opening the COM-Port", " ");
    EXPECT_FALSE(run.prompted);
    ExpectCleanedUp(path);
}

TEST_F(JobTest, APortHeldElsewhereCannotBeOpened) {
    StartModule(); // holds COM2
    ChooseProfibusJob(dialog_, 3);
    ChoosePort(dialog_, kModulePort);
    JobOutcome run = RunJob(dialog_);
    ExpectFailure(run, "Error on opening the COM-Port", " ");
    EXPECT_FALSE(run.prompted);
    ExpectCleanedUp();
}

TEST_F(JobTest, AMissingScriptFileEndsTheRunBeforeAnyPortIsOpened) {
    const std::string path = TempPath("missing.dcs");
    StartModule();
    ChooseFirmwareJob(dialog_, path);
    JobOutcome run = RunJob(dialog_);
    ExpectFailure(run, "The Script file could not be loaded", " ");
    EXPECT_FALSE(run.prompted);
    EXPECT_EQ(PortTable[kToolPort].tickCount, 0u);                        // its port never ran
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES); // and nothing created
    EXPECT_EQ(ModuleReceived(), "");
    ExpectCleanedUp();
}

TEST_F(JobTest, AnEmptyScriptFileIsAnEmptyDownload) {
    const std::string path = Script("empty.dcs", "");
    StartModule();
    ChooseFirmwareJob(dialog_, path);
    ExpectSuccess(RunJob(dialog_), " The programming of Firmware was successful. ");
    EXPECT_EQ(ModuleReceived(), "\x14\x10\n0000");
    ExpectCleanedUp(path);
}

TEST_F(JobTest, ABannerAmongTheFirstBytesIsNotRecognised) {
    options_.startupFault = kStartupBannerOnly;
    StartModule();
    ChooseProfibusJob(dialog_, 3);
    JobOutcome run = RunJob(dialog_);
    ExpectFailure(run, kDetectionFailed, kWaiting);
    // Given up 10 s after the module fell silent.
    EXPECT_GE(run.runMs - run.promptMs, 10000);
    EXPECT_EQ(ModuleReceived(), ""); // no command reached the module
    ExpectCleanedUp();
}

TEST_F(JobTest, ABannerWithAWrongLetterIsNotRecognised) {
    // The test before waits the detection's real 10 s; this one needs only
    // to see it fail, so its whole time is cut short.
    detectionLimitMs = 1500;
    options_.startupFault = kStartupWrongLetter;
    StartModule();
    ChooseProfibusJob(dialog_, 3);
    ExpectFailure(RunJob(dialog_), kDetectionFailed, kWaiting);
    detectionLimitMs = kDetectionLimitMs;
    ExpectCleanedUp();
}

TEST_F(JobTest, BytesThatComeWhileThePromptStandsCountForTheDetection) {
    StartModule();
    ChooseProfibusJob(dialog_, 4);
    // The whole start-up output, banner included, has come before OK.
    JobOutcome run = RunJob(dialog_, true, 500);
    ExpectSuccess(run, " The programming of Profibus-ID was successful. ");
    EXPECT_EQ(Report().stationAddress, 4);
}

namespace {

std::vector<EXECUTION_STATE> runStates;

EXECUTION_STATE WINAPI RecordRunState(EXECUTION_STATE state) {
    runStates.push_back(state);
    return ES_CONTINUOUS;
}

// A click on a button as the mouse leaves it in the queue.
void PostClick(HWND button) {
    PostMessageA(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageA(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
}

// Quit and Esc first: a START taken meanwhile would run on and drop them.
void PostClicksAndEscape(HWND dialog) {
    PostClick(GetDlgItem(dialog, IDC_QUIT));
    PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    PostClick(GetDlgItem(dialog, IDC_START));
}

// The dialog's shut-down holds (the reason) and releases (""), in order.
std::vector<std::pair<HWND, std::wstring>> shutdownCalls;

BOOL WINAPI HoldShutdown(HWND window, LPCWSTR reason) {
    shutdownCalls.push_back({window, reason});
    return TRUE;
}

BOOL WINAPI ReleaseShutdown(HWND window) {
    shutdownCalls.push_back({window, std::wstring()});
    return TRUE;
}

WNDPROC quitProcedure = nullptr;
std::atomic<int> quitClicks{0};

LRESULT CALLBACK CountQuitClicks(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    quitClicks += message == WM_LBUTTONDOWN ? 1 : 0;
    return CallWindowProcA(quitProcedure, window, message, wParam, lParam);
}

} // namespace

// START, Quit and Esc while the OFF/ON box stands (its modal loop hands them
// on) and while the run holds the dialog's thread after it: once the run is
// over, the dialog's own loop finds nothing of them. One run, one prompt, and
// the dialog stays open.
TEST_F(JobTest, ClicksAndKeysMadeDuringARunDoNothingAfterIt) {
    const std::string path = Script("clicks.dcs", std::string(1000, 'c'));
    StartModule();
    ChooseFirmwareJob(dialog_, path);
    detectionLimitMs = 3000; // a second run, were there one, gives up soon
    runStates.clear();
    setExecutionState = RecordRunState;
    std::atomic<int> prompts{0};
    std::atomic<bool> over{false};
    std::atomic<bool> postedDuringRun{false};
    const DWORD dialogThread = GetCurrentThreadId();
    std::thread technician([&] {
        DialogQuery query;
        query.thread = dialogThread;
        query.owner = dialog_;
        query.caption = "";
        while (!over) {
            HWND box = WaitForDialog(query, 50);
            if (box == nullptr) {
                continue;
            }
            const bool first = ++prompts == 1;
            if (first) {
                PostClicksAndEscape(dialog_);
                PowerOnModule();
            }
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            WaitForWindowGone(box, 5000);
            if (first) {
                PostClicksAndEscape(dialog_);
                postedDuringRun = !IsWindowEnabled(GetDlgItem(dialog_, IDC_START));
            }
        }
    });
    SendMessageA(dialog_, WM_COMMAND, IDC_START, 0);
    const std::string result = WindowTextA(GetDlgItem(dialog_, IDC_RESULT_LINE));
    PumpDialogQueue(dialog_, nullptr, 1000);
    over = true;
    technician.join();
    setExecutionState = SetThreadExecutionState;
    detectionLimitMs = kDetectionLimitMs;

    EXPECT_TRUE(postedDuringRun);
    EXPECT_EQ(result, " The programming of Firmware was successful. ");
    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(runStates,
              (std::vector<EXECUTION_STATE>{ES_CONTINUOUS | ES_SYSTEM_REQUIRED, ES_CONTINUOUS}));
    EXPECT_TRUE(IsWindowVisible(dialog_));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog_, IDC_START)));
    EXPECT_EQ(Report().firmwareByteCount, 1000);
    ExpectCleanedUp(path);
}

// Windows takes a window for hung once its thread has looked at no message
// for 5 s (Wine too); runs that long in every step would cost CI minutes.
// Instead a run of some 2.5 s whose every step waits (the module's start,
// settling pauses, a late acknowledgement and confirmation) is probed back to
// back from another thread: each WM_NULL is answered within 400 ms (the
// waits answer every 50 ms; the rest is room for a busy machine).
TEST_F(JobTest, ARunAnswersWindowsInEveryStepAndNothingAskedMeanwhileActs) {
    options_.powerOnDelayMs = 300;
    options_.ackFault = kAckLate;
    options_.ackDelayMs = 600;     // 700 allowed
    options_.confirmDelayMs = 400; // 500 allowed
    StartModule();
    ChooseFirmwareJob(dialog_, Script("answers.dcs", std::string(300, 'a')));
    shutdownBlock = {HoldShutdown, ReleaseShutdown};
    HWND quit = GetDlgItem(dialog_, IDC_QUIT);
    quitProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(quit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountQuitClicks)));

    std::atomic<bool> over{false}, proberDone{false};
    std::set<std::wstring> steps, failedSteps;
    double longestMs = 0;
    std::vector<DWORD_PTR> answers; // mid-download: closings, a log-off
    std::thread prober([&] {
        for (DWORD_PTR answer = 0; !over; Sleep(5)) {
            Stopwatch clock;
            const bool answered =
                SendMessageTimeoutA(dialog_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer) != 0;
            longestMs = std::max(longestMs, clock.Ms());
            WCHAR text[100] = L""; // read without a message to the dialog
            InternalGetWindowText(GetDlgItem(dialog_, IDC_STATE_LINE), text, 100);
            const std::wstring status = text;
            const std::wstring step = status.substr(0, status.find(L" -->"));
            (answered && !IsHungAppWindow(dialog_) ? steps : failedSteps).insert(step);
            if (step == L"Update firmware" && answers.empty()) {
                // SC_CLOSE is the system command's; the others do not look.
                for (UINT message : {WM_CLOSE, WM_SYSCOMMAND, WM_QUERYENDSESSION}) {
                    answer = 2;
                    SendMessageTimeoutA(dialog_, message, SC_CLOSE, 0, 0, 1000, &answer);
                    answers.push_back(answer);
                }
                PostMessageA(dialog_, WM_CLOSE, 0, 0);
                PostMessageA(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
                PostClicksAndEscape(dialog_);
            }
        }
        proberDone = true;
    });
    const JobOutcome run = RunJob(dialog_);
    over = true;
    // The last probe may come after the run: the dialog's loop answers it.
    PumpDialogQueue(
        dialog_, [&] { return proberDone.load(); }, 5000);
    prober.join();
    shutdownBlock = {ShutdownBlockReasonCreate, ShutdownBlockReasonDestroy};

    ExpectSuccess(run, " The programming of Firmware was successful. ");
    EXPECT_EQ(Report().firmwareByteCount, 300);
    EXPECT_TRUE(failedSteps.empty()) << *failedSteps.begin();
    EXPECT_LT(longestMs, 400);
    for (const WCHAR* step :
         {L"Wait for detection of Korvan", L"Initialisation of programming process",
          L"Update firmware", L"Send Checksum"}) {
        EXPECT_EQ(steps.count(step), 1u) << step;
    }
    EXPECT_EQ(answers, (std::vector<DWORD_PTR>{0, 0, FALSE}));
    const std::wstring reason = L"Programming the Korvan module: do not switch off";
    EXPECT_EQ(shutdownCalls, (std::vector<std::pair<HWND, std::wstring>>{
                                 {dialog_, reason}, {dialog_, std::wstring()}}));
    EXPECT_EQ(SendMessageA(dialog_, WM_QUERYENDSESSION, 0, 0), TRUE);
    EXPECT_EQ(quitClicks, 0);
    EXPECT_TRUE(IsWindowVisible(dialog_));
}
