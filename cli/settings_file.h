// korvan-cli's settings file (--config FILE): the options of its command
// line, one a line, in the INI or TOML form that CLI11 reads ("port =
// COM3,COM4", "repeat = true", "log = runs.csv"), and the job as "job =
// firmware" with "script = FILE", "job = profibus-id" with "profibus-id =
// N", or "job = read-id". A station started by the service manager starts
// in the system's folder: a relative path in the file is taken from the
// file's own folder.
#pragma once

#include <string>
#include <vector>

// One line of the file that sets something.
struct Setting {
    int line = 0; // from 1
    std::string key;
    std::vector<std::string> values;
};

// The file's settings, in the order of its lines; comments ("#" or ";"),
// blank lines and a byte-order mark are passed over. Empty when it could
// be read, else the problem ("line 3: ...").
std::string ReadSettingsText(const std::string& text, std::vector<Setting>* settings);

// The keys whose values name files.
bool IsFileKey(const std::string& key);

// True for a path that names neither a drive ("C:\...", "C:x") nor a root
// ("\\server\...", "\...", or with forward slashes).
bool IsRelativePath(const std::string& path);

// A relative path taken from the folder; an absolute one as it is.
std::string PathFromFolder(const std::string& folder, const std::string& path);

// The command-line arguments that say what an option's setting says, its
// file names taken from folder: "--log=FOLDER\runs.csv", "--port=COM3,COM4",
// "--repeat=true". Not for the job's keys.
std::vector<std::string> OptionArguments(const Setting& setting, const std::string& folder);

// The job's keys (job, script, profibus-id) as the command line's job:
// {"firmware", FILE}, {"profibus-id", N}, {"read-id"}. Empty when the file
// names no job; else the problem, naming the line, in *problem.
std::vector<std::string> JobArguments(const std::vector<Setting>& settings,
                                      const std::string& folder, std::string* problem);
