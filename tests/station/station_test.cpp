// korvan-cli.exe as a production station: several ports at once, module
// after module, the log of each module, read-id and Ctrl+C. The tool runs on
// COM1, COM3 and COM12; a korvan-sim.exe process plays each module on the
// cable's far end (COM2, COM4, COM200). Standard input is a pipe: after the
// one OFF/ON request the runs wait for their modules' start-up output.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "module_log.h"
#include "support/sim_process.h"
#include "support/text_checks.h"
#include "support/console_process.h"
#include "support/firmware_wire.h"
#include "support/peer_port.h"
#include "support/run_driver.h"
#include "support/talker.h"

namespace {

const char kRequest[] = "Please switch the Korvan module OFF and then ON";

// The lines of a log, CR LF taken off.
std::vector<std::string> LogLines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream text(ReadWholeFile(path));
    for (std::string line; std::getline(text, line);) {
        EXPECT_FALSE(line.empty() || line.back() != '\r') << "a line without CR LF: " << line;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

// A port's modules and failed modules in a summary: "3 1".
std::string SummaryCounts(const std::string& output, int port) {
    std::istringstream summary(output);
    const std::string name = "COM" + std::to_string(port);
    for (std::string line; std::getline(summary, line);) {
        std::istringstream fields(line);
        std::string first, modules, failed;
        if (fields >> first >> modules >> failed && first == name) {
            return modules + " " + failed;
        }
    }
    return "no row for " + name;
}

// The fields of a log line (no field of these tests holds a line break).
std::vector<std::string> CsvFields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t k = 0; k < line.size(); ++k) {
        const char c = line[k];
        if (quoted && c == '"' && k + 1 < line.size() && line[k + 1] == '"') {
            fields.back() += '"';
            ++k;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

enum LogColumn {
    kTime,
    kPort,
    kJob,
    kScript,
    kScriptBytes,
    kSha256,
    kOldId,
    kNewId,
    kStartup,
    kStatus,
    kOutcome,
    kDetail,
    kSeconds,
    kStation,
    kOrder,
    kOperator,
    kColumns
};

struct CliRun {
    int exitCode = -1;
    std::string output;
    std::string errors;
};

class StationTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const std::string& path : files_) {
            DeleteFileA(path.c_str());
        }
    }
    std::string Temp(const std::string& name) {
        files_.push_back(TempPath(name));
        DeleteFileA(files_.back().c_str());
        return files_.back();
    }
    std::string Script(const std::string& name, const std::string& bytes) {
        files_.push_back(WriteTempFile(name, bytes));
        return files_.back();
    }
    bool StartCli(ConsoleProcess* cli, const std::string& arguments, DWORD flags = 0) {
        if (!cli->Start("korvan-cli.exe", arguments, true, flags)) {
            ADD_FAILURE() << "korvan-cli.exe did not start";
            return false;
        }
        cli->CloseInput();
        return true;
    }
    static CliRun Finish(ConsoleProcess* cli, int timeoutMs = 60000) {
        CliRun run;
        run.exitCode = cli->Wait(timeoutMs);
        run.output = WithoutCarriageReturns(cli->Output());
        run.errors = WithoutCarriageReturns(cli->Errors());
        return run;
    }
    std::vector<std::string> files_;
};

} // namespace

TEST_F(StationTest, ThreePortsAtOnceOneFailingItsAcknowledgement) {
    std::string bytes;
    for (int k = 0; k < 300; ++k) {
        bytes += static_cast<char>(k * 7 + 1);
    }
    const std::string script = Script("fw, v2.dcs", bytes);
    const std::string log = Temp("station3.csv");
    Module modules[3];
    ASSERT_TRUE(modules[0].Start(2, ""));
    ASSERT_TRUE(modules[1].Start(4, "--ack-fault missing --ack-block 0"));
    ASSERT_TRUE(modules[2].Start(200, ""));

    ConsoleProcess cli;
    ASSERT_TRUE(StartCli(&cli, "--port COM1,COM3 --port COM12 --log \"" + log + "\" firmware \"" +
                                   script + "\""));
    ASSERT_TRUE(cli.AwaitErrorText(kRequest, 20000));
    for (Module& module : modules) {
        module.PowerOn();
    }
    CliRun run = Finish(&cli);
    EXPECT_EQ(run.exitCode, 6) << run.errors;
    // One request for all of them.
    EXPECT_EQ(run.errors.find(kRequest), run.errors.rfind(kRequest)) << run.errors;
    EXPECT_TRUE(Contains(run.errors, "COM3: Korvan could not be programmed (")) << run.errors;
    EXPECT_TRUE(Contains(run.errors, "  no acknowledgement after script byte 95 within 700 ms\n"))
        << run.errors;
    EXPECT_TRUE(Contains(run.errors, "COM12: 100 % (300 of 300 bytes)\n")) << run.errors;
    // The summary: a heading and the ports in command-line order.
    std::istringstream summary(run.output);
    std::string line;
    std::vector<std::string> rows;
    while (std::getline(summary, line)) {
        rows.push_back(line);
    }
    ASSERT_EQ(rows.size(), 4u) << run.output;
    EXPECT_EQ(rows[1].rfind("COM1 ", 0), 0u);
    EXPECT_TRUE(Contains(rows[1], "The programming of Firmware was successful."));
    EXPECT_TRUE(Contains(rows[2], "Korvan could not be programmed"));
    EXPECT_EQ(rows[3].rfind("COM12 ", 0), 0u);
    EXPECT_TRUE(Contains(rows[3], "The programming of Firmware was successful."));

    EXPECT_EQ(modules[0].Received(), FirmwareWire(bytes, 300));
    EXPECT_EQ(modules[1].Received(), FirmwareWire(bytes, 96));
    EXPECT_EQ(modules[2].Received(), FirmwareWire(bytes, 300));

    const std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 4u);
    // A new log begins with UTF-8's byte-order mark.
    EXPECT_EQ(lines[0],
              "\xEF\xBB\xBFtime_utc,port,job,script,script_bytes,script_sha256,old_profibus_id,"
              "new_profibus_id,startup_output,exit_status,outcome,detail,seconds,station,order,"
              "operator");
    std::vector<std::string> failed;
    for (size_t k = 1; k < lines.size(); ++k) {
        const std::vector<std::string> fields = CsvFields(lines[k]);
        ASSERT_EQ(fields.size(), static_cast<size_t>(kColumns)) << lines[k];
        EXPECT_EQ(fields[kTime].size(), 20u) << fields[kTime]; // 2026-12-08T09:15:02Z
        EXPECT_EQ(fields[kTime].back(), 'Z');
        EXPECT_EQ(fields[kJob], "firmware");
        EXPECT_EQ(fields[kScript], script);
        EXPECT_EQ(fields[kScriptBytes], "300");
        // sha256sum of the 300 bytes k * 7 + 1
        EXPECT_EQ(fields[kSha256],
                  "b1b36f51f514d11c6cd3a9656327f180209d503961ff0616db46cf88921deb28");
        EXPECT_EQ(fields[kStartup], "Korvan V2.07");
        if (fields[kPort] == "COM3") {
            failed = fields;
        } else {
            EXPECT_EQ(fields[kStatus], "0");
            EXPECT_EQ(fields[kOutcome], "The programming of Firmware was successful.");
            EXPECT_EQ(fields[kDetail], "");
        }
    }
    // The name with its comma is quoted.
    EXPECT_TRUE(Contains(lines[1], ",\"" + script + "\",300,")) << lines[1];
    ASSERT_FALSE(failed.empty());
    EXPECT_EQ(failed[kStatus], "6");
    EXPECT_EQ(failed[kOutcome], "Korvan could not be programmed");
    EXPECT_EQ(failed[kDetail], "no acknowledgement after script byte 95 within 700 ms");
}

// Quotes in a field are doubled, and the field quoted; so are line breaks.
TEST(StationLog, QuotesFieldsAsSpreadsheetsReadThem) {
    ModuleLogLine line;
    line.timeUtc = "2026-12-08T09:15:02Z";
    line.port = 3;
    line.job = "profibus-id";
    line.oldProfibusId = 7;
    line.newProfibusId = 42;
    line.startup = "Korvan \"V2\"";
    line.exitStatus = 8;
    line.outcome = "Error in received configuration of Korvan module";
    line.detail = "record of 62 characters\r\nand more";
    line.seconds = 3.25;
    EXPECT_EQ(CsvLine(line),
              "2026-12-08T09:15:02Z,COM3,profibus-id,,,,7,42,\"Korvan \"\"V2\"\"\",8,"
              "Error in received configuration of Korvan module,\"record of 62 "
              "characters\r\nand more\",3.2,,,\r\n");
}

TEST_F(StationTest, RepeatCountsModulesInTurnAndLogsEach) {
    const std::string log = Temp("repeat.csv");
    ConsoleProcess cli;
    ASSERT_TRUE(
        StartCli(&cli, "--port COM1 --repeat --count 3 --log \"" + log +
                           "\" --station \"line 2\" --order L-0042 --operator Ana profibus-id 42"));
    ASSERT_TRUE(cli.AwaitErrorText(kRequest, 20000));
    // Three modules on the tray's one place, one after the other; the second
    // sends a record of 62 characters.
    const char* const options[] = {"--station 7", "--config-length 62", "--station 9"};
    const char* const outcomes[] = {"COM1: The programming of Profibus-ID was successful.",
                                    "COM1: Error in received configuration of Korvan module",
                                    "COM1: The programming of Profibus-ID was successful."};
    const int times[] = {1, 1, 2};
    std::string received[3];
    for (int k = 0; k < 3; ++k) {
        Module module;
        ASSERT_TRUE(module.Start(2, options[k]));
        // The port waits for its next module once the last one is done.
        if (k > 0) {
            EXPECT_TRUE(cli.AwaitErrorText("COM1: next module: switch it ON", 20000, k));
        }
        module.PowerOn();
        EXPECT_TRUE(cli.AwaitErrorText(std::string(outcomes[k]) + " (", 20000, times[k])) << k;
        received[k] = module.Received();
    }
    CliRun run = Finish(&cli, 20000);
    EXPECT_EQ(run.exitCode, 8) << run.errors; // the port's first failure
    // The port waited for a next module twice: the third was the last.
    size_t waits = 0;
    for (size_t at = run.errors.find("COM1: next module: switch it ON\n"); at != std::string::npos;
         at = run.errors.find("COM1: next module: switch it ON\n", at + 1)) {
        ++waits;
    }
    EXPECT_EQ(waits, 2u) << run.errors;
    EXPECT_EQ(SummaryCounts(run.output, 1), "3 1") << run.output;
    // The record went back with the new ID; the refused one got nothing back.
    EXPECT_EQ(received[0].substr(0, 2), "\x15\x04");
    EXPECT_EQ(received[0].substr(2 + 28, 2), "2A");
    EXPECT_EQ(received[1], "\x15");

    const std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 4u);
    const std::vector<std::string> first = CsvFields(lines[1]);
    const std::vector<std::string> second = CsvFields(lines[2]);
    const std::vector<std::string> third = CsvFields(lines[3]);
    ASSERT_EQ(first.size(), static_cast<size_t>(kColumns));
    ASSERT_EQ(second.size(), static_cast<size_t>(kColumns));
    ASSERT_EQ(third.size(), static_cast<size_t>(kColumns));
    EXPECT_EQ(
        std::vector<std::string>(first.begin() + kPort, first.begin() + kDetail + 1),
        (std::vector<std::string>{"COM1", "profibus-id", "", "", "", "7", "42", "Korvan V2.07", "0",
                                  "The programming of Profibus-ID was successful.", ""}));
    EXPECT_EQ(std::vector<std::string>(second.begin() + kPort, second.begin() + kDetail + 1),
              (std::vector<std::string>{"COM1", "profibus-id", "", "", "", "", "", "Korvan V2.07",
                                        "8", "Error in received configuration of Korvan module",
                                        "record of 62 characters"}));
    EXPECT_EQ(third[kOldId], "9");
    EXPECT_EQ(third[kNewId], "42");
    for (const std::vector<std::string>* fields : {&first, &second, &third}) {
        EXPECT_EQ(std::vector<std::string>(fields->begin() + kStation, fields->end()),
                  (std::vector<std::string>{"line 2", "L-0042", "Ana"}));
    }
    EXPECT_LT(std::stod(first[kSeconds]), 20.0);
}

// Two stations program from one firmware file: the second loads it while
// the first runs; the file is then replaced, and the first programs its
// next module from the bytes it read when it started, which its rows'
// SHA-256 names.
TEST_F(StationTest, AFirmwareFileIsSharedAndReplacedWhileAStationRuns) {
    const std::string bytes = ScriptBytes(256);
    const std::string script = Script("shared.dcs", bytes);
    const std::string log = Temp("shared.csv");
    ConsoleProcess station;
    ASSERT_TRUE(StartCli(&station, "--port COM1 --repeat --count 2 --log \"" + log +
                                       "\" firmware \"" + script + "\""));
    ASSERT_TRUE(station.AwaitErrorText(kRequest, 20000));
    std::string received[2];
    for (int k = 0; k < 2; ++k) {
        Module module;
        ASSERT_TRUE(module.Start(2, ""));
        if (k > 0) {
            ASSERT_TRUE(station.AwaitErrorText("COM1: next module: switch it ON", 20000));
        }
        module.PowerOn();
        ASSERT_TRUE(station.AwaitErrorText("COM1: The programming of Firmware was successful.",
                                           20000, k + 1));
        received[k] = module.Received();
        if (k == 0) {
            Module other;
            ASSERT_TRUE(other.Start(4, ""));
            ConsoleProcess second;
            ASSERT_TRUE(StartCli(&second, "--port COM3 firmware \"" + script + "\""));
            ASSERT_TRUE(second.AwaitErrorText(kRequest, 20000));
            other.PowerOn();
            const CliRun run = Finish(&second, 30000);
            EXPECT_EQ(run.exitCode, 0) << run.errors;
            EXPECT_EQ(other.Received(), FirmwareWire(bytes));
            WriteTempFile("shared.dcs", ScriptBytes(100));
        }
    }
    const CliRun run = Finish(&station, 20000);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(received[1], FirmwareWire(bytes));
    const std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 3u);
    const std::string sha256 =
        Sha256Text(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    for (size_t k = 1; k < lines.size(); ++k) {
        EXPECT_EQ(CsvFields(lines[k])[kSha256], sha256) << lines[k];
    }
}

TEST_F(StationTest, ReadIdPrintsTheStationAddressAndWritesNothingBack) {
    Module fives;
    Module nineties;
    ASSERT_TRUE(fives.Start(2, "--station 5"));
    ASSERT_TRUE(nineties.Start(4, "--station 99"));
    ConsoleProcess first;
    ConsoleProcess second;
    ASSERT_TRUE(StartCli(&first, "--port COM1 read-id"));
    ASSERT_TRUE(StartCli(&second, "--port COM3 read-id"));
    ASSERT_TRUE(first.AwaitErrorText(kRequest, 20000));
    ASSERT_TRUE(second.AwaitErrorText(kRequest, 20000));
    fives.PowerOn();
    nineties.PowerOn();
    CliRun one = Finish(&first);
    CliRun two = Finish(&second);
    EXPECT_EQ(one.exitCode, 0) << one.errors;
    EXPECT_EQ(two.exitCode, 0) << two.errors;
    EXPECT_EQ(one.output, "5\n");
    EXPECT_EQ(two.output, "99\n");
    EXPECT_TRUE(Contains(one.errors, "Configuration record: ")) << one.errors;
    // The record: value 14 is the station address.
    const size_t at = two.errors.find("Configuration record: ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(two.errors.substr(at + 22 + 28, 2), "63");
    EXPECT_EQ(fives.Received(), "\x15");
    EXPECT_EQ(nineties.Received(), "\x15");
}

// Ctrl+Break goes to the tool's process group alone. Wine (here) refuses to
// send console control events to a process started with pipes; the tool's
// stop event, which takes the same way through the tool, stands in then.
TEST_F(StationTest, CtrlBreakInTheMiddleOfADownloadIsLoggedAsInterrupted) {
    const std::string script = Script("long.dcs", std::string(6000, 'K'));
    // A log of an earlier day: appended to, no second header.
    const std::string log = Temp("interrupted.csv");
    const std::string earlier =
        "time_utc,port,job,script,script_bytes,script_sha256,old_profibus_id,new_profibus_id,"
        "startup_output,exit_status,outcome,detail,seconds\r\n"
        "2026-12-07T16:00:00Z,COM1,read-id,,,,3,,Korvan V2.07,0,Profibus-ID 3,,2.0\r\n";
    files_.push_back(WriteTempFile("interrupted.csv", earlier));
    NamedStopEvent stop("korvan-station-test-stop");
    ASSERT_NE(stop.Handle(), nullptr);
    Module module;
    ASSERT_TRUE(module.Start(2, "--pace 9600"));
    ConsoleProcess cli;
    ASSERT_TRUE(StartCli(&cli,
                         "--port COM1 --repeat --stop-event " + stop.Name() + " --log \"" + log +
                             "\" firmware \"" + script + "\"",
                         CREATE_NEW_PROCESS_GROUP));
    ASSERT_TRUE(cli.AwaitErrorText(kRequest, 20000));
    module.PowerOn();
    ASSERT_TRUE(cli.AwaitErrorText("COM1:  10 %", 30000));
    const ULONGLONG sentMs = GetTickCount64();
    if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, cli.Id())) {
        stop.Set();
    }
    CliRun run = Finish(&cli, 20000);
    EXPECT_LT(GetTickCount64() - sentMs, 8000u);
    EXPECT_EQ(run.exitCode, 9) << run.errors;
    EXPECT_TRUE(Contains(run.errors, "COM1: The run was interrupted (")) << run.errors;
    EXPECT_TRUE(Contains(run.output, "The run was interrupted")) << run.output;
    const std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(ReadWholeFile(log).substr(0, earlier.size()), earlier);
    // A log begun with the earlier header keeps its columns, and the
    // station says so once.
    const std::vector<std::string> fields = CsvFields(lines[2]);
    ASSERT_EQ(fields.size(), static_cast<size_t>(kStation));
    EXPECT_EQ(CountOf(run.errors, "the log keeps the columns it was begun with"), 1u) << run.errors;
    EXPECT_EQ(fields[kStatus], "9");
    EXPECT_EQ(fields[kOutcome], "The run was interrupted");
    // Nothing more was sent once the run was cut: no checksum line.
    const std::string received = module.Received();
    EXPECT_EQ(received.find('\n'), std::string::npos);
    EXPECT_LT(received.size(), 2u + 12000u);
}

// A device that is no module on a station's port is logged once, not again
// and again while it talks on: the port waits for a silent line first.
TEST_F(StationTest, ATalkingDeviceIsLoggedOnceAndNotTakenForTheNextModule) {
    const std::string log = Temp("talker.csv");
    NamedStopEvent stop("korvan-talker-test-stop");
    ASSERT_NE(stop.Handle(), nullptr);
    Talker gps(2, {"$GPGGA,092750.000,5321.6802,N,00630.3372,W,1,8,1.03,61.7,M,55.2,M,,*76\r\n"},
               20);
    gps.SwitchOn();
    ConsoleProcess cli;
    ASSERT_TRUE(StartCli(&cli, "--port COM1 --repeat --stop-event " + stop.Name() + " --log \"" +
                                   log + "\" profibus-id 3"));
    EXPECT_TRUE(cli.AwaitErrorText("COM1: Connected instrument is no Korvan module (", 30000));
    Sleep(3000);
    stop.Set();
    CliRun run = Finish(&cli, 20000);
    // The first module that did not succeed; the stop came while the port
    // waited for the next one.
    EXPECT_EQ(run.exitCode, 4) << run.errors;
    EXPECT_EQ(gps.Stop(), ""); // nothing was sent to it
    const std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 2u) << run.errors << ReadWholeFile(log);
    EXPECT_EQ(CsvFields(lines[1])[kDetail], "no banner in the first 1000 bytes of start-up output");
}

TEST_F(StationTest, ALogThatCannotBeOpenedEndsTheRunBeforeAnything) {
    Module module;
    ASSERT_TRUE(module.Start(2, ""));
    module.PowerOn();
    ConsoleProcess cli;
    ASSERT_TRUE(StartCli(&cli, "--port COM1 --log \"C:\\no such folder\\modules.csv\" read-id"));
    CliRun run = Finish(&cli, 20000);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.errors.rfind("korvan-cli: the log \"C:\\no such folder\\modules.csv\" cannot be "
                               "opened: ",
                               0),
              0u)
        << run.errors;
    EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1);
    EXPECT_EQ(module.Received(), "");
}

// A line controller that set the stop event for an earlier station and
// keeps its handle: the next station resets it and runs.
TEST_F(StationTest, AStopGivenBeforeTheStationBeganIsNotItsStop) {
    NamedStopEvent stop("korvan-old-stop", true);
    ASSERT_NE(stop.Handle(), nullptr);
    Module module;
    ASSERT_TRUE(module.Start(2, "--station 7"));
    ConsoleProcess cli;
    ASSERT_TRUE(StartCli(&cli, "--port COM1 --stop-event " + stop.Name() + " profibus-id 42"));
    ASSERT_TRUE(cli.AwaitErrorText(kRequest, 20000));
    module.PowerOn();
    CliRun run = Finish(&cli);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.output, " The programming of Profibus-ID was successful. \n");
    EXPECT_EQ(WaitForSingleObject(stop.Handle(), 0),
              static_cast<DWORD>(WAIT_TIMEOUT)); // it was reset
    EXPECT_EQ(module.Received().substr(0, 2), "\x15\x04");
}

// A stop while the program is still loading its script (a large one) is
// not lost: no port is opened, nothing is sent, exit status 9. The detail
// says that the stop came before any port was opened: one that came later
// would have cut a run short instead.
TEST_F(StationTest, AStopWhileTheScriptLoadsEndsTheRunWithNothingSent) {
    const std::string script = Script("large.dcs", std::string(24 * 1024 * 1024, 'L'));
    NamedStopEvent stop("korvan-early-stop", true);
    ASSERT_NE(stop.Handle(), nullptr);
    Module module;
    ASSERT_TRUE(module.Start(2, ""));
    ConsoleProcess cli;
    ASSERT_TRUE(
        StartCli(&cli, "--port COM1 --stop-event " + stop.Name() + " firmware \"" + script + "\""));
    // The station resets its event as it starts; the stop comes right after.
    Stopwatch clock;
    while (WaitForSingleObject(stop.Handle(), 0) == WAIT_OBJECT_0 && clock.Ms() < 5000) {
        Sleep(1);
    }
    stop.Set();
    module.PowerOn(); // a run that went on would take it
    CliRun run = Finish(&cli, 20000);
    EXPECT_EQ(run.exitCode, 9) << run.errors;
    EXPECT_TRUE(Contains(run.errors, "The run was interrupted\nstopped before any port was opened"))
        << run.errors;
    EXPECT_EQ(module.Received(), "");
}

// A technician at the console whose standard error goes to a file still
// sees the request; and a run that ends before Enter was pressed (a stop)
// ends its process at once, whatever its console input does: a single run
// and a station alike.
TEST_F(StationTest, TheRequestReachesTheConsoleAndTheProgramEndsWithoutItsEnter) {
    const struct {
        const char* ports;
        const char* enterLine;
    } kRuns[] = {{"COM1,COM3", "(all of them; press Enter when they are switched on again)"},
                 {"COM1", "(press Enter when it is switched on again)"}};
    for (const auto& form : kRuns) {
        NamedStopEvent stop("korvan-console-stop");
        ASSERT_NE(stop.Handle(), nullptr);
        ConsoleProcess cli;
        ASSERT_TRUE(cli.StartWithConsole("korvan-cli.exe", std::string("--port ") + form.ports +
                                                               " --stop-event " + stop.Name() +
                                                               " read-id"));
        ASSERT_TRUE(cli.AwaitErrorText(form.enterLine, 20000)) << form.ports;
        std::string screen;
        Stopwatch seen;
        while (!Contains(screen, form.enterLine) && seen.Ms() < 5000) {
            Sleep(50);
            screen = cli.ConsoleScreen();
        }
        EXPECT_TRUE(Contains(screen, std::string(kRequest) + "\n" + form.enterLine)) << screen;
        stop.Set();
        Stopwatch clock;
        const int exitCode = cli.Wait(10000);
        EXPECT_LT(clock.Ms(), 1000 + 3000) << form.ports;
        // No module began: the stop came while the ports waited for them.
        EXPECT_EQ(exitCode, 9) << form.ports << ": " << cli.Errors();
    }
}

// Ports that cannot be opened: no request for modules that cannot be
// programmed, and no module in the summary.
TEST_F(StationTest, PortsThatCannotBeOpenedGetNoRequestAndCountNoModule) {
    ConsoleProcess cli;
    ASSERT_TRUE(StartCli(&cli, "--port COM5,COM6 profibus-id 3"));
    CliRun run = Finish(&cli, 30000);
    EXPECT_EQ(run.exitCode, 3) << run.errors;
    EXPECT_FALSE(Contains(run.errors, kRequest)) << run.errors;
    std::istringstream summary(run.output);
    std::string line;
    std::getline(summary, line); // the heading
    for (const char* port : {"COM5 ", "COM6 "}) {
        ASSERT_TRUE(std::getline(summary, line)) << run.output;
        EXPECT_EQ(line.rfind(port, 0), 0u) << line;
        EXPECT_EQ(SummaryCounts(run.output, port[3] - '0'), "0 0") << run.output;
        EXPECT_TRUE(Contains(line, "Error on opening the COM-Port")) << line;
    }
}

// --count counts the modules that started: a port that cannot be opened
// takes none of them.
TEST_F(StationTest, CountCountsOnlyModulesThatStarted) {
    const std::string log = Temp("count.csv");
    Module module;
    ASSERT_TRUE(module.Start(2, "--station 7"));
    ConsoleProcess cli;
    ASSERT_TRUE(
        StartCli(&cli, "--port COM1,COM5 --repeat --count 2 --log \"" + log + "\" profibus-id 9"));
    ASSERT_TRUE(cli.AwaitErrorText(kRequest, 20000));
    module.PowerOn();
    ASSERT_TRUE(cli.AwaitErrorText("COM1: The programming of Profibus-ID was successful.", 20000));
    ASSERT_TRUE(cli.AwaitErrorText("COM1: next module: switch it ON", 20000));
    module.PowerOn();
    CliRun run = Finish(&cli, 20000);
    // The station ends by itself after two modules; its first failure in
    // time was COM5's opening.
    EXPECT_EQ(run.exitCode, 3) << run.errors;
    EXPECT_EQ(SummaryCounts(run.output, 1), "2 0") << run.output;
    const std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 4u) << ReadWholeFile(log);
    EXPECT_EQ(CsvFields(lines[1])[kPort], "COM5");
    EXPECT_EQ(CsvFields(lines[2])[kStatus], "0");
    EXPECT_EQ(CsvFields(lines[3])[kStatus], "0");
}

// An empty fixture on COM1 while COM3 takes the two modules of --count 2:
// COM1 waits past --wait-start with no row and no failure, the turns go to
// the modules that come, and the station ends by itself after the second.
TEST_F(StationTest, AnEmptyFixtureTakesNoTurnAndIsNoFailure) {
    const std::string log = Temp("fixture.csv");
    Module module;
    ASSERT_TRUE(module.Start(4, "--station 7"));
    ConsoleProcess cli;
    ASSERT_TRUE(StartCli(&cli, "--port COM1,COM3 --repeat --count 2 --wait-start 1 --log \"" + log +
                                   "\" profibus-id 9"));
    ASSERT_TRUE(cli.AwaitErrorText(kRequest, 20000));
    Sleep(1500); // past --wait-start
    module.PowerOn();
    ASSERT_TRUE(cli.AwaitErrorText("COM3: The programming of Profibus-ID was successful.", 20000));
    ASSERT_TRUE(cli.AwaitErrorText("COM3: next module: switch it ON", 20000));
    module.PowerOn();
    CliRun run = Finish(&cli, 20000);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_TRUE(Contains(run.errors, "COM1: the other ports have the last modules\n"))
        << run.errors;
    EXPECT_EQ(SummaryCounts(run.output, 1), "0 0") << run.output;
    EXPECT_EQ(SummaryCounts(run.output, 3), "2 0") << run.output;
    const std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 3u) << ReadWholeFile(log);
    EXPECT_EQ(CsvFields(lines[1])[kPort], "COM3");
    EXPECT_EQ(CsvFields(lines[2])[kPort], "COM3");
}

// With --repeat the stop ends a shift: when it comes while the ports wait
// for their next module, every module done succeeded.
TEST_F(StationTest, ARepeatStationStoppedWhileItWaitsEndsWithTheModulesOutcome) {
    NamedStopEvent stop("korvan-shift-stop");
    ASSERT_NE(stop.Handle(), nullptr);
    Module module;
    ASSERT_TRUE(module.Start(2, ""));
    ConsoleProcess cli;
    ASSERT_TRUE(StartCli(&cli, "--port COM1 --repeat --stop-event " + stop.Name() + " read-id"));
    ASSERT_TRUE(cli.AwaitErrorText(kRequest, 20000));
    module.PowerOn();
    ASSERT_TRUE(cli.AwaitErrorText("COM1: next module: switch it ON", 20000));
    stop.Set();
    CliRun run = Finish(&cli, 20000);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(SummaryCounts(run.output, 1), "1 0") << run.output;
}

// A log of other columns is not appended to: one line, before any port.
TEST_F(StationTest, ALogOfOtherColumnsIsRefusedBeforeAnyPortIsOpened) {
    files_.push_back(WriteTempFile("other.csv", "date,serial,result\r\n2026-12-01,42,ok\r\n"));
    const std::string log = files_.back();
    Module module;
    ASSERT_TRUE(module.Start(2, ""));
    module.PowerOn();
    ConsoleProcess cli;
    ASSERT_TRUE(StartCli(&cli, "--port COM1 --log \"" + log + "\" read-id"));
    CliRun run = Finish(&cli, 20000);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.errors, "its first line is not this program's header: "
                                     "\"date,serial,result\"\n"))
        << run.errors;
    EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1);
    EXPECT_EQ(ReadWholeFile(log), "date,serial,result\r\n2026-12-01,42,ok\r\n");
    EXPECT_EQ(module.Received(), "");
}

// A field that a spreadsheet would run as a formula is shown as text.
TEST(StationLog, FieldsThatLookLikeFormulasAreShownAsText) {
    EXPECT_EQ(CsvField("=HYPERLINK(\"x\")"), "\"'=HYPERLINK(\"\"x\"\")\"");
    EXPECT_EQ(CsvField("+49 170"), "'+49 170");
    EXPECT_EQ(CsvField("-1"), "'-1");
    EXPECT_EQ(CsvField("@SUM(A1)"), "'@SUM(A1)");
    EXPECT_EQ(CsvField("\tx"), "'\tx");
    EXPECT_EQ(CsvField("Korvan V2.07 = ok"), "Korvan V2.07 = ok");
    EXPECT_EQ(CsvField(""), "");
    // Our own header, with or without the byte-order mark, takes our lines.
    EXPECT_EQ(LogHeaderProblem(kModuleLogHeader), "");
    EXPECT_EQ(LogHeaderProblem(std::string(kUtf8ByteOrderMark) + kModuleLogHeader + "2026"), "");
    EXPECT_EQ(LogHeaderProblem(""), "");
    EXPECT_NE(LogHeaderProblem("time_utc,port,job\r\n"), "");
}
