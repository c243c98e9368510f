// What a station tells of its modules: the job's name, a module's outcome
// text and log line, and the exit status of all its modules.
#include "station.h"

#include "run_texts.h"

namespace {

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

const char* JobName(RunMode mode) {
    switch (mode) {
    case kFirmwareMode:
        return "firmware";
    case kProfibusIdMode:
        return "profibus-id";
    case kReadIdMode:
        return "read-id";
    }
    return "";
}

std::string OutcomeText(const StationJob& job, const RunReport& report, const std::string& result) {
    if (report.outcome != kRunSucceeded) {
        return FailureText(report.outcome);
    }
    if (job.choices.mode == kReadIdMode) {
        return "Profibus-ID " + std::to_string(report.oldProfibusId);
    }
    return Trimmed(result);
}

ModuleLogLine LogLineOf(const StationJob& job, const RunReport& report, const std::string& result,
                        const std::string& startUtc, double seconds) {
    ModuleLogLine line;
    line.timeUtc = startUtc;
    line.port = report.port;
    line.job = JobName(job.choices.mode);
    if (job.choices.mode == kFirmwareMode) {
        line.scriptName = job.scriptName;
        line.scriptSize = job.scriptSize;
        line.scriptSha256 = job.scriptSha256;
    }
    line.oldProfibusId = report.oldProfibusId;
    if (job.choices.mode == kProfibusIdMode && report.outcome == kRunSucceeded) {
        line.newProfibusId = job.choices.profibusId;
    }
    line.startup = report.startup;
    line.exitStatus = report.outcome;
    line.outcome = OutcomeText(job, report, result);
    line.detail = report.detail;
    if (line.detail.empty() && report.outcome == kPortNotOpened) {
        line.detail = PortOpenReason(report.port);
    }
    line.seconds = seconds;
    line.station = job.stationName;
    line.order = job.order;
    line.operatorName = job.operatorName;
    return line;
}

int StationExitStatus(const std::vector<ModuleEnd>& ends, bool repeat) {
    const ModuleEnd* first = nullptr;
    for (const ModuleEnd& end : ends) {
        if (end.outcome == 0) {
            continue;
        }
        // With --repeat the first in time, else the first in command-line
        // order; the port's place breaks a tie.
        const bool earlier =
            first == nullptr ||
            (repeat && (end.endMs < first->endMs ||
                        (end.endMs == first->endMs && end.portIndex < first->portIndex))) ||
            (!repeat && end.portIndex < first->portIndex);
        if (earlier) {
            first = &end;
        }
    }
    return first == nullptr ? 0 : first->outcome;
}
