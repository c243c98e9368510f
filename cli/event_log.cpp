#include "event_log.h"

#include <mutex>
#include <vector>

#include "command_line.h"
#include "run_texts.h"

ReportEventCall reportEvent = ReportEventW;
const wchar_t kEventSource[] = L"KorvanStation";

namespace {

const wchar_t kSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\KorvanStation";

} // namespace

std::wstring WideOf(const std::string& text) {
    const int room = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(room > 0 ? room : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], room);
    wide.pop_back(); // the terminator
    return wide;
}

bool ReportStationEvent(const StationEvent& event) {
    static std::mutex lock;
    static HANDLE source = nullptr;
    std::lock_guard<std::mutex> hold(lock);
    if (source == nullptr) {
        source = RegisterEventSourceW(nullptr, kEventSource);
    }
    std::vector<std::wstring> inserts;
    for (const std::string& insert : event.inserts) {
        inserts.push_back(WideOf(insert));
    }
    std::vector<LPCWSTR> strings;
    for (const std::wstring& insert : inserts) {
        strings.push_back(insert.c_str());
    }
    return reportEvent(source, event.type, 0, event.id, nullptr, static_cast<WORD>(strings.size()),
                       0, strings.empty() ? nullptr : strings.data(), nullptr) != FALSE;
}

std::string RegisterEventSourceKey(const std::wstring& program) {
    HKEY key = nullptr;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr);
    if (result == ERROR_SUCCESS) {
        const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
        result = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                                reinterpret_cast<const BYTE*>(program.c_str()),
                                static_cast<DWORD>((program.size() + 1) * sizeof(wchar_t)));
        if (result == ERROR_SUCCESS) {
            result = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&types), sizeof types);
        }
        RegCloseKey(key);
    }
    return result == ERROR_SUCCESS ? "" : SystemMessage(static_cast<DWORD>(result));
}

std::string RemoveEventSourceKey() {
    const LONG result = RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSourceKey);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND
               ? ""
               : SystemMessage(static_cast<DWORD>(result));
}
