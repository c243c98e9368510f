// The main dialog, created from its real template (resource 10) and driven
// by MainDialogProc: start-up state, job switch, command and message results,
// and quitting the modal dialog.
#include <gtest/gtest.h>

#include <windows.h>

#include <dbt.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "dialog_ids.h"
#include "main_dialog.h"
#include "program_entry.h"
#include "support/window_search.h"

namespace {

const char kCaption[] = "  KORVAN_Setup.exe  V1.01   -   Programme Korvan modules ";

class MainDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN_DIALOG),
                                    nullptr, MainDialogProc, 0);
        ASSERT_NE(dialog, nullptr) << GetLastError();
        ShowWindow(dialog, SW_SHOW);
    }
    void TearDown() override {
        if (dialog != nullptr) {
            DestroyWindow(dialog);
        }
    }
    HWND Item(int id) {
        return GetDlgItem(dialog, id);
    }
    bool Shown(int id) {
        return (GetWindowLongA(Item(id), GWL_STYLE) & WS_VISIBLE) != 0;
    }
    LRESULT Send(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return SendMessageA(Item(id), message, wParam, lParam);
    }
    std::string Entry(int list, int index) {
        char text[200] = "";
        if (Send(list, CB_GETLBTEXTLEN, index) >= static_cast<LRESULT>(sizeof text)) {
            return "<too long>";
        }
        Send(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
        return text;
    }
    // Firmware group shown and Profibus-ID group hidden, or the other way round.
    void ExpectFirmwareGroupShown(bool firmware) {
        for (int id : {100, 101, 102}) {
            EXPECT_EQ(Shown(id), firmware) << "control " << id;
        }
        for (int id : {110, 111}) {
            EXPECT_EQ(Shown(id), !firmware) << "control " << id;
        }
    }
    // The port numbers the port list's entries carry, checked against their
    // texts; the last entry, which finds the module, is checked and left out.
    std::vector<int> PortEntries() {
        std::vector<int> ports;
        const int last = static_cast<int>(Send(21, CB_GETCOUNT)) - 1;
        EXPECT_EQ(Entry(21, last), "Any port (find the module)");
        EXPECT_EQ(static_cast<int16_t>(Send(21, CB_GETITEMDATA, last)), -1);
        for (int k = 0; k < last; ++k) {
            int port = static_cast<int>(Send(21, CB_GETITEMDATA, k));
            EXPECT_EQ(Entry(21, k), "COM" + std::to_string(port));
            ports.push_back(port);
        }
        return ports;
    }
    // COM1 to COM8 first, then the further ports of the PC, ascending.
    void ExpectPortList() {
        std::vector<int> ports = PortEntries();
        ASSERT_GE(ports.size(), 8u);
        for (int k = 0; k < 8; ++k) {
            EXPECT_EQ(ports[k], k + 1);
        }
        for (size_t k = 8; k < ports.size(); ++k) {
            EXPECT_GT(ports[k], ports[k - 1]);
        }
    }
    void ExpectStartUpState() {
        ExpectPortList();
        EXPECT_EQ(Send(21, CB_GETCURSEL), CB_ERR);

        EXPECT_EQ(Send(10, BM_GETCHECK), BST_CHECKED);
        EXPECT_EQ(Send(11, BM_GETCHECK), BST_UNCHECKED);
        ExpectFirmwareGroupShown(true);
        EXPECT_EQ(WindowTextA(Item(101)), "Korvan.dcs");

        ASSERT_EQ(Send(111, CB_GETCOUNT), 127);
        for (int k = 0; k < 127; ++k) {
            if (k != 125) {
                EXPECT_EQ(Entry(111, k), std::to_string(k + 1));
            }
        }
        EXPECT_EQ(Entry(111, 125), "126 (Address Setting via Profibus possible)");
        EXPECT_EQ(Send(111, CB_GETCURSEL), 0);
        EXPECT_EQ(WindowTextA(Item(111)), "1");

        EXPECT_EQ(WindowTextA(Item(301)), " ");
        EXPECT_EQ(WindowTextA(Item(303)), " ");
    }
    HWND dialog = nullptr;
};

} // namespace

TEST(ListEntryTexts, PortsAndProfibusIds) {
    char text[kListEntryRoom];
    ComposePortEntry(1, text);
    EXPECT_STREQ(text, "COM1");
    ComposePortEntry(8, text);
    EXPECT_STREQ(text, "COM8");
    ComposeProfibusIdEntry(1, text);
    EXPECT_STREQ(text, "1");
    ComposeProfibusIdEntry(125, text);
    EXPECT_STREQ(text, "125");
    ComposeProfibusIdEntry(126, text);
    EXPECT_STREQ(text, "126 (Address Setting via Profibus possible)");
    ComposeProfibusIdEntry(127, text);
    EXPECT_STREQ(text, "127");
}

TEST_F(MainDialogTest, StartsWithNoPortTheFirmwareJobAndBlankLines) {
    ExpectStartUpState();
    // The start-up name went through the process-wide file-name buffer.
    EXPECT_STREQ(fileNameBuffer, L"Korvan.dcs");
    // Selecting entry 125 shows ID 126 with its note.
    Send(111, CB_SETCURSEL, 125);
    EXPECT_EQ(WindowTextA(Item(111)), "126 (Address Setting via Profibus possible)");
}

TEST_F(MainDialogTest, StartUpAgainRestoresEverythingWithoutDoublingTheLists) {
    Send(11, BM_CLICK);
    Send(21, CB_SETCURSEL, 2);
    Send(111, CB_SETCURSEL, 40);
    SetWindowTextA(Item(101), "other.dcs");
    SetWindowTextA(Item(301), "busy");
    SetWindowTextA(Item(303), "failed");

    EXPECT_EQ(MainDialogProc(dialog, WM_INITDIALOG, 0, 0), 1);
    ExpectStartUpState();
}

// A serial port as its driver enters it, for as long as the object lives: a
// USB adapter plugged in.
class PluggedPort {
  public:
    explicit PluggedPort(int port) : name_("\\Device\\KorvanTest" + std::to_string(port)) {
        std::string data = "COM" + std::to_string(port);
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                        REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key_, nullptr);
        RegSetValueExA(key_, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1));
    }
    ~PluggedPort() {
        Pull();
        RegCloseKey(key_);
    }
    void Pull() {
        RegDeleteValueA(key_, name_.c_str());
    }

  private:
    std::string name_;
    HKEY key_ = nullptr;
};

TEST_F(MainDialogTest, AnAdapterPluggedInOrPulledOutShowsInTheListAtOnce) {
    std::vector<int> before = PortEntries();
    // The test prefix maps COM12 and COM200 as adapters of its own.
    EXPECT_EQ(std::count(before.begin(), before.end(), 12), 1);
    EXPECT_EQ(std::count(before.begin(), before.end(), 200), 1);
    ASSERT_EQ(std::count(before.begin(), before.end(), 237), 0);
    PluggedPort adapter(237);
    PluggedPort low(5); // a port of the first eight is listed once
    const int chosen = before.back();
    Send(21, CB_SETCURSEL, before.size() - 1);

    EXPECT_EQ(MainDialogProc(dialog, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0), 0);
    std::vector<int> plugged = PortEntries();
    ExpectPortList();
    EXPECT_EQ(plugged.size(), before.size() + 1);
    EXPECT_EQ(std::count(plugged.begin(), plugged.end(), 237), 1);
    EXPECT_EQ(Send(21, CB_GETITEMDATA, Send(21, CB_GETCURSEL)), chosen);

    // The chosen adapter pulled out: nothing is chosen.
    Send(21, CB_SETCURSEL, std::find(plugged.begin(), plugged.end(), 237) - plugged.begin());
    adapter.Pull();
    EXPECT_EQ(MainDialogProc(dialog, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0), 0);
    EXPECT_EQ(PortEntries(), before);
    EXPECT_EQ(Send(21, CB_GETCURSEL), CB_ERR);
}

TEST_F(MainDialogTest, JobSwitchShowsTheGroupOfTheCheckedJob) {
    Send(11, BM_CLICK);
    EXPECT_EQ(Send(10, BM_GETCHECK), BST_UNCHECKED);
    ExpectFirmwareGroupShown(false);
    Send(10, BM_CLICK);
    EXPECT_EQ(Send(11, BM_GETCHECK), BST_UNCHECKED);
    ExpectFirmwareGroupShown(true);

    // Called directly both answer 0 and follow the check state, whichever
    // button the command names.
    Send(10, BM_SETCHECK, BST_UNCHECKED);
    Send(11, BM_SETCHECK, BST_CHECKED);
    EXPECT_EQ(MainDialogProc(dialog, WM_COMMAND, 10, 0), 0);
    ExpectFirmwareGroupShown(false);
    Send(10, BM_SETCHECK, BST_CHECKED);
    Send(11, BM_SETCHECK, BST_UNCHECKED);
    EXPECT_EQ(MainDialogProc(dialog, WM_COMMAND, 11, 0), 0);
    ExpectFirmwareGroupShown(true);
}

TEST_F(MainDialogTest, CommandsAreKnownByTheLowSixteenBitsOnly) {
    Send(10, BM_SETCHECK, BST_UNCHECKED);
    Send(11, BM_SETCHECK, BST_CHECKED);
    // A notification code in the high word does not hide identifier 11.
    WPARAM wParam = MAKEWPARAM(11, 0xABCD);
    EXPECT_EQ(MainDialogProc(dialog, WM_COMMAND, wParam, 0), 0);
    ExpectFirmwareGroupShown(false);
    // An unknown identifier stays unknown whatever the high word holds: the
    // groups do not follow the check state, the dialog does not end.
    Send(10, BM_SETCHECK, BST_CHECKED);
    Send(11, BM_SETCHECK, BST_UNCHECKED);
    EXPECT_EQ(MainDialogProc(dialog, WM_COMMAND, MAKEWPARAM(999, 10), 0), 0);
    EXPECT_EQ(MainDialogProc(dialog, WM_COMMAND, MAKEWPARAM(999, IDC_QUIT), 0), 0);
    ExpectFirmwareGroupShown(false);
    EXPECT_TRUE(IsWindowVisible(dialog)); // not ended
}

TEST_F(MainDialogTest, OtherCommandsAndMessagesYieldZeroAndChangeNothing) {
    SetWindowTextA(Item(303), "kept");
    for (int id : {0,   1,   3,   12,  20,  21,  99,  100, 101, 103,
                   110, 111, 199, 201, 209, 300, 301, 303, 305, 0xFFFF}) {
        EXPECT_EQ(MainDialogProc(dialog, WM_COMMAND, id, 0), 0) << "command " << id;
    }
    EXPECT_TRUE(IsWindowVisible(dialog)); // not ended
    ExpectFirmwareGroupShown(true);
    EXPECT_EQ(WindowTextA(Item(303)), "kept");
    EXPECT_EQ(WindowTextA(Item(101)), "Korvan.dcs");

    HDC memory = CreateCompatibleDC(nullptr);
    for (UINT message : {static_cast<UINT>(WM_NULL), static_cast<UINT>(WM_CLOSE),
                         static_cast<UINT>(WM_TIMER), static_cast<UINT>(WM_USER),
                         static_cast<UINT>(WM_CTLCOLORMSGBOX), static_cast<UINT>(0x139),
                         static_cast<UINT>(WM_SYSCOMMAND), static_cast<UINT>(WM_KEYDOWN)}) {
        EXPECT_EQ(MainDialogProc(dialog, message, reinterpret_cast<WPARAM>(memory),
                                 reinterpret_cast<LPARAM>(Item(303))),
                  0)
            << "message " << std::hex << message;
    }
    DeleteDC(memory);
    EXPECT_TRUE(IsWindowVisible(dialog)); // not ended
}

// ---- The modal dialog ----

namespace {

// Runs the main dialog modally in this thread while drive works on it from
// another; a dialog still open 20 s after drive ends with -5.
INT_PTR RunMainDialog(const std::function<INT_PTR()>& run, const std::function<void(HWND)>& drive) {
    const DWORD self = GetCurrentThreadId();
    std::thread driver([&] {
        DialogQuery query;
        query.thread = self;
        query.caption = kCaption;
        HWND dialog = WaitForDialog(query, 20000);
        if (dialog == nullptr) {
            ADD_FAILURE() << "the main dialog did not appear";
            return;
        }
        drive(dialog);
        if (!WaitForWindowGone(dialog, 20000)) {
            ADD_FAILURE() << "the main dialog did not end";
            EndDialog(dialog, -5);
        }
    });
    INT_PTR result = run();
    driver.join();
    return result;
}

INT_PTR DialogBoxOfTheTest() {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN_DIALOG), nullptr,
                           MainDialogProc, 0);
}

} // namespace

TEST(MainDialogModal, EscapeEndsTheDialogWithTwo) {
    // The dialog manager turns Esc into the command of identifier 2.
    INT_PTR result = RunMainDialog(
        DialogBoxOfTheTest, [](HWND dialog) { PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0); });
    EXPECT_EQ(result, 2);
}

TEST(MainDialogModal, QuitEndsTheDialogWithTwo) {
    INT_PTR result = RunMainDialog(DialogBoxOfTheTest, [](HWND dialog) {
        PostMessageA(GetDlgItem(dialog, IDC_QUIT), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(result, 2);
}

TEST(MainDialogModal, RunModalDialogRunsResourceTenOfTheInstance) {
    instanceHandle = GetModuleHandleA(nullptr);
    EXPECT_EQ(GetInstanceHandle(), instanceHandle);
    bool startedUp = false;
    INT_PTR result =
        RunMainDialog([] { return RunModalDialog(nullptr, IDD_MAIN_DIALOG, MainDialogProc); },
                      [&](HWND dialog) {
                          startedUp = SendDlgItemMessageA(dialog, 111, CB_GETCOUNT, 0, 0) == 127;
                          PostMessageA(GetDlgItem(dialog, IDC_QUIT), BM_CLICK, 0, 0);
                      });
    EXPECT_EQ(result, 2);
    EXPECT_TRUE(startedUp);
}
