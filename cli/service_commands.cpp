#include "service_commands.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "event_log.h"
#include "run_texts.h"
#include "service_run.h"
#include "settings_options.h"

namespace {

const DWORD kRestartAfterMs = 10000;
const DWORD kFailureCountReset = 24 * 60 * 60; // seconds: three restarts a day
const DWORD kRemoveWaitMs = 30000;

int Failed(const std::string& what, DWORD error) {
    if (error == ERROR_ACCESS_DENIED) {
        fprintf(stderr,
                "korvan-cli: %s needs administrator rights: run it from a console started "
                "\"as administrator\"\n",
                what.c_str());
    } else {
        fprintf(stderr, "korvan-cli: %s: %s\n", what.c_str(), SystemMessage(error).c_str());
    }
    return kUsageError;
}

std::wstring FullPath(const std::wstring& name) {
    wchar_t full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameW(name.c_str(), MAX_PATH * 4, full, nullptr);
    return length == 0 || length >= MAX_PATH * 4 ? name : std::wstring(full);
}

// One setting of the service's configuration. A level that the system
// does not keep (Wine keeps few) is said, and is no failure.
bool Configure(SC_HANDLE service, DWORD level, void* info, const char* what) {
    if (ChangeServiceConfig2W(service, level, info)) {
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_INVALID_LEVEL) {
        fprintf(stderr, "korvan-cli: this system keeps no %s for a service\n", what);
        return true;
    }
    Failed(std::string("service install: ") + what, error);
    return false;
}

// The start, delayed after the system's; the recovery: a restart 10 s after
// each of the first three failures of a day, nothing after that (the last
// action holds for every further one).
bool SetStartAndRecovery(SC_HANDLE service) {
    SC_ACTION actions[4] = {{SC_ACTION_RESTART, kRestartAfterMs},
                            {SC_ACTION_RESTART, kRestartAfterMs},
                            {SC_ACTION_RESTART, kRestartAfterMs},
                            {SC_ACTION_NONE, 0}};
    SERVICE_FAILURE_ACTIONSW failure = {};
    failure.dwResetPeriod = kFailureCountReset;
    failure.cActions = 4;
    failure.lpsaActions = actions;
    // A station that ends with a failure status counts, not only a crash.
    SERVICE_FAILURE_ACTIONS_FLAG flag = {TRUE};
    SERVICE_DELAYED_AUTO_START_INFO delayed = {TRUE};
    wchar_t text[] = L"Programs Korvan modules on the line's COM ports; its page is its face.";
    SERVICE_DESCRIPTIONW description = {text};
    bool good = Configure(service, SERVICE_CONFIG_DESCRIPTION, &description, "description");
    good = Configure(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed, "delayed start") &&
           good;
    good = Configure(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure, "recovery actions") && good;
    return Configure(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag,
                     "recovery after a failure status") &&
           good;
}

int Install(const std::wstring& name, const CommandLine& line) {
    if (line.configFile.empty()) {
        return UsageError("service install needs --config FILE");
    }
    wchar_t program[MAX_PATH * 4];
    GetModuleFileNameW(nullptr, program, MAX_PATH * 4);
    const std::wstring settings = FullPath(WideOf(line.configFile));
    const std::wstring command = L"\"" + std::wstring(program) + L"\" --service \"" + name +
                                 L"\" --repeat --config \"" + settings + L"\"";
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr) {
        return Failed("service install", GetLastError());
    }
    const std::wstring shown = L"Korvan station (" + name + L")";
    SC_HANDLE service =
        CreateServiceW(manager, name.c_str(), shown.c_str(), SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                       command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    const DWORD error = GetLastError();
    CloseServiceHandle(manager);
    if (service == nullptr) {
        return Failed("service install", error);
    }
    const bool recovery = SetStartAndRecovery(service);
    CloseServiceHandle(service);
    const std::string source = RegisterEventSourceKey(program);
    if (!source.empty()) {
        fprintf(stderr, "korvan-cli: the event log's source: %s\n", source.c_str());
    }
    printf("korvan-cli: service %s installed: starts with Windows (delayed), runs the station of "
           "%s, starts again 10 s after a failure (three times a day at most)\n",
           line.serviceName.c_str(), Utf8Of(settings.c_str()).c_str());
    return recovery && source.empty() ? 0 : kUsageError;
}

// Stops the service, waiting for its end within a bound.
void StopService(SC_HANDLE service) {
    SERVICE_STATUS status = {};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    const ULONGLONG start = GetTickCount64();
    while (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
           GetTickCount64() - start < kRemoveWaitMs) {
        Sleep(200);
    }
}

int Remove(const std::wstring& name, const CommandLine& line) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return Failed("service remove", GetLastError());
    }
    SC_HANDLE service =
        OpenServiceW(manager, name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    DWORD error = GetLastError();
    CloseServiceHandle(manager);
    if (service == nullptr) {
        return Failed("service remove " + line.serviceName, error);
    }
    StopService(service);
    const BOOL deleted = DeleteService(service);
    error = GetLastError();
    CloseServiceHandle(service);
    if (!deleted) {
        return Failed("service remove " + line.serviceName, error);
    }
    RemoveEventSourceKey();
    printf("korvan-cli: service %s stopped and removed\n", line.serviceName.c_str());
    return 0;
}

const char* StateText(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED:
        return "stopped";
    case SERVICE_START_PENDING:
        return "starting";
    case SERVICE_STOP_PENDING:
        return "stopping";
    case SERVICE_RUNNING:
        return "running";
    }
    return "pausing or paused";
}

std::string AddressOf(const std::wstring& name) {
    const std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\" + name + L"\\Parameters";
    wchar_t address[512] = L"";
    DWORD size = sizeof address - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), kAddressValue, RRF_RT_REG_SZ, nullptr,
                     address, &size) != ERROR_SUCCESS) {
        return "";
    }
    return Utf8Of(address);
}

int Status(const std::wstring& name, const CommandLine& line) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return Failed("service status", GetLastError());
    }
    SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS);
    const DWORD error = GetLastError();
    CloseServiceHandle(manager);
    if (service == nullptr) {
        return Failed("service status " + line.serviceName, error);
    }
    SERVICE_STATUS_PROCESS status = {};
    DWORD size = 0;
    const BOOL queried = QueryServiceStatusEx(
        service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status, &size);
    CloseServiceHandle(service);
    if (!queried) {
        return Failed("service status " + line.serviceName, GetLastError());
    }
    printf("%s: %s", line.serviceName.c_str(), StateText(status.dwCurrentState));
    if (status.dwCurrentState == SERVICE_STOPPED &&
        status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR) {
        printf(", exit status %lu", static_cast<unsigned long>(status.dwServiceSpecificExitCode));
    }
    const std::string address = AddressOf(name);
    if (status.dwCurrentState == SERVICE_RUNNING && !address.empty()) {
        printf(", page at %s", address.c_str());
    }
    printf("\n");
    return 0;
}

} // namespace

int RunServiceCommand(const CommandLine& line) {
    CommandLine named = line;
    if (named.serviceName.empty()) {
        named.serviceName = kDefaultServiceName;
    }
    const std::wstring name = WideOf(named.serviceName);
    switch (line.service) {
    case kServiceInstall:
        return Install(name, named);
    case kServiceRemove:
        return Remove(name, named);
    default:
        return Status(name, named);
    }
}
