// The command line of korvan-demo-driver.exe.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver_job.h"

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

    ASSERT_EQ(Parse({"run", "profibus-id", "127", "--port", "8", "--power-event", "power",
                     "--timeout", "30"},
                    &settings),
              0);
    EXPECT_EQ(settings.job, kJobProfibusId);
    EXPECT_EQ(settings.profibusId, 127);
    EXPECT_EQ(settings.portNumber, 8);
    EXPECT_STREQ(settings.powerEventName, "power");
    EXPECT_EQ(settings.timeoutMs, 30000);

    ASSERT_EQ(Parse({"quit", "--timeout", "5"}, &settings), 0);
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
    EXPECT_EQ(Parse({"run", "firmware", "a.dcs", "--port", "9"}, &settings), 1);
    EXPECT_EQ(Parse({"run", "firmware", "a.dcs", "--power-event"}, &settings), 1);
    EXPECT_EQ(Parse({"run", "firmware", "a.dcs", "--timeout", "0"}, &settings), 1);
    EXPECT_EQ(Parse({"quit", "--port", "2"}, &settings, &error), 1); // only for run
    EXPECT_NE(error.find("--port"), std::string::npos);
    EXPECT_EQ(Parse({"set-event"}, &settings), 1);
}
