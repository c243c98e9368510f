// korvan-cli as a Windows service: the service manager starts it with
// --service NAME (and --repeat, --config FILE). The station then has no
// console: it shows nothing and asks for no Enter (its ports wait for their
// modules), and its plain lines go to the event log (event_log.h). A stop
// from the service manager, or the preshutdown notice of Windows shutting
// down, is the station's stop: the service says STOP_PENDING, with wait
// hints, while the modules under way end and their records are written,
// then STOPPED with the station's exit status as its service-specific exit
// code.
#pragma once

#include "command_line.h"

typedef int (*StationMain)(const CommandLine& line);

// Hands the process to the service manager, which runs station(line) as
// the service line.serviceName. The exit status: 0 once the service has
// stopped, kUsageError when the process was not started by the service
// manager (said on standard error).
int RunAsService(const CommandLine& line, StationMain station);

// Whether the arguments hold --service NAME (for a command line that could
// not be read otherwise), and the NAME.
bool ServiceNameOf(int argc, wchar_t** wideArgv, std::string* name);

// The registry value of the service (under its key's Parameters) that
// holds the station's address while it serves.
extern const wchar_t kAddressValue[];
