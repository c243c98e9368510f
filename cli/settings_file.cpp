#include "settings_file.h"

#include <CLI/CLI.hpp>

#include <sstream>

namespace {

std::string Joined(const std::vector<std::string>& values, const char* between) {
    std::string text;
    for (const std::string& value : values) {
        text += (text.empty() ? "" : between) + value;
    }
    return text;
}

const Setting* Find(const std::vector<Setting>& settings, const std::string& key) {
    for (const Setting& setting : settings) {
        if (setting.key == key) {
            return &setting;
        }
    }
    return nullptr;
}

std::string AtLine(int line) {
    return "line " + std::to_string(line) + ", ";
}

} // namespace

std::string ReadSettingsText(const std::string& text, std::vector<Setting>* settings) {
    std::istringstream lines(text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        CLI::detail::trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') {
            continue;
        }
        if (line[0] == '[') {
            return "line " + std::to_string(number) + ": " + line +
                   ": the file has no sections, only \"key = value\" lines";
        }
        // Each line on its own: a setting is one line, and its number is known.
        std::istringstream one(line);
        const std::vector<CLI::ConfigItem> items = CLI::ConfigTOML().from_config(one);
        if (items.size() != 1 || !items[0].parents.empty() || items[0].name.empty()) {
            return "line " + std::to_string(number) + ": " + line + ": not a \"key = value\" line";
        }
        const CLI::ConfigItem& item = items[0];
        if (const Setting* earlier = Find(*settings, item.name)) {
            return AtLine(number) + item.name + ": given before, on line " +
                   std::to_string(earlier->line);
        }
        settings->push_back({number, item.name, item.inputs});
    }
    return "";
}

bool IsFileKey(const std::string& key) {
    return key == "script" || key == "log" || key == "trace" || key == "serve-token-file";
}

bool IsRelativePath(const std::string& path) {
    const auto slash = [](char c) { return c == '\\' || c == '/'; };
    if (path.empty() || slash(path[0])) {
        return path.empty();
    }
    return !(path.size() >= 2 && path[1] == ':'); // a drive's path is the drive's
}

std::string PathFromFolder(const std::string& folder, const std::string& path) {
    if (!IsRelativePath(path) || folder.empty()) {
        return path;
    }
    const char last = folder.back();
    return folder + (last == '\\' || last == '/' ? "" : "\\") + path;
}

std::vector<std::string> OptionArguments(const Setting& setting, const std::string& folder) {
    // An unquoted value with blanks comes from CLI11 in words: a file name
    // ("C:\Line 3\runs.csv") is one value again.
    std::string value = Joined(setting.values, setting.key == "port" ? "," : " ");
    if (IsFileKey(setting.key)) {
        value = PathFromFolder(folder, value);
    }
    return {"--" + setting.key + "=" + value};
}

std::vector<std::string> JobArguments(const std::vector<Setting>& settings,
                                      const std::string& folder, std::string* problem) {
    const Setting* job = Find(settings, "job");
    const Setting* script = Find(settings, "script");
    const Setting* id = Find(settings, "profibus-id");
    const std::string name = job == nullptr ? "" : Joined(job->values, " ");
    const Setting* wanted = name == "firmware" ? script : (name == "profibus-id" ? id : nullptr);
    const Setting* stray = name == "firmware" ? id : (name == "profibus-id" ? script : nullptr);
    if (job == nullptr) {
        stray = script != nullptr ? script : id;
    } else if (name == "read-id") {
        stray = script != nullptr ? script : id;
    }
    if (job != nullptr && name != "firmware" && name != "profibus-id" && name != "read-id") {
        *problem =
            AtLine(job->line) + "job: " + name + " is none of firmware, profibus-id, read-id";
    } else if (job != nullptr && name != "read-id" && wanted == nullptr) {
        *problem = AtLine(job->line) + "job: " + name + " needs " +
                   (name == "firmware" ? "script = FILE" : "profibus-id = N");
    } else if (stray != nullptr) {
        *problem = AtLine(stray->line) + stray->key + ": not for " +
                   (job == nullptr ? "a file without job = ..." : "job = " + name);
    }
    if (!problem->empty() || job == nullptr) {
        return {};
    }
    if (name == "read-id") {
        return {name};
    }
    const std::string value = Joined(wanted->values, " ");
    return {name, name == "firmware" ? PathFromFolder(folder, value) : value};
}
