// The station's messages to the Windows event log, under the source
// KorvanStation, as messages of the program's message table. Every report
// goes through one call, the system's ReportEventW, process-wide so that a
// test reads what would be reported (Wine takes the call and keeps nothing).
#pragma once

#include <windows.h>

#include <string>

#include "station_event_lines.h"

typedef BOOL(WINAPI* ReportEventCall)(HANDLE log, WORD type, WORD category, DWORD id, PSID user,
                                      WORD count, DWORD dataSize, LPCWSTR* strings, LPVOID data);
extern ReportEventCall reportEvent;

// The event log's source of every station service.
extern const wchar_t kEventSource[];

// Reports the event (the source is registered with the log at the first).
// False when the event log did not take it.
bool ReportStationEvent(const StationEvent& event);

// A UTF-8 text in UTF-16, as the wide calls take it.
std::wstring WideOf(const std::string& text);

// The source's key in the registry, which names the program holding the
// messages (program: its full path), and its removal. Empty when done,
// else the system's reason.
std::string RegisterEventSourceKey(const std::wstring& program);
std::string RemoveEventSourceKey();
