#include "taskbar_progress.h"

static HRESULT MakeSystemTaskbarList(ITaskbarList3** list) {
    return CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                            reinterpret_cast<void**>(list));
}

TaskbarListMaker makeTaskbarList = MakeSystemTaskbarList;
MessageFilterCall changeMessageFilter = ChangeWindowMessageFilterEx;

namespace {

// The dialog's button: one dialog, one button.
struct TaskbarButton {
    HWND window;
    ITaskbarList3* list; // nullptr until "TaskbarButtonCreated", or when refused
    int16_t comStarted;  // this file started COM on the dialog's thread
    TBPFLAG state;       // what the button shows
    int32_t share;       // the share shown in TBPF_NORMAL; -1 none yet
    int16_t failed;      // the run under way, or the last one, has failed
};

TaskbarButton button = {nullptr, nullptr, 0, TBPF_NOPROGRESS, -1, 0};

void ShowState(TBPFLAG state) {
    if (button.state == state) {
        return;
    }
    button.state = state;
    if (button.list != nullptr) {
        button.list->SetProgressState(button.window, state);
    }
}

void ShowValue(ULONGLONG done, ULONGLONG total) {
    if (button.list != nullptr) {
        button.list->SetProgressValue(button.window, done, total);
    }
}

void ReleaseList() {
    if (button.list != nullptr) {
        button.list->Release();
        button.list = nullptr;
    }
}

} // namespace

UINT TaskbarButtonMessage() {
    static const UINT message = RegisterWindowMessageA("TaskbarButtonCreated");
    return message;
}

bool IsTaskbarButtonMessage(UINT message) {
    const UINT created = TaskbarButtonMessage();
    return created != 0 && message == created;
}

void WatchTaskbarButton(HWND window) {
    if (TaskbarButtonMessage() != 0) {
        changeMessageFilter(window, TaskbarButtonMessage(), MSGFLT_ALLOW, nullptr);
    }
    ReleaseList();
    button.window = window;
    button.state = TBPF_NOPROGRESS;
    button.share = -1;
    button.failed = 0;
}

void TaskbarButtonCreated(HWND window) {
    if (window != button.window) {
        return;
    }
    ReleaseList();
    if (button.comStarted == 0) {
        // S_FALSE: COM ran on this thread already, and still needs its end
        // to be balanced. A thread in the other apartment model can still
        // make the object; then COM is not this file's to end.
        const HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        button.comStarted = SUCCEEDED(started) ? 1 : 0;
    }
    ITaskbarList3* list = nullptr;
    if (FAILED(makeTaskbarList(&list)) || list == nullptr) {
        return;
    }
    if (FAILED(list->HrInit())) {
        list->Release();
        return;
    }
    button.list = list;
    // A button made afresh shows nothing: it is told what the dialog shows.
    if (button.state == TBPF_NORMAL) {
        ShowValue(static_cast<ULONGLONG>(button.share), 100);
    } else if (button.state == TBPF_ERROR) {
        ShowValue(1, 1);
    }
    if (button.state != TBPF_NOPROGRESS) {
        list->SetProgressState(window, button.state);
    }
}

void ForgetTaskbarButton(HWND window) {
    if (window != button.window) {
        return;
    }
    ReleaseList();
    if (button.comStarted != 0) {
        CoUninitialize();
        button.comStarted = 0;
    }
    button.window = nullptr;
}

void TaskbarRunBegins() {
    button.failed = 0;
    button.share = -1;
    ShowState(TBPF_NOPROGRESS);
}

void TaskbarAwaitsModule() {
    ShowState(TBPF_INDETERMINATE);
}

int32_t ShownShare(int32_t sent, int32_t size) {
    if (size <= 0 || sent <= 0) {
        return 0;
    }
    if (sent >= size) {
        return 100;
    }
    return static_cast<int32_t>(static_cast<int64_t>(sent) * 100 / size);
}

void TaskbarShowsShare(int32_t sent, int32_t size) {
    const int32_t share = ShownShare(sent, size);
    if (button.state == TBPF_NORMAL && share == button.share) {
        return;
    }
    ShowState(TBPF_NORMAL);
    button.share = share;
    ShowValue(static_cast<ULONGLONG>(sent), static_cast<ULONGLONG>(size));
}

// The whole bar in red: seen from across the bench, whatever share had gone.
void TaskbarShowsFailure() {
    button.failed = 1;
    ShowValue(1, 1);
    button.state = TBPF_ERROR;
    if (button.list != nullptr) {
        button.list->SetProgressState(button.window, TBPF_ERROR);
    }
}

void TaskbarRunEnds() {
    if (button.failed == 0) {
        ShowState(TBPF_NOPROGRESS);
    }
}
