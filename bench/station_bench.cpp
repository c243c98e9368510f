// (h) One module paced at 9600 baud, 16 KiB, through korvan-cli.exe; then
// the same on every cable at once. The station's wall time against the one
// module's, and the tool's CPU over the station's run as a share of one core.
#include "station_bench.h"

#include <cstdio>
#include <string>

#include "plant_bench.h"
#include "serve_bench.h"
#include "support/run_driver.h"

namespace {

StationRun RunOnce(const Cables& cables, const std::string& script) {
    PacedStation station;
    if (!station.Start(cables, "firmware \"" + script + "\"")) {
        return StationRun();
    }
    station.PowerOn();
    return station.Finish();
}

} // namespace

int RunStationBench(const Cables& cables, int idleSeconds, int brokerPort) {
    const std::string script = WriteTempFile("bench-station.dcs", std::string(16 * 1024, 'S'));
    printf("Station benchmark: %zu modules paced at 9600 baud, 16384 script bytes each\n\n",
           cables.size());
    const StationRun one = RunOnce({cables[0]}, script);
    if (brokerPort > 0) {
        printf("(h) one module: %.1f s\n", one.wallSeconds);
        const int status =
            one.ok ? RunPlantBench(cables, script, one.wallSeconds, "127.0.0.1", brokerPort) : 1;
        DeleteFileA(script.c_str());
        return status;
    }
    const StationRun all = one.ok ? RunOnce(cables, script) : StationRun();
    if (!one.ok || !all.ok) {
        DeleteFileA(script.c_str());
        return 1;
    }
    printf("(h) one module: %.1f s, tool CPU %.2f s (%.1f %% of one core)\n", one.wallSeconds,
           one.cpuSeconds, 100 * one.cpuSeconds / one.wallSeconds);
    printf("    %zu at once: %.1f s, %.3f x one module's time; tool CPU %.2f s (%.1f %% of one "
           "core)\n",
           cables.size(), all.wallSeconds, all.wallSeconds / one.wallSeconds, all.cpuSeconds,
           100 * all.cpuSeconds / all.wallSeconds);
    fflush(stdout);
    const int status = RunServeBench(cables, script, one.wallSeconds, idleSeconds);
    DeleteFileA(script.c_str());
    return status;
}
