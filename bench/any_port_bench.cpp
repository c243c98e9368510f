#include "any_port_bench.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include "station_port.h"
#include "serial_port.h"
#include "support/peer_port.h"

namespace {

// Times of one run, taken by the face's calls.
struct AnyPortWatch {
    RunFace console;
    HANDLE peer = INVALID_HANDLE_VALUE; // sends the banner; none for a silent run
    Stopwatch clock;
    double bannerSentMs = -1;
    double foundMs = -1;
    int16_t foundPort = 0;
    std::thread sender;
} anyWatch;

// The module switched on 300 ms after the request: its start-up output in
// one write; the pty hands it on at once.
int16_t SendBanner(void*, int16_t, const char*) {
    if (anyWatch.peer == INVALID_HANDLE_VALUE) {
        return 0;
    }
    anyWatch.sender = std::thread([] {
        Sleep(300);
        PeerWrite(anyWatch.peer, "\r\nKorvan V2.3\r\nKonfigmode...");
        anyWatch.bannerSentMs = anyWatch.clock.Ms();
    });
    return 0;
}

void NoteFound(void*, int16_t port) {
    anyWatch.foundMs = anyWatch.clock.Ms();
    anyWatch.foundPort = port;
}

RunOutcome RunWatch(const int16_t* watch, int16_t count) {
    FILE* steps = fopen("NUL", "w");
    StationJob job;
    job.ports = {kAnyPort};
    job.choices.mode = kProfibusIdMode;
    job.choices.profibusId = 3;
    job.choices.port = kAnyPort;
    job.choices.watchCount = count;
    std::copy(watch, watch + count, job.choices.watchPorts);
    job.output = steps;
    job.errors = steps;
    OnePortStation station(job);
    anyWatch.console = station.Face();
    RunFace timed = anyWatch.console;
    timed.requestPowerCycle = SendBanner;
    timed.portFound = NoteFound;
    anyWatch.foundMs = anyWatch.bannerSentMs = -1;
    const RunOutcome outcome = RunProgramming(&timed);
    if (anyWatch.sender.joinable()) {
        anyWatch.sender.join();
    }
    fclose(steps);
    return outcome;
}

double ProcessCpuSeconds() {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    auto seconds = [](const FILETIME& time) {
        return ((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

} // namespace

int RunAnyPortBench(const int16_t* watch, int16_t count, int16_t bannerPort) {
    printf("Finding the module on any port: %d ports watched, the banner from COM%d\n\n",
           static_cast<int>(count), static_cast<int>(bannerPort));
    std::vector<double> delays;
    for (int round = 0; round < 5; ++round) {
        anyWatch.peer = OpenPeer(bannerPort);
        if (anyWatch.peer == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "COM%d does not open\n", bannerPort);
            return 1;
        }
        RunWatch(watch, count);
        CloseHandle(anyWatch.peer);
        anyWatch.peer = INVALID_HANDLE_VALUE;
        if (anyWatch.foundMs < 0 || anyWatch.bannerSentMs < 0) {
            fprintf(stderr, "the module was not found\n");
            return 1;
        }
        delays.push_back(anyWatch.foundMs - anyWatch.bannerSentMs);
    }
    std::sort(delays.begin(), delays.end());
    printf("(f) from the banner's last byte to the choice of COM%d: median %.1f ms, worst %.1f ms"
           " of %zu runs\n",
           static_cast<int>(anyWatch.foundPort), delays[delays.size() / 2], delays.back(),
           delays.size());

    const double cpuBefore = ProcessCpuSeconds();
    Stopwatch clock;
    const RunOutcome outcome = RunWatch(watch, count);
    const double runMs = clock.Ms();
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    if (outcome != kNoKorvanModule) {
        fprintf(stderr, "silent watch: %s\n", FailureText(outcome));
        return 1;
    }
    printf("(g) %d silent ports watched until their 10 s ran out (%.1f s in all, opening and "
           "closing included): CPU %.2f s\n",
           static_cast<int>(count), runMs / 1000, cpu);

    // For comparison: the same ports only held open as long, each with its
    // monitor thread's 50 ms tick, and not watched.
    const double heldBefore = ProcessCpuSeconds();
    for (int16_t k = 0; k < count; ++k) {
        PortConfig config = ModuleLineConfig(watch[k], nullptr);
        OpenPort(&config);
    }
    Sleep(static_cast<DWORD>(runMs));
    for (int16_t k = 0; k < count; ++k) {
        ClosePort(watch[k]);
    }
    printf("    the same ports only held open as long, without the watch: CPU %.2f s\n",
           ProcessCpuSeconds() - heldBefore);
    return 0;
}
