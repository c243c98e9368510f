// The parts of korvan-cli's command line that read a settings file and run
// the station as a Windows service: --config FILE, --check, the service
// commands (install, remove, status) and --service NAME, with which the
// service manager starts the station.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "command_line.h"
#include "settings_file.h"

// The service's name when none is given.
extern const char kDefaultServiceName[];

// Adds --config, --check and the hidden --service NAME.
void DefineSettingsOptions(CLI::App& app, CommandLine* line);

// Adds "service" with install, remove and status; gives the three.
CLI::App* DefineServiceCommands(CLI::App& app, CommandLine* line, CLI::App** install,
                                CLI::App** remove, CLI::App** status);

// Whether a settings file may set the option of this key (an option's long
// name without its dashes): not those that are no station's setting
// (--help, --version, --config, --check, --list-ports, --service).
bool IsSettingKey(const std::string& key);

// Reads the settings file named in UTF-8, and gives its folder (absolute)
// for its relative paths. Empty when read, else the problem.
std::string ReadSettingsFile(const std::string& name, std::vector<Setting>* settings,
                             std::string* folder);
