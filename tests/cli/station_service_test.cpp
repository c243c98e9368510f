// korvan-cli as a Windows service under Wine's service manager: installed
// with a settings file whose paths are relative, started with sc, its page
// answering and a simulated module programmed and logged into the file's
// folder, stopped with sc within 5 s with its exit status reported, and
// removed without a trace in the registry. Wine runs the service in the
// test's own prefix, on the same cables.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "http_client.h"
#include "support/console_process.h"
#include "support/peer_port.h"
#include "support/sim_process.h"
#include "support/text_checks.h"

namespace {

const char kService[] = "KorvanStationTest";
const wchar_t kServiceWide[] = L"KorvanStationTest";

// A program of the system (sc.exe) with its arguments; its exit code, -1
// when it did not end within 20 s.
int RunSystemProgram(const std::string& command) {
    std::wstring wide(command.begin(), command.end());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, &wide[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

struct Said {
    int exitCode = -1;
    std::string output;
};

Said Cli(const std::string& arguments) {
    ConsoleProcess cli;
    Said said;
    if (cli.Start("korvan-cli.exe", arguments)) {
        cli.CloseInput();
        said.exitCode = cli.Wait(40000);
        said.output = WithoutCarriageReturns(cli.Output());
    }
    return said;
}

// The service's status as the service manager keeps it; false when there
// is no such service.
bool QueryService(SERVICE_STATUS* status) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, kServiceWide, SERVICE_QUERY_STATUS);
    const bool found = service != nullptr && QueryServiceStatus(service, status);
    if (service != nullptr) {
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return found;
}

bool KeyExists(const wchar_t* key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(opened);
    return true;
}

class ServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Cli(std::string("service remove ") + kService); // a run before may have left it
        folder_ = TempPath("service");
        CreateDirectoryA(folder_.c_str(), nullptr);
        Write("Korvan.dcs", "; sample\r\nabc");
    }
    void TearDown() override {
        Cli(std::string("service remove ") + kService);
        for (const char* name : {"station.ini", "Korvan.dcs", "runs.csv"}) {
            DeleteFileA(Path(name).c_str());
        }
        RemoveDirectoryA(folder_.c_str());
    }
    std::string Path(const std::string& name) const {
        return folder_ + "\\" + name;
    }
    void Write(const std::string& name, const std::string& text) {
        HANDLE file = CreateFileA(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
    void Install(const std::string& settings) {
        Write("station.ini", settings);
        const Said said = Cli(std::string("service install ") + kService + " --config \"" +
                              Path("station.ini") + "\"");
        ASSERT_EQ(said.exitCode, 0) << said.output;
    }
    // Starts the service with sc and gives the port of its page, once it
    // serves; 0 when it does not.
    uint16_t StartAndFindPage() {
        if (RunSystemProgram(std::string("sc.exe start ") + kService) != 0) {
            return 0;
        }
        std::string status;
        AwaitTrue(
            [&] {
                status = Cli(std::string("service status ") + kService).output;
                return Contains(status, "running, page at http://127.0.0.1:");
            },
            20000);
        const size_t at = status.find("127.0.0.1:");
        return at == std::string::npos ? 0
                                       : static_cast<uint16_t>(std::stoi(status.substr(at + 10)));
    }
    // True once the station's page says that its port waits for a module
    // ("switch the module OFF and ON"): the page answers before the ports are
    // opened, and a module switched on before its port is open goes unheard.
    bool AwaitModuleAsked(uint16_t port) {
        return AwaitTrue(
            [&] {
                return Contains(Ask(port, RequestText("GET", "/api/station", port)).body,
                                "switch the module OFF and ON");
            },
            20000);
    }
    // Stops the service with sc: true when it has stopped within 5 s.
    bool StopWithSc(SERVICE_STATUS* state) {
        Stopwatch stop;
        if (RunSystemProgram(std::string("sc.exe stop ") + kService) != 0) {
            return false;
        }
        AwaitTrue([&] { return QueryService(state) && state->dwCurrentState == SERVICE_STOPPED; },
                  10000);
        EXPECT_LT(stop.Ms(), 5000.0);
        return state->dwCurrentState == SERVICE_STOPPED;
    }
    std::string folder_;
};

TEST_F(ServiceTest, RunsTheStationOfItsSettingsUntilScStopsIt) {
    Install("port = COM1\nrepeat = true\nserve = 0\nlog = runs.csv\n"
            "job = firmware\nscript = Korvan.dcs\n");
    // The station says where its page is once it serves.
    const uint16_t port = StartAndFindPage();
    ASSERT_NE(port, 0);
    EXPECT_EQ(Ask(port, RequestText("GET", "/api/station", port)).status, 200);

    // No Enter is asked for: the port waits for its module.
    Module module;
    ASSERT_TRUE(module.Start(2, ""));
    ASSERT_TRUE(AwaitModuleAsked(port));
    module.PowerOn();
    ASSERT_TRUE(
        AwaitTrue([&] { return Contains(ReadWholeFile(Path("runs.csv")), "successful"); }, 30000))
        << ReadWholeFile(Path("runs.csv"));

    SERVICE_STATUS state = {};
    ASSERT_TRUE(StopWithSc(&state));
    EXPECT_EQ(state.dwWin32ExitCode, static_cast<DWORD>(NO_ERROR)); // the shift's end
    EXPECT_TRUE(Contains(Cli(std::string("service status ") + kService).output,
                         std::string(kService) + ": stopped\n"));

    EXPECT_EQ(Cli(std::string("service remove ") + kService).exitCode, 0);
    EXPECT_FALSE(QueryService(&state));
    EXPECT_FALSE(KeyExists(L"SYSTEM\\CurrentControlSet\\Services\\KorvanStationTest"));
    EXPECT_FALSE(
        KeyExists(L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\KorvanStation"));
}

// A stop from the service manager in the middle of a module's download is
// the station's stop: the module is logged as interrupted, and the service
// ends with that status.
TEST_F(ServiceTest, AStopDuringADownloadLogsTheModuleAndReportsNine) {
    Write("long.dcs", "; long\r\n" + std::string(6000, 'K'));
    Install("port = COM1\nrepeat = true\nserve = 0\nlog = runs.csv\n"
            "job = firmware\nscript = long.dcs\n");
    const uint16_t port = StartAndFindPage();
    ASSERT_NE(port, 0);
    Module module;
    ASSERT_TRUE(module.Start(2, "--pace 9600"));
    ASSERT_TRUE(AwaitModuleAsked(port));
    module.PowerOn();
    ASSERT_TRUE(AwaitTrue(
        [&] {
            return Contains(Ask(port, RequestText("GET", "/api/station", port)).body,
                            "\"state\":\"programming\"");
        },
        20000));
    SERVICE_STATUS state = {};
    ASSERT_TRUE(StopWithSc(&state));
    EXPECT_EQ(state.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(state.dwServiceSpecificExitCode, 9u);
    EXPECT_TRUE(Contains(ReadWholeFile(Path("runs.csv")), ",9,The run was interrupted,"))
        << ReadWholeFile(Path("runs.csv"));
    DeleteFileA(Path("long.dcs").c_str());
}

// Settings with which the station could never run are no service.
TEST_F(ServiceTest, InstallsOnlySettingsThatPassTheCheck) {
    Write("station.ini", "job = firmware\nscript = Korvan.dcs\n"); // no port
    const Said said = Cli(std::string("service install ") + kService + " --config \"" +
                          Path("station.ini") + "\"");
    EXPECT_EQ(said.exitCode, 1);
    SERVICE_STATUS state = {};
    EXPECT_FALSE(QueryService(&state));
}

// A station that ends by itself stops the service with its exit status as
// the service's own exit code: its one port cannot be opened, or its
// settings have become unusable since the service was installed.
TEST_F(ServiceTest, ReportsTheStationsExitStatusWhenItEnds) {
    struct Case {
        const char* settingsAtStart;
        DWORD status;
    } cases[] = {
        {"port = COM5\njob = read-id\n", 3}, // Error on opening the COM-Port
        {"port = COM5\njob = read-id\nbogus = 1\n", 1},
    };
    for (const Case& c : cases) {
        Install("port = COM5\njob = read-id\n");
        Write("station.ini", c.settingsAtStart);
        ASSERT_EQ(RunSystemProgram(std::string("sc.exe start ") + kService), 0);
        SERVICE_STATUS state = {};
        ASSERT_TRUE(AwaitTrue(
            [&] { return QueryService(&state) && state.dwCurrentState == SERVICE_STOPPED; },
            20000));
        EXPECT_EQ(state.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
        EXPECT_EQ(state.dwServiceSpecificExitCode, c.status);
        EXPECT_TRUE(Contains(Cli(std::string("service status ") + kService).output,
                             std::string(kService) + ": stopped, exit status " +
                                 std::to_string(c.status) + "\n"));
        EXPECT_EQ(Cli(std::string("service remove ") + kService).exitCode, 0);
    }
}

} // namespace
