// The run's progress on the dialog's taskbar button, through a stand-in for
// the button's interface (Wine draws no taskbar), with the real dialog and
// the simulated module.
#include <algorithm>
#include <mutex>

#include "dialog_ids.h"
#include "support/job_fixture.h"
#include "support/window_search.h"
#include "taskbar_progress.h"

namespace {

struct TaskbarCall {
    HWND window;
    bool isState;  // SetProgressState; else SetProgressValue
    TBPFLAG state; // SetProgressState
    ULONGLONG done, total;
};

// Records what the dialog tells its button.
class TaskbarStandIn : public ITaskbarList3 {
  public:
    std::vector<TaskbarCall> Calls() {
        std::lock_guard<std::mutex> guard(lock_);
        return calls_;
    }
    void Forget() {
        std::lock_guard<std::mutex> guard(lock_);
        calls_.clear();
    }
    LONG references = 1; // the test's own
    int made = 0;        // times the dialog asked for it
    int inits = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_ITaskbarList) ||
            IsEqualIID(id, IID_ITaskbarList2) || IsEqualIID(id, IID_ITaskbarList3)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(++references);
    }
    ULONG STDMETHODCALLTYPE Release() override {
        return static_cast<ULONG>(--references);
    }
    HRESULT STDMETHODCALLTYPE HrInit() override {
        ++inits;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND window, ULONGLONG done,
                                               ULONGLONG total) override {
        std::lock_guard<std::mutex> guard(lock_);
        calls_.push_back({window, false, TBPF_NOPROGRESS, done, total});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND window, TBPFLAG state) override {
        std::lock_guard<std::mutex> guard(lock_);
        calls_.push_back({window, true, state, 0, 0});
        return S_OK;
    }
    // Nothing else is the dialog's business.
    HRESULT STDMETHODCALLTYPE AddTab(HWND) override {
        return Unused();
    }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override {
        return Unused();
    }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override {
        return Unused();
    }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override {
        return Unused();
    }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, WINBOOL) override {
        return Unused();
    }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override {
        return Unused();
    }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override {
        return Unused();
    }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override {
        return Unused();
    }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override {
        return Unused();
    }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return Unused();
    }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return Unused();
    }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override {
        return Unused();
    }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override {
        return Unused();
    }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override {
        return Unused();
    }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override {
        return Unused();
    }
    int unused = 0;

  private:
    HRESULT Unused() {
        ++unused;
        return E_NOTIMPL;
    }
    std::mutex lock_;
    std::vector<TaskbarCall> calls_;
};

TaskbarStandIn* standIn = nullptr;

HRESULT MakeStandIn(ITaskbarList3** list) {
    ++standIn->made;
    standIn->AddRef();
    *list = standIn;
    return S_OK;
}

// A system without the interface (an older Windows, no taskbar).
HRESULT RefuseInterface(ITaskbarList3** list) {
    ++standIn->made;
    *list = nullptr;
    return REGDB_E_CLASSNOTREG;
}

// The states in order, each value call as TBPF_PAUSED (which the dialog
// never uses).
std::vector<TBPFLAG> States(const std::vector<TaskbarCall>& calls) {
    std::vector<TBPFLAG> states;
    for (const TaskbarCall& call : calls) {
        states.push_back(call.isState ? call.state : TBPF_PAUSED);
    }
    return states;
}

// The dialog hears "TaskbarButtonCreated" only when the test sends it, not
// from a real taskbar that a test machine may have.
WNDPROC dialogProcedure = nullptr;
bool letButtonMessageThrough = false;

// The messages the dialog let through to a window from programs of a lower
// integrity level.
std::vector<std::pair<HWND, UINT>> allowed;

BOOL WINAPI RecordAllowed(HWND window, UINT message, DWORD action, PCHANGEFILTERSTRUCT) {
    if (action == MSGFLT_ALLOW) {
        allowed.push_back({window, message});
    }
    return TRUE;
}

LRESULT CALLBACK FilterButtonMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == TaskbarButtonMessage() && !letButtonMessageThrough) {
        return 0;
    }
    return CallWindowProcA(dialogProcedure, window, message, wParam, lParam);
}

// Every text of the status line, in order.
WNDPROC statusProcedure = nullptr;
std::vector<std::string> statusTexts;

LRESULT CALLBACK RecordStatus(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT) {
        statusTexts.push_back(reinterpret_cast<const char*>(lParam));
    }
    return CallWindowProcA(statusProcedure, window, message, wParam, lParam);
}

class TaskbarTest : public JobTest {
  protected:
    void SetUp() override {
        allowed.clear();
        changeMessageFilter = RecordAllowed;
        JobTest::SetUp();
        standIn = &standIn_;
        systemMaker_ = makeTaskbarList;
        makeTaskbarList = MakeStandIn;
        dialogProcedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            dialog_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FilterButtonMessage)));
        HWND status = GetDlgItem(dialog_, IDC_STATE_LINE);
        statusTexts.clear();
        statusProcedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordStatus)));
    }
    void TearDown() override {
        JobTest::TearDown();
        makeTaskbarList = systemMaker_;
        changeMessageFilter = ChangeWindowMessageFilterEx;
        // The dialog has let its interface go.
        EXPECT_EQ(standIn_.references, 1);
        EXPECT_EQ(standIn_.unused, 0);
    }
    void ButtonCreated() {
        letButtonMessageThrough = true;
        SendMessageA(dialog_, TaskbarButtonMessage(), 0, 0);
        letButtonMessageThrough = false;
    }
    TaskbarStandIn standIn_;
    TaskbarListMaker systemMaker_ = nullptr;
};

} // namespace

TEST_F(TaskbarTest, ADownloadShowsItsShareAndASuccessLeavesNoProgress) {
    // Started as administrator, the dialog hears the taskbar only through the
    // filter it opens.
    EXPECT_EQ(allowed, (std::vector<std::pair<HWND, UINT>>{{dialog_, TaskbarButtonMessage()}}));
    ButtonCreated();
    ASSERT_EQ(standIn_.inits, 1);
    const size_t size = 300;
    StartModule();
    ChooseFirmwareJob(dialog_, Script("share.dcs", std::string(size, '\x5A')));
    std::vector<TaskbarCall> atPrompt;
    JobOutcome run = RunJob(dialog_, true, 0, [&] { atPrompt = standIn_.Calls(); });
    ExpectSuccess(run, " The programming of Firmware was successful. ");

    // A moving bar while the run waits for the module.
    EXPECT_EQ(States(atPrompt), std::vector<TBPFLAG>{TBPF_INDETERMINATE});
    const std::vector<TaskbarCall> calls = standIn_.Calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(States(calls).front(), TBPF_INDETERMINATE);
    EXPECT_EQ(States(calls)[1], TBPF_NORMAL);
    EXPECT_EQ(States(calls).back(), TBPF_NOPROGRESS);
    // Then the share sent, growing to the whole, a call per whole per cent
    // at most.
    std::vector<ULONGLONG> done;
    for (const TaskbarCall& call : calls) {
        EXPECT_EQ(call.window, dialog_);
        if (!call.isState) {
            EXPECT_EQ(call.total, size);
            done.push_back(call.done);
        }
    }
    ASSERT_FALSE(done.empty());
    EXPECT_LE(done.size(), 101u);
    EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
    EXPECT_EQ(done.back(), size);
    EXPECT_EQ(States(calls).size(), done.size() + 3);

    // The status line still names every script byte, in order.
    std::vector<std::string> bytesNamed;
    for (const std::string& text : statusTexts) {
        if (text.rfind("Update firmware --> ", 0) == 0) {
            bytesNamed.push_back(text);
        }
    }
    ASSERT_EQ(bytesNamed.size(), size);
    for (size_t j = 0; j < size; ++j) {
        EXPECT_EQ(bytesNamed[j], "Update firmware --> " + std::to_string(j));
    }
}

TEST_F(TaskbarTest, AFailureStaysRedUntilTheNextRunBegins) {
    ButtonCreated();
    options_.ackFault = kAckMissing;
    StartModule();
    ChooseFirmwareJob(dialog_, Script("red.dcs", std::string(300, '\x5A')));
    JobOutcome failed = RunJob(dialog_);
    ExpectFailure(failed, "Korvan could not be programmed", "Update firmware --> 94");
    // The whole bar in red, and nothing after it.
    std::vector<TaskbarCall> calls = standIn_.Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(States(calls).back(), TBPF_ERROR);
    const TaskbarCall& full = calls[calls.size() - 2];
    EXPECT_FALSE(full.isState);
    EXPECT_EQ(full.done, full.total);

    // A Profibus-ID run: the red goes as it begins; it waits for the module
    // to its end, with no share, and leaves nothing.
    standIn_.Forget();
    options_.ackFault = kAckNormal;
    ChangeSimOptions(&options_);
    ChooseProfibusJob(dialog_, 9);
    ExpectSuccess(RunJob(dialog_), " The programming of Profibus-ID was successful. ");
    EXPECT_EQ(States(standIn_.Calls()),
              (std::vector<TBPFLAG>{TBPF_NOPROGRESS, TBPF_INDETERMINATE, TBPF_NOPROGRESS}));

    // A failure before any module is involved is red all the same.
    standIn_.Forget();
    ChoosePort(dialog_, 0);
    ExpectFailure(RunJob(dialog_), "Error on opening the COM-Port", " ");
    EXPECT_EQ(States(standIn_.Calls()), (std::vector<TBPFLAG>{TBPF_PAUSED, TBPF_ERROR}));
}

TEST_F(TaskbarTest, WithoutItsButtonOrItsInterfaceTheDialogRunsAsBefore) {
    // No "TaskbarButtonCreated" (no taskbar): the interface is never made.
    StartModule();
    ChooseProfibusJob(dialog_, 5);
    ExpectSuccess(RunJob(dialog_), " The programming of Profibus-ID was successful. ");
    EXPECT_EQ(standIn_.made, 0);

    // A system that refuses the interface: the run is the same.
    makeTaskbarList = RefuseInterface;
    ButtonCreated();
    EXPECT_EQ(standIn_.made, 1);
    ExpectSuccess(RunJob(dialog_), " The programming of Profibus-ID was successful. ");
    ChoosePort(dialog_, 0);
    ExpectFailure(RunJob(dialog_), "Error on opening the COM-Port", " ");
    EXPECT_EQ(Report().stationAddress, 5);
    EXPECT_TRUE(standIn_.Calls().empty());
    EXPECT_EQ(standIn_.inits, 0);
}
