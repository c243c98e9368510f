#include "station_check.h"

#include <cstdio>

#include "module_log.h"
#include "port_list.h"
#include "run_face.h"
#include "script_store.h"

namespace {

void Tell(const std::string& what, const std::string& text) {
    printf("  %-8s %s\n", what.c_str(), text.c_str());
}

bool Problem(const std::string& what, const std::string& text) {
    fprintf(stderr, "korvan-cli: %s: %s\n", what.c_str(), text.c_str());
    return false;
}

bool CheckPorts(const StationJob& job) {
    if (job.ports[0] == kAnyPort) {
        Tell("port", "auto: the port the module announces itself on");
        return true;
    }
    int16_t present[kPortSlots];
    const int16_t count = ListPresentPorts(present, kPortSlots);
    bool good = true;
    std::string names;
    for (int16_t port : job.ports) {
        bool found = false;
        for (int16_t k = 0; k < count; ++k) {
            found = found || present[k] == port;
        }
        const std::string name = "COM" + std::to_string(port);
        names += (names.empty() ? "" : ", ") + name;
        if (!found) {
            good = Problem("--port", name + ": this PC has no such port now");
        }
    }
    Tell("port", names + (job.repeat ? ", module after module" : ", one module each") +
                     (job.count > 0 ? " (" + std::to_string(job.count) + " in all)" : ""));
    return good;
}

bool CheckJob(const StationJob& job, int16_t slot) {
    if (job.choices.mode == kProfibusIdMode) {
        Tell("job", "profibus-id " + std::to_string(job.choices.profibusId));
        return true;
    }
    if (job.choices.mode == kReadIdMode) {
        Tell("job", "read-id");
        return true;
    }
    if (LoadScript(slot, job.choices.scriptName) != 0) {
        return Problem("script", job.scriptName + ": The Script file could not be loaded");
    }
    Tell("job", "firmware " + job.scriptName + " (" + std::to_string(ScriptSize(slot)) + " bytes)");
    ReleaseScript(slot);
    return true;
}

bool CheckLog(const std::string& name) {
    if (name.empty()) {
        Tell("log", "none");
        return true;
    }
    ModuleLog log;
    const std::string problem = log.Open(name);
    if (!problem.empty()) {
        return Problem("--log", name + ": " + problem);
    }
    Tell("log", name + " (can be written)");
    return true;
}

} // namespace

int CheckStation(const CommandLine& line, const StationJob& job, int16_t scriptSlot) {
    printf("korvan-cli --check: %s\n",
           line.configFile.empty() ? "the command line" : line.configFile.c_str());
    bool good = CheckPorts(job);
    good = CheckJob(job, scriptSlot) && good;
    good = CheckLog(line.logFile) && good;
    if (!line.traceFile.empty()) {
        Tell("trace", line.traceFile + " (can be created)");
    }
    Tell("serve", line.serve.empty() ? "no page"
                                     : line.serve + (line.serveTokenFile.empty()
                                                         ? ""
                                                         : ", secret from " + line.serveTokenFile));
    if (!line.stopEvent.empty()) {
        Tell("stop", "event " + line.stopEvent);
    }
    printf("%s\n", good ? "korvan-cli --check: the station can run as set"
                        : "korvan-cli --check: the station cannot run as set");
    fflush(stdout);
    return good ? 0 : kUsageError;
}
