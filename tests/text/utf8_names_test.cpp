// The dialog under the program's own manifest, which this test program links:
// the ANSI calls work in UTF-8, so names that no single ANSI code page
// carries reach the file calls whole, typed into the edit or picked.
#include <windows.h>

#include <dlgs.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "dialog_ids.h"
#include "support/job_fixture.h"
#include "support/window_search.h"

namespace {

class Utf8NamesTest : public JobTest {
  protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), static_cast<UINT>(CP_UTF8)) << "the manifest did not take";
        JobTest::SetUp();
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        base_ = MakeFolder(std::wstring(temp) + L"Zo\u00EB-\u0141ukasz " +
                           std::to_wstring(GetCurrentProcessId()));
    }
    void TearDown() override {
        JobTest::TearDown();
        for (auto made = made_.rbegin(); made != made_.rend(); ++made) {
            if (!DeleteFileW(made->c_str())) {
                RemoveDirectoryW(made->c_str());
            }
        }
    }
    std::wstring MakeFolder(const std::wstring& path) {
        EXPECT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << GetLastError();
        made_.push_back(path);
        return path;
    }
    std::wstring MakeFile(const std::wstring& path, const std::string& bytes) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
        made_.push_back(path);
        return path;
    }
    std::wstring base_;
    std::vector<std::wstring> made_;
};

} // namespace

TEST_F(Utf8NamesTest, TheDialogLoadsAScriptFromAFolderNamedBeyondTheCodePage) {
    const std::wstring script = MakeFile(base_ + L"\\Korvan \u20AC.dcs", "abc");
    StartModule();
    ChooseFirmwareJob(dialog_, "");
    SetDlgItemTextW(dialog_, IDC_FILE_NAME, script.c_str());
    ExpectSuccess(RunJob(dialog_), " The programming of Firmware was successful. ");
    EXPECT_EQ(ModuleReceived(), "\x14\x10"
                                "616263\n0126");
}

// A path near the platform's limit whose letters take 3 bytes each in UTF-8:
// the picker gives it back whole.
TEST_F(Utf8NamesTest, ThePickerGivesBackAPathOfThreeByteLettersWhole) {
    std::wstring folder = base_;
    while (folder.size() < 220) {
        const size_t letters = std::min<size_t>(40, 220 - folder.size());
        folder = MakeFolder(folder + L"\\" + std::wstring(letters, L'\u20AC'));
    }
    const std::wstring script =
        MakeFile(folder + L"\\" + std::wstring(30, L'\u20AC') + L".dcs", "");
    ASSERT_GT(script.size(), 250u);
    ASSERT_LT(script.size(), 260u);

    const DWORD self = GetCurrentThreadId();
    std::atomic<bool> setupReturned{false};
    bool opened = false;
    std::thread technician([&] {
        DialogQuery query;
        query.thread = self;
        query.owner = dialog_;
        HWND picker = nullptr;
        for (int wait = 0; picker == nullptr && !setupReturned && wait < 200; ++wait) {
            picker = WaitForDialog(query, 100);
        }
        if (picker == nullptr) {
            return;
        }
        opened = true;
        HWND field = FindDescendant(picker, "Edit", cmb13);
        if (field == nullptr) {
            field = FindDescendant(picker, "Edit", edt1);
        }
        SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(script.c_str()));
        PostMessageA(FindDescendant(picker, "Button", IDOK), BM_CLICK, 0, 0);
        if (!WaitForWindowGone(picker, 20000)) {
            PostMessageA(picker, WM_COMMAND, IDCANCEL, 0);
        }
    });
    SendDlgItemMessageA(dialog_, IDC_FILE_SETUP, BM_CLICK, 0, 0);
    setupReturned = true;
    technician.join();
    ASSERT_TRUE(opened) << "no picker";
    EXPECT_TRUE(WindowTextW(GetDlgItem(dialog_, IDC_FILE_NAME)) == script);
}
