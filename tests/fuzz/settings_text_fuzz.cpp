// A settings file's text. Whatever its bytes, it is read or refused with a
// problem naming a line of it, never an exception; what is read keeps its
// lines in order, each key once, and becomes arguments of the option it
// names, a relative file name taken from the file's folder.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "settings_file.h"

#define CHECK(condition)                                                                           \
    if (!(condition)) {                                                                            \
        fprintf(stderr, "broken: %s\n", #condition);                                               \
        abort();                                                                                   \
    }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<Setting> settings;
    std::string problem;
    try {
        problem = ReadSettingsText(text, &settings);
    } catch (...) {
        fprintf(stderr, "an exception escaped the settings' reading\n");
        abort();
    }
    if (!problem.empty()) {
        CHECK(problem.compare(0, 5, "line ") == 0);
        return 0;
    }
    int lines = 1;
    for (char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    const std::string folder = "C:\\line 3\\";
    std::set<std::string> keys;
    int last = 0;
    for (const Setting& setting : settings) {
        CHECK(setting.line > last && setting.line <= lines);
        last = setting.line;
        CHECK(!setting.key.empty() && keys.insert(setting.key).second);
        const std::vector<std::string> arguments = OptionArguments(setting, folder);
        CHECK(arguments.size() == 1);
        const std::string start = "--" + setting.key + "=";
        CHECK(arguments[0].compare(0, start.size(), start) == 0);
        const std::string value = arguments[0].substr(start.size());
        // No file name is left to the current folder (a service's is the
        // system's own).
        CHECK(!IsFileKey(setting.key) || !IsRelativePath(value));
    }
    std::string jobProblem;
    const std::vector<std::string> job = JobArguments(settings, folder, &jobProblem);
    CHECK(jobProblem.empty() || (job.empty() && jobProblem.compare(0, 5, "line ") == 0));
    return 0;
}
