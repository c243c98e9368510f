// korvan-cli service install|remove|status [NAME]: the station as a
// Windows service, through the service manager's calls. Install registers
// a service that starts with Windows (automatic, delayed), runs korvan-cli
// on the settings file (--config, taken as an absolute path) with
// --repeat, and starts again 10 s after a failure, at most three times a
// day; it registers the event log's source too. Remove stops the service,
// deletes it and the source. Status tells the service's state and the
// station's address.
#pragma once

#include "command_line.h"

// The exit status: 0 when done, kUsageError otherwise (said on standard
// error: without administrator rights, that they are needed).
int RunServiceCommand(const CommandLine& line);
