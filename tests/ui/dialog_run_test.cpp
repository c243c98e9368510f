// START runs the programming run inside the dialog. Only runs that end
// before any module is involved are made here.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "dialog_ids.h"
#include "main_dialog.h"
#include "run_face.h"
#include "support/window_search.h"

namespace {

// What the failure beep heard, and what the dialog looked like meanwhile.
int beeps = 0;
DWORD beepFrequency = 0;
DWORD beepDuration = 0;
bool startEnabledDuringBeep = true;
HWND beepDialog = nullptr;

BOOL WINAPI CountBeep(DWORD frequency, DWORD duration) {
    ++beeps;
    beepFrequency = frequency;
    beepDuration = duration;
    startEnabledDuringBeep = IsWindowEnabled(GetDlgItem(beepDialog, IDC_START)) != FALSE;
    return TRUE;
}

const int kInputIds[] = {20, 21, 10, 11, 100, 101, 102, 110, 111, 200};

class DialogRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN_DIALOG),
                                    nullptr, MainDialogProc, 0);
        ASSERT_NE(dialog, nullptr);
        ShowWindow(dialog, SW_SHOW);
        beeps = 0;
        beepDialog = dialog;
        failureBeep = CountBeep;
        // Old texts that the run must replace.
        SetWindowTextA(GetDlgItem(dialog, IDC_STATE_LINE), "old state");
        SetWindowTextA(GetDlgItem(dialog, IDC_RESULT_LINE), "old result");
    }
    void TearDown() override {
        failureBeep = Beep;
        DestroyWindow(dialog);
    }
    void ExpectFailedRun(const char* result) {
        EXPECT_EQ(WindowTextA(GetDlgItem(dialog, IDC_RESULT_LINE)), result);
        EXPECT_EQ(WindowTextA(GetDlgItem(dialog, IDC_STATE_LINE)), " ");
        EXPECT_EQ(beeps, 1);
        EXPECT_EQ(beepFrequency, 1500u);
        EXPECT_EQ(beepDuration, 150u);
        EXPECT_FALSE(startEnabledDuringBeep);
        for (int id : kInputIds) {
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, id))) << "control " << id;
        }
        EXPECT_TRUE(IsWindowVisible(dialog)); // the dialog goes on
    }
    HWND dialog = nullptr;
};

} // namespace

TEST_F(DialogRunTest, StartRunsTheFirmwareJobAndAnswersOne) {
    // No port chosen, a file that is not there: the run ends at loading it.
    SetWindowTextA(GetDlgItem(dialog, IDC_FILE_NAME), "C:\\no such folder\\missing.dcs");
    EXPECT_EQ(MainDialogProc(dialog, WM_COMMAND, IDC_START, 0), 1);
    ExpectFailedRun("The Script file could not be loaded");
}

TEST_F(DialogRunTest, TheStartButtonRunsTheProfibusJob) {
    SendDlgItemMessageA(dialog, IDC_SET_PROFIBUS_ID, BM_CLICK, 0, 0);
    // No port chosen: port 0 cannot be opened.
    SendDlgItemMessageA(dialog, IDC_START, BM_CLICK, 0, 0);
    ExpectFailedRun("Error on opening the COM-Port");
}
