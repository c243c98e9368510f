// For the native build of the fuzz targets only: a settings file named on
// the command line cannot be read (its text is fuzzed by settings_text).
#include "settings_options.h"

std::string ReadSettingsFile(const std::string& name, std::vector<Setting>*, std::string*) {
    return "cannot be read: no files in the native build (\"" + name + "\")";
}
