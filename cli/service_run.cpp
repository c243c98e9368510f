#include "service_run.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "event_log.h"
#include "run_texts.h"
#include "event_messages.h"
#include "stop_signal.h"

const wchar_t kAddressValue[] = L"Address";

namespace {

// How long the service manager is told that the next step of a stop may
// take; the step counter moves on every kStepMs meanwhile.
const DWORD kWaitHintMs = 3000;
const DWORD kStepMs = 1000;

const CommandLine* serviceLine = nullptr;
StationMain stationMain = nullptr;
std::wstring serviceName;
SERVICE_STATUS_HANDLE statusHandle = nullptr;
std::atomic<DWORD> checkPoint{0};
std::atomic<bool> stopping{false};
std::atomic<bool> stopped{false};
HANDLE stepThread = nullptr;

void Report(DWORD state, DWORD exitStatus = 0) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    if (state == SERVICE_RUNNING) {
        status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PRESHUTDOWN;
    }
    if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) {
        status.dwCheckPoint = ++checkPoint;
        status.dwWaitHint = kWaitHintMs;
    }
    if (exitStatus != 0) {
        status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        status.dwServiceSpecificExitCode = exitStatus;
    }
    SetServiceStatus(statusHandle, &status);
}

// While the station ends: STOP_PENDING again every step, a new check point
// each time, until the service has stopped.
DWORD WINAPI StepWhileStopping(LPVOID) {
    while (!stopped) {
        Sleep(kStepMs);
        if (!stopped) {
            Report(SERVICE_STOP_PENDING);
        }
    }
    return 0;
}

DWORD WINAPI OnServiceControl(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_PRESHUTDOWN:
    case SERVICE_CONTROL_SHUTDOWN:
        if (!stopping.exchange(true)) {
            Report(SERVICE_STOP_PENDING);
            ReportStationEvent({KORVAN_EVENT_STOP_ASKED,
                                EVENTLOG_INFORMATION_TYPE,
                                {control == SERVICE_CONTROL_STOP ? "stop" : "Windows shuts down"}});
            RequestStop();
            stepThread = CreateThread(nullptr, 0, StepWhileStopping, nullptr, 0, nullptr);
        }
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    }
    return ERROR_CALL_NOT_IMPLEMENTED;
}

void KeepAddress(const std::string& url) {
    const std::wstring key =
        L"SYSTEM\\CurrentControlSet\\Services\\" + serviceName + L"\\Parameters";
    HKEY parameters = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &parameters, nullptr) != ERROR_SUCCESS) {
        return;
    }
    const std::wstring wide(url.begin(), url.end()); // a URL is ASCII
    RegSetValueExW(parameters, kAddressValue, 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(wide.c_str()),
                   static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(parameters);
}

// The station's standard output and error, as the pipe's far end gives
// them, line by line into the event log.
DWORD WINAPI ForwardLines(LPVOID pipe) {
    EventLineState state;
    std::string pending;
    char bytes[4096];
    DWORD got = 0;
    while (ReadFile(static_cast<HANDLE>(pipe), bytes, sizeof bytes, &got, nullptr) && got > 0) {
        pending.append(bytes, got);
        for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            StationEvent event;
            if (EventOfLine(line, &state, &event)) {
                if (event.id == KORVAN_EVENT_SERVING) {
                    KeepAddress(event.inserts[0]);
                }
                ReportStationEvent(event);
            }
        }
        if (pending.size() > 64 * 1024) {
            pending.clear(); // no line is that long: the bound of what is kept
        }
    }
    CloseHandle(pipe);
    return 0;
}

// Standard output and error (the C runtime's and the system's) into a
// pipe that a thread reads into the event log. The reading thread, or
// nullptr.
HANDLE LinesToEventLog(int* writeDescriptor) {
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, nullptr, 64 * 1024)) {
        return nullptr;
    }
    *writeDescriptor = _open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_TEXT);
    // A process started without standard handles (as the service manager
    // starts it) has streams without a descriptor, which the runtime does
    // not open again: each is given one of the pipe.
    for (FILE* stream : {stdout, stderr}) {
        if (_fileno(stream) >= 0) {
            _dup2(*writeDescriptor, _fileno(stream));
        } else {
#ifndef _UCRT
            stream->_file = _dup(*writeDescriptor);
#endif
        }
    }
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))));
    SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr))));
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
    return CreateThread(nullptr, 0, ForwardLines, readEnd, 0, nullptr);
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    statusHandle = RegisterServiceCtrlHandlerExW(serviceName.c_str(), OnServiceControl, nullptr);
    if (statusHandle == nullptr) {
        return;
    }
    Report(SERVICE_START_PENDING);
    int writeDescriptor = -1;
    HANDLE forwarder = LinesToEventLog(&writeDescriptor);
    ReportStationEvent(
        {KORVAN_EVENT_STARTED, EVENTLOG_INFORMATION_TYPE, {"settings " + serviceLine->configFile}});
    Report(SERVICE_RUNNING);
    const int status = stationMain(*serviceLine);
    fflush(stdout);
    fflush(stderr);
    // The pipe's last writer gone, the forwarder reads its last lines.
    _close(_fileno(stdout));
    _close(_fileno(stderr));
    _close(writeDescriptor);
    if (forwarder != nullptr) {
        WaitForSingleObject(forwarder, 1000);
        CloseHandle(forwarder);
    }
    ReportStationEvent(
        {KORVAN_EVENT_STOPPED,
         static_cast<uint16_t>(status == 0 ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE),
         {std::to_string(status), ExitStatusText(status)}});
    stopped = true;
    Report(SERVICE_STOPPED, static_cast<DWORD>(status));
}

} // namespace

bool ServiceNameOf(int argc, wchar_t** wideArgv, std::string* name) {
    for (int k = 1; k + 1 < argc; ++k) {
        if (std::wstring(wideArgv[k]) == L"--service") {
            *name = Utf8Of(wideArgv[k + 1]);
            return true;
        }
    }
    return false;
}

int RunAsService(const CommandLine& line, StationMain station) {
    serviceLine = &line;
    stationMain = station;
    serviceName = WideOf(line.serviceName);
    SERVICE_TABLE_ENTRYW table[] = {{&serviceName[0], ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        fprintf(stderr, "korvan-cli: --service is for the service manager: %s\n",
                SystemMessage(GetLastError()).c_str());
        return kUsageError;
    }
    return 0;
}
