#include "paced_station.h"

#include <cstdio>

namespace {

const char kRequest[] = "Please switch the Korvan module OFF and then ON";

} // namespace

bool PacedStation::Start(const Cables& cables, const std::string& arguments, bool modules) {
    std::string ports;
    for (const auto& cable : cables) {
        if (modules) {
            modules_.push_back(std::make_unique<ConsoleProcess>());
            if (!modules_.back()->Start("sim\\korvan-sim.exe",
                                        "COM" + std::to_string(cable.second) + " --pace 9600")) {
                fprintf(stderr, "korvan-sim.exe did not start\n");
                return false;
            }
        }
        ports += (ports.empty() ? "" : ",") + ("COM" + std::to_string(cable.first));
    }
    if (!cli_.Start("korvan-cli.exe", "--port " + ports + " " + arguments, true)) {
        fprintf(stderr, "korvan-cli.exe did not start\n");
        return false;
    }
    cli_.CloseInput();
    if (!cli_.AwaitErrorText(kRequest, 30000)) {
        fprintf(stderr, "no OFF/ON request\n");
        return false;
    }
    return true;
}

void PacedStation::PowerOn() {
    poweredOn_ = std::chrono::steady_clock::now();
    for (auto& module : modules_) {
        module->Send("p\n");
    }
}

double PacedStation::Ms() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - poweredOn_)
        .count();
}

StationRun PacedStation::Finish() {
    StationRun run;
    const int status = cli_.Wait(600000);
    run.wallSeconds = Ms() / 1000;
    run.cpuSeconds = ProcessCpuSeconds(cli_.Handle());
    for (auto& module : modules_) {
        module->Send("q\n");
        module->CloseInput();
        module->Wait(10000);
    }
    run.ok = status == 0;
    if (!run.ok) {
        fprintf(stderr, "the station ended with %d:\n%s\n", status, cli_.Errors().c_str());
    }
    return run;
}

double CpuSecondsOf(const FILETIME& kernel, const FILETIME& user) {
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return (k.QuadPart + u.QuadPart) / 1e7;
}

double ProcessCpuSeconds(HANDLE process) {
    FILETIME created, ended, kernel, user;
    return GetProcessTimes(process, &created, &ended, &kernel, &user) ? CpuSecondsOf(kernel, user)
                                                                      : 0;
}
