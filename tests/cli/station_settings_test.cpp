// korvan-cli --config FILE as a program: a settings file's errors end it
// with exit status 1 before any port is opened, naming the file, the line
// and the key; the command line wins over the file; relative paths are
// taken from the file's folder; --check says what the station would do
// without sending a byte.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/console_process.h"
#include "support/peer_port.h"
#include "support/text_checks.h"

namespace {

struct Ran {
    int exitCode = -1;
    std::string output;
    std::string errors;
};

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = TempPath("settings");
        CreateDirectoryA(folder_.c_str(), nullptr);
        Write("Korvan.dcs", "; sample\r\n0123456789");
    }
    void TearDown() override {
        for (const char* name : {"station.ini", "Korvan.dcs", "runs.csv"}) {
            DeleteFileA((folder_ + "\\" + name).c_str());
        }
        RemoveDirectoryA(folder_.c_str());
    }
    void Write(const std::string& name, const std::string& text) {
        HANDLE file = CreateFileA((folder_ + "\\" + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
    // korvan-cli with the settings file holding text, and further arguments.
    Ran Run(const std::string& text, const std::string& arguments) {
        Write("station.ini", text);
        ConsoleProcess cli;
        Ran ran;
        if (!cli.Start("korvan-cli.exe", "--config \"" + File() + "\" " + arguments, true)) {
            ADD_FAILURE() << "korvan-cli.exe did not start";
            return ran;
        }
        cli.CloseInput();
        ran.exitCode = cli.Wait(20000);
        ran.output = WithoutCarriageReturns(cli.Output());
        ran.errors = WithoutCarriageReturns(cli.Errors());
        return ran;
    }
    std::string File() const {
        return folder_ + "\\station.ini";
    }
    std::string folder_;
};

const char kGood[] = "port = COM1\nrepeat = true\njob = firmware\nscript = Korvan.dcs\n";

TEST_F(SettingsTest, AWrongSettingIsAUsageErrorNamingFileLineAndKey) {
    struct Case {
        const char* text;
        const char* problem; // after "korvan-cli: FILE, "
    } cases[] = {
        {"port = COM1\nbogus = 1\n", "line 2, bogus: no such setting"},
        {"# the line's station\nport = COM1\nwait-start = 0\n",
         "line 3, wait-start: 0 is no number from 1 to 3600"},
        {"port = COM1\nrepeat = maybe\n", "line 2, repeat: "},
        {"port = COM1\n\nport = COM3\n", "line 3, port: given before, on line 1"},
        {"port = COM999\n", "line 1, port: "},
        {"[station]\nport = COM1\n", "line 1: [station]: the file has no sections"},
        {"port = COM1\nhelp = true\n", "line 2, help: no such setting"},
        {"port = COM1\njob = flash\n",
         "line 2, job: flash is none of firmware, profibus-id, read-id"},
        {"port = COM1\njob = firmware\n", "line 2, job: firmware needs script = FILE"},
        {"port = COM1\nscript = Korvan.dcs\n", "line 2, script: not for a file without job"},
        {"job = read-id\nprofibus-id = 5\n", "line 2, profibus-id: not for job = read-id"},
        {"job = profibus-id\nprofibus-id = 200\n", "job profibus-id: "},
    };
    for (const Case& c : cases) {
        const Ran ran = Run(c.text, "");
        EXPECT_EQ(ran.exitCode, 1) << c.text;
        EXPECT_TRUE(Contains(ran.errors, "korvan-cli: " + File() + ", " + c.problem))
            << c.text << "\n"
            << ran.errors;
        EXPECT_EQ(ran.output, "") << c.text;
    }
}

TEST_F(SettingsTest, AFileThatCannotBeReadIsAUsageError) {
    ConsoleProcess cli;
    ASSERT_TRUE(cli.Start("korvan-cli.exe", "--config \"" + folder_ + "\\none.ini\"", true));
    cli.CloseInput();
    EXPECT_EQ(cli.Wait(20000), 1);
    EXPECT_TRUE(Contains(cli.Errors(), "none.ini, cannot be read: ")) << cli.Errors();
}

// The check loads the script and opens the log from the file's folder
// (the program's own folder is another), and says so.
TEST_F(SettingsTest, CheckTakesRelativePathsFromTheFilesFolder) {
    const Ran ran = Run(std::string(kGood) + "log = runs.csv\n", "--check");
    EXPECT_EQ(ran.exitCode, 0) << ran.errors;
    EXPECT_TRUE(Contains(ran.output, "port     COM1, module after module\n")) << ran.output;
    EXPECT_TRUE(Contains(ran.output, "firmware " + folder_ + "\\Korvan.dcs (20 bytes)"))
        << ran.output;
    EXPECT_TRUE(Contains(ran.output, "log      " + folder_ + "\\runs.csv (can be written)"))
        << ran.output;
    EXPECT_TRUE(Contains(ran.output, "the station can run as set\n")) << ran.output;
}

// The command line wins: its value is taken and the file's is not even
// judged; a job given there replaces the file's.
TEST_F(SettingsTest, TheCommandLineWinsOverTheFile) {
    const std::string file = std::string(kGood) + "wait-start = 0\n";
    Ran ran = Run(file, "--wait-start 5 --check");
    EXPECT_EQ(ran.exitCode, 0) << ran.errors;
    ran = Run(file, "--wait-start 5 --check profibus-id 42");
    EXPECT_EQ(ran.exitCode, 0) << ran.errors;
    EXPECT_TRUE(Contains(ran.output, "job      profibus-id 42\n")) << ran.output;
    ran = Run(kGood, "--port COM150 --check");
    EXPECT_EQ(ran.exitCode, 1);
    EXPECT_TRUE(Contains(ran.errors, "COM150: this PC has no such port now")) << ran.errors;
}

// What --check cannot find ends it with 1; nothing of it is a port's.
TEST_F(SettingsTest, CheckFailsOnAScriptThatDoesNotLoad) {
    const Ran ran = Run("port = COM1\njob = firmware\nscript = missing.dcs\n", "--check");
    EXPECT_EQ(ran.exitCode, 1);
    EXPECT_TRUE(Contains(ran.errors, "missing.dcs: The Script file could not be loaded"))
        << ran.errors;
    EXPECT_TRUE(Contains(ran.output, "the station cannot run as set\n")) << ran.output;
}

} // namespace
