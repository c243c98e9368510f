#include "settings_options.h"

const char kDefaultServiceName[] = "KorvanStation";

namespace {

void AddServiceName(CLI::App* command, CommandLine* line) {
    command->add_option("NAME", line->serviceName,
                        std::string("the service's name (default ") + kDefaultServiceName + ")");
    command->fallthrough();
}

} // namespace

void DefineSettingsOptions(CLI::App& app, CommandLine* line) {
    app.add_option("--config", line->configFile,
                   "reads the options from FILE, one a line (port = COM3,COM4; repeat = true; "
                   "log = runs.csv; job = firmware with script = FILE, job = profibus-id with "
                   "profibus-id = N, or job = read-id); an option on the command line wins; "
                   "relative paths are taken from FILE's folder")
        ->type_name("FILE");
    app.add_flag("--check", line->check,
                 "checks the options and every file and port they name, says what the station "
                 "would do, and ends (0 when all is well, 1 otherwise); sends nothing");
    app.add_option_function<std::string>(
           "--service",
           [line](const std::string& name) {
               line->serviceName = name;
               line->service = kServiceRun;
           },
           "runs as the Windows service NAME (the service manager starts it so)")
        ->type_name("NAME")
        ->group("");
}

CLI::App* DefineServiceCommands(CLI::App& app, CommandLine* line, CLI::App** install,
                                CLI::App** remove, CLI::App** status) {
    CLI::App* service =
        app.add_subcommand("service", "the station as a Windows service that starts with Windows");
    service->require_subcommand(1, 1);
    service->fallthrough();
    *install = service->add_subcommand(
        "install", "registers the service (administrator rights): it starts with Windows "
                   "(delayed), runs the station of --config FILE with --repeat, and starts again "
                   "10 s after a failure, at most three times a day");
    *remove = service->add_subcommand("remove", "stops the service and removes it");
    *status = service->add_subcommand("status", "the service's state and the station's address");
    AddServiceName(*install, line);
    AddServiceName(*remove, line);
    AddServiceName(*status, line);
    return service;
}

bool IsSettingKey(const std::string& key) {
    for (const char* other : {"help", "version", "config", "check", "list-ports", "service"}) {
        if (key == other) {
            return false;
        }
    }
    return true;
}
