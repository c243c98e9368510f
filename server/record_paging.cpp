#include "record_paging.h"

#include "http_guard.h"

std::string EventId(const std::string& run, int64_t sequence) {
    return run.empty() ? std::to_string(sequence) : run + "." + std::to_string(sequence);
}

bool ResumeAfter(const std::string& text, const std::string& run, const std::string& thisRun,
                 int64_t* after) {
    const size_t dot = text.rfind('.');
    const std::string named = dot == std::string::npos ? run : text.substr(0, dot);
    int64_t sequence = 0;
    if (!ParseSequence(dot == std::string::npos ? text : text.substr(dot + 1), &sequence) ||
        (dot != std::string::npos && named.empty())) {
        return false;
    }
    *after = named.empty() || named == thisRun ? sequence : 0;
    return true;
}

bool PageLimit(const std::string& text, size_t* limit) {
    int64_t value = 0;
    if (!ParseSequence(text, &value) || value < 1) {
        return false;
    }
    *limit = value > static_cast<int64_t>(kPageRecords) ? kPageRecords : static_cast<size_t>(value);
    return true;
}
