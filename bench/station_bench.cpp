// (h) One module paced at 9600 baud, 16 KiB, through korvan-cli.exe; then
// the same on every cable at once. The station's wall time against the one
// module's, and the tool's CPU over the station's run as a share of one core.
#include "station_bench.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "support/console_process.h"
#include "support/peer_port.h"
#include "support/run_driver.h"

namespace {

const char kRequest[] = "Please switch the Korvan module OFF and then ON";

double ProcessCpuSeconds(HANDLE process) {
    FILETIME created, ended, kernel, user;
    return GetProcessTimes(process, &created, &ended, &kernel, &user) ? CpuSecondsOf(kernel, user)
                                                                      : 0;
}

struct StationRun {
    bool ok = false;
    double wallSeconds = 0; // from the modules' power-on to the tool's end
    double cpuSeconds = 0;  // the tool's
};

StationRun RunOnce(const std::vector<std::pair<int16_t, int16_t>>& cables,
                   const std::string& script) {
    StationRun run;
    std::vector<std::unique_ptr<ConsoleProcess>> modules;
    std::string ports;
    for (const auto& cable : cables) {
        modules.push_back(std::make_unique<ConsoleProcess>());
        if (!modules.back()->Start("sim\\korvan-sim.exe",
                                   "COM" + std::to_string(cable.second) + " --pace 9600")) {
            fprintf(stderr, "korvan-sim.exe did not start\n");
            return run;
        }
        ports += (ports.empty() ? "" : ",") + ("COM" + std::to_string(cable.first));
    }
    ConsoleProcess cli;
    if (!cli.Start("korvan-cli.exe", "--port " + ports + " firmware \"" + script + "\"", true)) {
        fprintf(stderr, "korvan-cli.exe did not start\n");
        return run;
    }
    cli.CloseInput();
    if (!cli.AwaitErrorText(kRequest, 30000)) {
        fprintf(stderr, "no OFF/ON request\n");
        return run;
    }
    Stopwatch clock;
    for (auto& module : modules) {
        module->Send("p\n");
    }
    const int status = cli.Wait(600000);
    run.wallSeconds = clock.Ms() / 1000;
    run.cpuSeconds = ProcessCpuSeconds(cli.Handle());
    for (auto& module : modules) {
        module->Send("q\n");
        module->CloseInput();
        module->Wait(10000);
    }
    run.ok = status == 0;
    if (!run.ok) {
        fprintf(stderr, "the station ended with %d:\n%s\n", status, cli.Errors().c_str());
    }
    return run;
}

} // namespace

double CpuSecondsOf(const FILETIME& kernel, const FILETIME& user) {
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return (k.QuadPart + u.QuadPart) / 1e7;
}

int RunStationBench(const std::vector<std::pair<int16_t, int16_t>>& cables) {
    const std::string script = WriteTempFile("bench-station.dcs", std::string(16 * 1024, 'S'));
    printf("Station benchmark: %zu modules paced at 9600 baud, 16384 script bytes each\n\n",
           cables.size());
    const StationRun one = RunOnce({cables[0]}, script);
    const StationRun all = one.ok ? RunOnce(cables, script) : StationRun();
    DeleteFileA(script.c_str());
    if (!one.ok || !all.ok) {
        return 1;
    }
    printf("(h) one module: %.1f s, tool CPU %.2f s (%.1f %% of one core)\n", one.wallSeconds,
           one.cpuSeconds, 100 * one.cpuSeconds / one.wallSeconds);
    printf("    %zu at once: %.1f s, %.3f x one module's time; tool CPU %.2f s (%.1f %% of one "
           "core)\n",
           cables.size(), all.wallSeconds, all.wallSeconds / one.wallSeconds, all.cpuSeconds,
           100 * all.cpuSeconds / all.wallSeconds);
    return 0;
}
