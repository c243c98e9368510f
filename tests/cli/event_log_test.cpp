// The station's lines as the event log gets them as a service: which line
// is which message, with which inserts, through the one call that reports
// them; and every message in korvan-cli.exe's own message table, so that
// the Event Viewer shows its text.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "event_log.h"
#include "event_messages.h"
#include "station_event_lines.h"

namespace {

struct Reported {
    WORD type;
    DWORD id;
    std::vector<std::wstring> strings;
};
std::vector<Reported> reported;

BOOL WINAPI RecordEvent(HANDLE, WORD type, WORD, DWORD id, PSID, WORD count, DWORD,
                        LPCWSTR* strings, LPVOID) {
    Reported event{type, id, {}};
    for (WORD k = 0; k < count; ++k) {
        event.strings.push_back(strings[k]);
    }
    reported.push_back(event);
    return TRUE;
}

// Lines as the station shows them without a console, in the order of a
// day: the log's trouble is one event however its waiting rows grow.
TEST(StationEventLog, TheStationsLinesBecomeTheirMessages) {
    struct Case {
        const char* line;
        DWORD id; // 0: no event
        WORD type;
        const wchar_t* insert;
    } cases[] = {
        {"korvan-cli: serving http://0.0.0.0:8080/", KORVAN_EVENT_SERVING,
         EVENTLOG_INFORMATION_TYPE, L"http://0.0.0.0:8080/"},
        {"COM3: next module: switch it ON", 0, 0, nullptr},
        {"COM3:  10 % (418 of 4173 bytes)", 0, 0, nullptr},
        {"COM3: The programming of Firmware was successful.", 0, 0, nullptr},
        {"COM4: adapter gone, waiting for it", KORVAN_EVENT_ADAPTER_GONE, EVENTLOG_WARNING_TYPE,
         L"COM4"},
        {"COM4: adapter back", KORVAN_EVENT_ADAPTER_BACK, EVENTLOG_INFORMATION_TYPE, L"COM4"},
        {"COM4: 3 failed in a row", KORVAN_EVENT_ALARM, EVENTLOG_WARNING_TYPE,
         L"COM4: 3 failed in a row"},
        {"korvan-cli: broker not reached: the connection was refused, 2 records waiting",
         KORVAN_EVENT_BROKER_LOST, EVENTLOG_WARNING_TYPE,
         L"the connection was refused, 2 records waiting"},
        {"korvan-cli: the broker takes the records again", KORVAN_EVENT_BROKER_BACK,
         EVENTLOG_INFORMATION_TYPE, nullptr},
        {"korvan-cli: log not written: Access is denied., 1 row waiting",
         KORVAN_EVENT_LOG_NOT_WRITTEN, EVENTLOG_ERROR_TYPE, L"Access is denied., 1 row waiting"},
        {"korvan-cli: log not written: Access is denied., 2 rows waiting", 0, 0, nullptr},
        {"korvan-cli: the log is written again", KORVAN_EVENT_LOG_WRITTEN,
         EVENTLOG_INFORMATION_TYPE, nullptr},
        {"korvan-cli: log not written: The network name is gone., 1 row waiting",
         KORVAN_EVENT_LOG_NOT_WRITTEN, EVENTLOG_ERROR_TYPE,
         L"The network name is gone., 1 row waiting"},
        {"korvan-cli: the stop event \"x\" cannot be made: denied", KORVAN_EVENT_PROBLEM,
         EVENTLOG_ERROR_TYPE, L"the stop event \"x\" cannot be made: denied"},
        {"Z\xC3\xB6\xC3\xAB: stray", 0, 0, nullptr},
    };
    reported.clear();
    const ReportEventCall platform = reportEvent;
    reportEvent = RecordEvent;
    EventLineState state;
    for (const Case& c : cases) {
        StationEvent event;
        if (EventOfLine(c.line, &state, &event)) {
            EXPECT_TRUE(ReportStationEvent(event));
        }
    }
    reportEvent = platform;
    size_t next = 0;
    for (const Case& c : cases) {
        if (c.id == 0) {
            continue;
        }
        ASSERT_LT(next, reported.size()) << c.line;
        const Reported& event = reported[next++];
        EXPECT_EQ(event.id, c.id) << c.line;
        EXPECT_EQ(event.type, c.type) << c.line;
        if (c.insert == nullptr) {
            EXPECT_TRUE(event.strings.empty()) << c.line;
        } else {
            ASSERT_EQ(event.strings.size(), 1u) << c.line;
            EXPECT_EQ(event.strings[0], c.insert) << c.line;
        }
    }
    EXPECT_EQ(next, reported.size());
}

// The program the event source names holds a text for every message, with
// its inserts.
TEST(StationEventLog, KorvanCliHoldsEveryMessage) {
    char own[MAX_PATH];
    GetModuleFileNameA(nullptr, own, sizeof own);
    std::string path(own);
    path = path.substr(0, path.find_last_of("\\/") + 1) + "..\\korvan-cli.exe";
    HMODULE program = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr) << path;
    DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>("9"),
                           reinterpret_cast<DWORD_PTR>("The run was interrupted")};
    for (DWORD id = KORVAN_EVENT_STARTED; id <= KORVAN_EVENT_STOP_ASKED; ++id) {
        char text[512] = "";
        const DWORD length =
            FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, program, id,
                           MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, sizeof text,
                           reinterpret_cast<va_list*>(inserts));
        EXPECT_GT(length, 0u) << "message " << id;
        EXPECT_EQ(std::string(text).find('%'), std::string::npos) << text;
    }
    char text[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, program,
                   KORVAN_EVENT_STOPPED, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text,
                   sizeof text, reinterpret_cast<va_list*>(inserts));
    EXPECT_EQ(std::string(text),
              "The Korvan station has ended with exit status 9: The run was interrupted\r\n");
    FreeLibrary(program);
}

} // namespace
