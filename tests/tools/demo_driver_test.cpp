// The command line of korvan-demo-driver.exe, and how it finds the port in
// the tool's list.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "driver_job.h"
#include "tool_windows.h"

namespace {

int16_t Parse(std::vector<const char*> arguments, DriverSettings* settings,
              std::string* error = nullptr) {
    arguments.insert(arguments.begin(), "korvan-demo-driver.exe");
    char text[200];
    int16_t status = ParseDriverArguments(static_cast<int>(arguments.size()), arguments.data(),
                                          settings, text, sizeof text);
    if (error != nullptr) {
        *error = text;
    }
    return status;
}

} // namespace

TEST(DriverArguments, TakesEachCommandWithItsOptions) {
    DriverSettings settings;
    ASSERT_EQ(Parse({"run", "firmware", "Korvan.dcs"}, &settings), 0);
    EXPECT_EQ(settings.command, kDriverRun);
    EXPECT_EQ(settings.job, kJobFirmware);
    EXPECT_STREQ(settings.fileName, "Korvan.dcs");
    EXPECT_EQ(settings.portNumber, 1);
    EXPECT_STREQ(settings.powerEventName, "");
    EXPECT_EQ(settings.timeoutMs, 120000);
    EXPECT_EQ(settings.holdPromptMs, 0);

    ASSERT_EQ(Parse({"run", "profibus-id", "127", "--port", "com200", "--power-event", "power",
                     "--timeout", "30"},
                    &settings),
              0);
    EXPECT_EQ(settings.job, kJobProfibusId);
    EXPECT_EQ(settings.profibusId, 127);
    EXPECT_EQ(settings.portNumber, 200);
    EXPECT_STREQ(settings.powerEventName, "power");
    EXPECT_EQ(settings.timeoutMs, 30000);

    ASSERT_EQ(Parse({"run", "firmware", "a.dcs", "--hold-prompt", "600000"}, &settings), 0);
    EXPECT_EQ(settings.holdPromptMs, 600000);

    // choose: the same port and jobs as run, without START.
    ASSERT_EQ(Parse({"choose", "profibus-id", "42", "--port", "COM12"}, &settings), 0);
    EXPECT_EQ(settings.command, kDriverChoose);
    EXPECT_EQ(settings.job, kJobProfibusId);
    EXPECT_EQ(settings.profibusId, 42);
    EXPECT_EQ(settings.portNumber, 12);
    ASSERT_EQ(Parse({"choose", "firmware", "Korvan.dcs"}, &settings), 0);
    EXPECT_EQ(settings.command, kDriverChoose);
    EXPECT_EQ(settings.job, kJobFirmware);
    EXPECT_STREQ(settings.fileName, "Korvan.dcs");
    EXPECT_EQ(settings.portNumber, 1);

    ASSERT_EQ(Parse({"quit", "--timeout", "9", "--timeout", "5"}, &settings), 0); // the last
    EXPECT_EQ(settings.command, kDriverQuit);
    EXPECT_EQ(settings.timeoutMs, 5000);
    ASSERT_EQ(Parse({"set-event", "quit-now"}, &settings), 0);
    EXPECT_EQ(settings.command, kDriverSetEvent);
    EXPECT_STREQ(settings.eventName, "quit-now");
    ASSERT_EQ(Parse({"--help"}, &settings), 0);
    EXPECT_EQ(settings.command, kDriverHelp);

    // The file name goes into the tool's edit: 99 characters at most.
    EXPECT_EQ(Parse({"run", "firmware", std::string(99, 'f').c_str()}, &settings), 0);
    EXPECT_EQ(Parse({"run", "firmware", std::string(100, 'f').c_str()}, &settings), 1);
}

TEST(DriverArguments, RefusesWhatItCannotDo) {
    DriverSettings settings;
    std::string error;
    EXPECT_EQ(Parse({}, &settings), 1);
    EXPECT_EQ(Parse({"dance"}, &settings, &error), 1);
    EXPECT_NE(error.find("dance"), std::string::npos);
    EXPECT_EQ(Parse({"run"}, &settings), 1);
    EXPECT_EQ(Parse({"run", "firmware"}, &settings), 1);
    EXPECT_EQ(Parse({"run", "firmware", ""}, &settings), 1);
    EXPECT_EQ(Parse({"run", "profibus-id", "0"}, &settings), 1);
    EXPECT_EQ(Parse({"run", "profibus-id", "128"}, &settings), 1);
    EXPECT_EQ(Parse({"run", "profibus-id", "4x"}, &settings), 1);
    EXPECT_EQ(Parse({"run", "firmware", "a.dcs", "--port", "COM0"}, &settings, &error), 1);
    EXPECT_NE(error.find("COM0"), std::string::npos) << error;
    EXPECT_EQ(Parse({"run", "firmware", "a.dcs", "--port", "257"}, &settings), 1);
    EXPECT_EQ(Parse({"run", "firmware", "a.dcs", "--port", "two"}, &settings), 1);
    EXPECT_EQ(Parse({"run", "firmware", "a.dcs", "--power-event"}, &settings), 1);
    EXPECT_EQ(Parse({"run", "firmware", "a.dcs", "--timeout", "0"}, &settings), 1);
    EXPECT_EQ(Parse({"quit", "--port", "2"}, &settings, &error), 1); // only for run
    EXPECT_NE(error.find("--port"), std::string::npos);
    EXPECT_EQ(Parse({"set-event"}, &settings), 1);
    EXPECT_EQ(Parse({"run", "dance"}, &settings, &error), 1);
    EXPECT_NE(error.find("dance"), std::string::npos) << error;
    EXPECT_EQ(Parse({"run", "firmware", "a.dcs", "--hold-prompt", "-1"}, &settings), 1);
    EXPECT_EQ(Parse({"run", "firmware", "a.dcs", "--hold-prompt", "600001"}, &settings), 1);
    EXPECT_EQ(Parse({"choose"}, &settings, &error), 1);
    EXPECT_NE(error.find("The job of choose"), std::string::npos) << error;
    EXPECT_EQ(Parse({"choose", "profibus-id", "128"}, &settings), 1);
    EXPECT_EQ(Parse({"choose", "firmware", "a.dcs", "--hold-prompt", "5"}, &settings), 1);
    EXPECT_EQ(Parse({"choose", "firmware", "a.dcs", "--power-event", "p"}, &settings), 1);
}

// The tool's port list: COM1 to COM8, then the PC's further ports, each entry
// carrying its port number as item data.
TEST(DriverPortChoice, FindsThePortByTheNumberItsEntryCarries) {
    HWND dialog =
        CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(dialog, nullptr);
    HWND list = CreateWindowA("COMBOBOX", "", WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 100, 100, dialog,
                              reinterpret_cast<HMENU>(21), nullptr, nullptr);
    ASSERT_NE(list, nullptr);
    for (int port : {1, 2, 3, 4, 5, 6, 7, 8, 12, 237}) {
        const std::string name = "COM" + std::to_string(port);
        LRESULT entry = SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
        SendMessageA(list, CB_SETITEMDATA, static_cast<WPARAM>(entry), port);
    }
    EXPECT_EQ(FindListEntryWithData(dialog, 21, 3), 2);
    EXPECT_EQ(FindListEntryWithData(dialog, 21, 12), 8);
    EXPECT_EQ(FindListEntryWithData(dialog, 21, 237), 9);
    EXPECT_EQ(FindListEntryWithData(dialog, 21, 9), -1);
    EXPECT_EQ(FindListEntryWithData(dialog, 22, 3), -1); // no such control
    DestroyWindow(dialog);
}
