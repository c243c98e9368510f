// Benchmark of the firmware download against the simulated module on a
// null-modem cable (tool on COM1, module on COM2 unless --tool-port and
// --module-port say otherwise; both in this process):
//   (a) unthrottled, 64 KiB: script bytes per second of the tool while it
//       streams, fixed waits excluded;
//   (b) the module paced at 9600 baud, 16 KiB: total time over its lower
//       bound (wire time of every byte both ways plus the fixed waits);
//   (c) the tool's CPU seconds, also as a share of the run's time, and the
//       process's peak memory for (b);
//   (d) the tool's CPU seconds for a detection that waits its 10 s in vain;
//   (e) as (a), with the console program's face in place of the dialog;
//   (i) as (b), through a stand-in for a driver that ends each write only
//       20 ms after it started, however few its bytes (a radio link, some
//       USB adapters): total time over the same lower bound.
// With --watch-ports it times the run that finds the module instead (see
// any_port_bench.h); with --station, korvan-cli.exe programming a module on
// every cable at once (see station_bench.h).
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <CLI/CLI.hpp>

#include "any_port_bench.h"
#include "station_bench.h"
#include "station_port.h"
#include "dialog_ids.h"
#include "console_options.h"
#include "port_table.h"
#include "simulator.h"
#include "support/download_bound.h"
#include "support/driver_double.h"
#include "support/peer_port.h"
#include "support/run_driver.h"

namespace {

int16_t toolPort = kToolPort;
int16_t modulePort = kModulePort;

// Times of what the run writes into its status line.
struct StatusWatch {
    WNDPROC original = nullptr;
    double firstByteMs = -1; // "Update firmware --> 0"
    double lastByteMs = -1;  // the last "Update firmware --> n"
    HANDLE monitorThread = nullptr;
    Stopwatch clock;
} watch;

LRESULT CALLBACK WatchStatus(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT) {
        const char* text = reinterpret_cast<const char*>(lParam);
        if (strncmp(text, "Update firmware --> ", 20) == 0) {
            watch.lastByteMs = watch.clock.Ms();
            if (strcmp(text + 20, "0") == 0) {
                watch.firstByteMs = watch.lastByteMs;
            }
        } else if (strcmp(text, "Wait for detection of Korvan") == 0 &&
                   watch.monitorThread == nullptr) {
            // The port is open: keep hold of its monitor thread's times.
            DuplicateHandle(GetCurrentProcess(), PortTable[toolPort].monitorThread,
                            GetCurrentProcess(), &watch.monitorThread, 0, FALSE,
                            DUPLICATE_SAME_ACCESS);
        }
    }
    return CallWindowProcA(watch.original, window, message, wParam, lParam);
}

double CpuSeconds(HANDLE thread) {
    FILETIME created, ended, kernel, user;
    if (thread == nullptr || !GetThreadTimes(thread, &created, &ended, &kernel, &user)) {
        return 0;
    }
    return CpuSecondsOf(kernel, user);
}

std::string Script(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    }
    return bytes;
}

struct Download {
    JobOutcome run;
    double streamingMs;
    SimReport report;
    double toolCpuSeconds;
};

// Watches a run of the dialog on the job already chosen: the times of its
// status line and the CPU of its dialog and monitor threads.
void WatchedRun(HWND dialog, bool switchModule, JobOutcome* run, double* cpuSeconds) {
    HWND status = GetDlgItem(dialog, IDC_STATE_LINE);
    watch = StatusWatch();
    watch.original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchStatus)));
    double cpuBefore = CpuSeconds(GetCurrentThread());
    *run = RunJob(dialog, switchModule);
    *cpuSeconds = CpuSeconds(GetCurrentThread()) - cpuBefore + CpuSeconds(watch.monitorThread);
    if (watch.monitorThread != nullptr) {
        CloseHandle(watch.monitorThread);
    }
    SetWindowLongPtrA(status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(watch.original));
}

// The firmware job through the dialog against the simulated module paced at
// pacingBaud (0: unpaced). With writeDelayMs, a driver stand-in in front of
// the tool's port ends each write that long after it started.
Download RunDownload(size_t size, int32_t pacingBaud, DWORD writeDelayMs = 0) {
    SimOptions options;
    SetDefaultSimOptions(&options);
    options.pacingBaud = pacingBaud;
    Download result = {};
    if (StartSimulator(modulePort, &options) != 0) {
        fprintf(stderr, "the simulated module could not open COM%d\n", modulePort);
        return result;
    }
    std::string path = WriteTempFile("bench.dcs", Script(size));
    if (writeDelayMs > 0) {
        char device[24]; // the name the serial layer opens the port by
        snprintf(device, sizeof device, toolPort <= 8 ? "COM%d" : "\\\\.\\COM%d", toolPort);
        InstallDriverDouble(device);
        driverDouble.writeCompletionDelayMs = writeDelayMs;
    }
    HWND dialog = OpenMainDialog();
    ChoosePort(dialog, toolPort);
    ChooseFirmwareJob(dialog, path);
    WatchedRun(dialog, true, &result.run, &result.toolCpuSeconds);
    if (writeDelayMs > 0) {
        RemoveDriverDouble();
    }
    result.streamingMs = watch.lastByteMs - watch.firstByteMs;
    ReadSimReport(&result.report);
    DestroyWindow(dialog);
    StopSimulator();
    DeleteFileA(path.c_str());
    return result;
}

// A Profibus-ID run whose module is never switched on: the detection waits
// its 10 s for a first byte. The CPU seconds of the run.
double RunSilentDetection() {
    HWND dialog = OpenMainDialog();
    ChoosePort(dialog, toolPort);
    ChooseProfibusJob(dialog, 3);
    JobOutcome run;
    double cpuSeconds = 0;
    WatchedRun(dialog, false, &run, &cpuSeconds);
    DestroyWindow(dialog);
    if (run.result != "Connected instrument is no Korvan module") {
        fprintf(stderr, "silent detection: result \"%s\"\n", run.result.c_str());
        return -1;
    }
    return cpuSeconds;
}

bool Succeeded(const Download& download, size_t size) {
    bool ok = download.run.result == " The programming of Firmware was successful. " &&
              download.report.checksumMatched == 1 &&
              download.report.firmwareByteCount == static_cast<int32_t>(size);
    if (!ok) {
        fprintf(stderr, "download failed: status \"%s\", result \"%s\"\n",
                download.run.status.c_str(), download.run.result.c_str());
    }
    return ok;
}

} // namespace

// The console program's face, its progress timed, its OFF/ON request
// answered by switching the module on.
struct ConsoleWatch {
    RunFace console;
    Stopwatch clock;
    double firstByteMs = -1;
    double lastByteMs = -1;
} consoleWatch;

void TimeProgress(void* context, int32_t index, int32_t size) {
    consoleWatch.lastByteMs = consoleWatch.clock.Ms();
    if (index == 0) {
        consoleWatch.firstByteMs = consoleWatch.lastByteMs;
    }
    consoleWatch.console.showProgress(context, index, size);
}

int16_t SwitchModuleOn(void* context, int16_t port, const char* text) {
    PowerOnModule();
    return consoleWatch.console.requestPowerCycle(context, port, text);
}

// The streaming rate of a firmware run on the console program's face against
// a module that answers at once; -1 when the run fails.
double RunConsoleDownload(size_t size) {
    SimOptions options;
    SetDefaultSimOptions(&options);
    if (StartSimulator(modulePort, &options) != 0) {
        return -1;
    }
    std::string path = WriteTempFile("bench-console.dcs", Script(size));
    FILE* steps = fopen("NUL", "w");
    StationJob job;
    job.ports = {toolPort};
    job.choices.mode = kFirmwareMode;
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, job.choices.scriptName, kScriptNameRoom);
    job.output = steps;
    job.errors = steps;
    OnePortStation station(job);
    consoleWatch.console = station.Face();
    RunFace watched = consoleWatch.console;
    watched.showProgress = TimeProgress;
    watched.requestPowerCycle = SwitchModuleOn;
    const RunOutcome outcome = RunProgramming(&watched);
    fclose(steps);
    StopSimulator();
    DeleteFileA(path.c_str());
    if (outcome != kRunSucceeded) {
        fprintf(stderr, "console download failed: %s\n", FailureText(outcome));
        return -1;
    }
    return (size - 1) * 1000.0 / (consoleWatch.lastByteMs - consoleWatch.firstByteMs);
}

int main(int argc, char** argv) {
    CLI::App app("Times the firmware download against the simulated module; both run in this\n"
                 "process, on the two ends of a null-modem cable.",
                 "korvan-bench.exe");
    app.set_help_flag("-h,--help", "print this help and end");
    app.add_option("--tool-port", toolPort, "the tool's end of the cable (default COM1)")
        ->transform(ComPortArgument())
        ->type_name("COMn");
    app.add_option("--module-port", modulePort, "the simulated module's end (default COM2)")
        ->transform(ComPortArgument())
        ->type_name("COMn");
    std::vector<std::string> watchNames;
    app.add_option("--watch-ports", watchNames,
                   "times finding the module with these ports watched (COMa,COMb,...); the "
                   "banner comes from --module-port, the far end of one of them")
        ->delimiter(',')
        ->type_name("COMn,...");
    std::vector<std::string> stationCables;
    app.add_option("--station", stationCables,
                   "times korvan-cli.exe on several cables at once, paced modules as "
                   "korvan-sim.exe processes: COMa-COMb,... (tool's end first)")
        ->delimiter(',')
        ->type_name("COMa-COMb,...");
    int idleSeconds = 60;
    app.add_option("--idle-seconds", idleSeconds,
                   "with --station: how long the serving station waits for modules, its "
                   "clients idle (default 60)")
        ->check(CLI::Range(1, 3600))
        ->type_name("S");
    int brokerPort = 0;
    app.add_option("--plant-broker", brokerPort,
                   "with --station: (k) instead of (h) and (j), the station publishing to the "
                   "MQTT broker on this loopback port, scraped every second, serving 16 event "
                   "streams")
        ->check(CLI::Range(1, 65535))
        ->type_name("PORT");
    try {
        app.parse(argc, argv);
        if (toolPort == modulePort) {
            throw CLI::ValidationError("the tool and the module need the two ends of a cable, "
                                       "not COM" +
                                       std::to_string(toolPort) + " twice");
        }
    } catch (const CLI::CallForHelp&) {
        fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::ParseError& e) {
        fprintf(stderr, "korvan-bench: %s\n", UsageProblem(e).c_str());
        return 2;
    }
    if (!stationCables.empty()) {
        std::vector<std::pair<int16_t, int16_t>> cables;
        for (const std::string& cable : stationCables) {
            const size_t dash = cable.find('-');
            const int tool =
                dash == std::string::npos ? 0 : PortNumberOfArgument(cable.substr(0, dash));
            const int module =
                dash == std::string::npos ? 0 : PortNumberOfArgument(cable.substr(dash + 1));
            if (tool == 0 || module == 0) {
                fprintf(stderr, "korvan-bench: --station: \"%s\" is no cable COMa-COMb\n",
                        cable.c_str());
                return 2;
            }
            cables.emplace_back(static_cast<int16_t>(tool), static_cast<int16_t>(module));
        }
        return RunStationBench(cables, idleSeconds, brokerPort);
    }
    if (!watchNames.empty()) {
        std::vector<int16_t> watch;
        for (const std::string& name : watchNames) {
            const int number = PortNumberOfArgument(name);
            if (number == 0 || watch.size() >= static_cast<size_t>(kWatchPortLimit)) {
                fprintf(stderr, "korvan-bench: --watch-ports: \"%s\" is not usable\n",
                        name.c_str());
                return 2;
            }
            watch.push_back(static_cast<int16_t>(number));
        }
        return RunAnyPortBench(watch.data(), static_cast<int16_t>(watch.size()), modulePort);
    }
    printf("Firmware download benchmark (tool on COM%d, simulated module on COM%d)\n\n", toolPort,
           modulePort);

    const size_t fastSize = 64 * 1024;
    Download fast = RunDownload(fastSize, 0);
    if (!Succeeded(fast, fastSize)) {
        return 1;
    }
    printf("(a) unthrottled, %zu script bytes\n", fastSize);
    printf("    streaming %.0f ms: %.0f script bytes/s (%.0f characters/s on the wire)\n",
           fast.streamingMs, (fastSize - 1) * 1000.0 / fast.streamingMs,
           2 * (fastSize - 1) * 1000.0 / fast.streamingMs);
    printf("    whole run %.0f ms, prompt %.0f ms of it\n\n", fast.run.runMs, fast.run.promptMs);

    const size_t pacedSize = 16 * 1024;
    const int32_t baud = 9600;
    Download paced = RunDownload(pacedSize, baud);
    if (!Succeeded(paced, pacedSize)) {
        return 1;
    }
    const int32_t startupBytes = 31; // the module's start-up output, banner included
    double totalMs = paced.run.runMs - paced.run.promptMs;
    double boundMs = DownloadLowerBoundMs(pacedSize, baud, startupBytes);
    printf("(b) module paced at %d baud, %zu script bytes\n", baud, pacedSize);
    printf("    total %.0f ms (prompt excluded), lower bound %.0f ms: ratio %.4f\n\n", totalMs,
           boundMs, totalMs / boundMs);

    PROCESS_MEMORY_COUNTERS memory;
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    printf("(c) for (b): tool CPU %.2f s (dialog thread and the port's monitor thread),"
           " %.1f %% of the run's %.1f s\n",
           paced.toolCpuSeconds, 100 * paced.toolCpuSeconds * 1000 / paced.run.runMs,
           paced.run.runMs / 1000);
    printf("    process peak working set %.1f MiB, peak private bytes %.1f MiB"
           " (tool and simulated module together)\n",
           memory.PeakWorkingSetSize / 1048576.0, memory.PeakPagefileUsage / 1048576.0);

    double silentCpu = RunSilentDetection();
    if (silentCpu < 0) {
        return 1;
    }
    printf("\n(d) a detection that waits 10 s in vain: tool CPU %.2f s\n", silentCpu);

    const double consoleRate = RunConsoleDownload(fastSize);
    if (consoleRate < 0) {
        return 1;
    }
    printf("\n(e) as (a) on the console program's face: %.0f script bytes/s\n", consoleRate);

    const DWORD writeDelayMs = 20;
    Download slowDriver = RunDownload(pacedSize, baud, writeDelayMs);
    if (!Succeeded(slowDriver, pacedSize)) {
        return 1;
    }
    const double slowMs = slowDriver.run.runMs - slowDriver.run.promptMs;
    printf("\n(i) as (b), through a driver that ends each write %lu ms after it started\n",
           static_cast<unsigned long>(writeDelayMs));
    printf("    total %.0f ms (prompt excluded), lower bound %.0f ms: ratio %.4f\n", slowMs,
           boundMs, slowMs / boundMs);
    return 0;
}
