// The station's log as a file: what it finds there before it appends, the
// rows of several stations appending at once, and the rows that wait while
// it cannot be written.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "log_writer.h"
#include "module_log.h"
#include "support/peer_port.h"
#include "support/full_disk.h"
#include "support/text_checks.h"

namespace {

const char kRow[] = "2026-12-08T09:15:02Z,COM3,read-id,,,,7,,Korvan,0,Profibus-ID 7,,1.2\r\n";

std::string Header() {
    return std::string(kUtf8ByteOrderMark) + kModuleLogHeader;
}

class ModuleLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = TempPath("module-log.csv");
        DeleteFileA(path_.c_str());
    }
    void TearDown() override {
        logWrite = WriteFile;
        logFlush = FlushFileBuffers;
        DeleteFileA(path_.c_str());
    }
    void Write(const std::string& bytes) {
        HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    std::string path_;
};

// What a log holds before the station appends a row, and what it holds
// after: a header where there is none, a line end after a last line that
// was cut (a crash, a full disk).
struct Before {
    const char* name;
    std::string start;
    std::string after;
};

class LogStartTest : public ModuleLogTest, public ::testing::WithParamInterface<Before> {};

const Before kBefores[] = {
    {"NoFile", "", Header() + kRow},
    {"Empty", "", Header() + kRow},
    {"ByteOrderMarkOnly", kUtf8ByteOrderMark, Header() + kRow},
    {"WholeLines", Header() + kRow, Header() + kRow + kRow},
    {"CutLastLine", Header() + "2026-12-08T09:15:02Z,COM3,rea",
     Header() + "2026-12-08T09:15:02Z,COM3,rea\r\n" + kRow},
    {"LineFeedOnly", Header() + "x\n", Header() + "x\n" + kRow},
    {"HeaderWithoutByteOrderMark", kModuleLogHeader, std::string(kModuleLogHeader) + kRow},
};

} // namespace

TEST_P(LogStartTest, AppendsWholeRowsBehindWhatItFinds) {
    if (std::string(GetParam().name) != "NoFile") {
        Write(GetParam().start);
    }
    ModuleLog log;
    ASSERT_EQ(log.Open(path_), "");
    EXPECT_EQ(log.Append(kRow), "");
    EXPECT_EQ(ReadWholeFile(path_), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Logs, LogStartTest, ::testing::ValuesIn(kBefores),
                         [](const ::testing::TestParamInfo<Before>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ModuleLogTest, ALogOfOtherColumnsIsNotAppendedTo) {
    Write("date,serial,result\r\n2026-12-01,42,ok\r\n");
    ModuleLog log;
    EXPECT_EQ(log.Open(path_),
              "its first line is not this program's header: \"date,serial,result\"");
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(ReadWholeFile(path_), "date,serial,result\r\n2026-12-01,42,ok\r\n");
}

namespace {

std::string Row(int n) {
    return "row " + std::to_string(n) + "\r\n";
}

} // namespace

// Rows wait, in order, while the log cannot be written; they are tried
// again every few seconds, not at every row, and go in once it can be
// written. What never went in is given back as CSV.
TEST_F(ModuleLogTest, RowsWaitInOrderAndAreTriedAgainWhenDue) {
    ModuleLog log;
    ASSERT_EQ(log.Open(path_), "");
    logWrite = FullDiskWrite;
    LogWriter writer(&log);
    writer.Add(Row(1));
    writer.WriteDue(1000);
    diskFull = true;
    writer.Add(Row(2));
    writer.WriteDue(2000);
    writer.Add(Row(3));
    writer.WriteDue(2100); // not due yet
    EXPECT_EQ(writer.Waiting(), 2u);
    EXPECT_TRUE(Contains(writer.Problem(), "log not written: ")) << writer.Problem();
    EXPECT_TRUE(Contains(writer.Problem(), ", 2 rows waiting")) << writer.Problem();
    EXPECT_EQ(writer.Leftover(), std::string(kModuleLogHeader) + Row(2) + Row(3));
    diskFull = false;
    writer.WriteDue(2000 + LogWriter::kRetryMs - 1); // not due yet
    EXPECT_EQ(writer.Waiting(), 2u);
    writer.WriteDue(2000 + LogWriter::kRetryMs);
    EXPECT_EQ(writer.Waiting(), 0u);
    EXPECT_EQ(writer.Problem(), "");
    writer.Add(Row(4));
    writer.WriteDue(9000);
    EXPECT_EQ(ReadWholeFile(path_), Header() + Row(1) + Row(2) + Row(3) + Row(4));
}

// The first write (a new file's header) takes a while, so that the other
// station opens the new file meanwhile: only the lock keeps that one from
// finding the file empty and writing the header too.
BOOL WINAPI SlowFirstWrite(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written,
                           LPOVERLAPPED overlapped) {
    static bool first = true;
    if (first) {
        first = false;
        Sleep(300);
    }
    return WriteFile(file, bytes, count, written, overlapped);
}

namespace {

// A write that takes only half of what it is given, once.
std::atomic<bool> halfOnce{false};

BOOL WINAPI HalfWrite(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written,
                      LPOVERLAPPED overlapped) {
    if (halfOnce.exchange(false)) {
        return WriteFile(file, bytes, count / 2, written, overlapped);
    }
    return WriteFile(file, bytes, count, written, overlapped);
}

// A flush that fails, once.
std::atomic<bool> flushFailsOnce{false};

BOOL WINAPI FailingFlush(HANDLE file) {
    if (flushFailsOnce.exchange(false)) {
        SetLastError(ERROR_NETNAME_DELETED);
        return FALSE;
    }
    return FlushFileBuffers(file);
}

struct Fault {
    const char* name;
    std::atomic<bool>* once;
    bool waits; // the row waits for the next try
};

const Fault kFaults[] = {
    {"HalfARowWritten", &halfOnce, true},
    {"FlushFailsAfterTheRow", &flushFailsOnce, false},
};

} // namespace

// A write that took only part of a row is followed by the rest of that
// row; a row whose flush failed is not written again: each module keeps
// one row.
TEST_F(ModuleLogTest, ARowCutShortOrNotFlushedIsNeverWrittenTwice) {
    logWrite = HalfWrite;
    logFlush = FailingFlush;
    for (const Fault& fault : kFaults) {
        DeleteFileA(path_.c_str());
        ModuleLog log;
        ASSERT_EQ(log.Open(path_), "") << fault.name;
        LogWriter writer(&log);
        *fault.once = true;
        writer.Add(Row(1));
        writer.WriteDue(1000);
        EXPECT_EQ(writer.Waiting(), fault.waits ? 1u : 0u) << fault.name;
        EXPECT_FALSE(*fault.once) << fault.name;
        writer.Add(Row(2));
        writer.WriteDue(1000 + LogWriter::kRetryMs);
        EXPECT_EQ(writer.Waiting(), 0u) << fault.name;
        EXPECT_EQ(ReadWholeFile(path_), Header() + Row(1) + Row(2)) << fault.name;
    }
    logFlush = FlushFileBuffers;
}

// Another station on the same log (a shared log on the line's server):
// each appends its rows through its own handle, at the same time.
TEST(LogChild, AppendsRowsWhenAsked) {
    const char* path = getenv("KORVAN_LOG_CHILD_PATH");
    const char* start = getenv("KORVAN_LOG_CHILD_START");
    if (path == nullptr || start == nullptr) {
        GTEST_SKIP() << "started by SeveralStationsAppendToOneLog only";
    }
    HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, start);
    ASSERT_NE(go, nullptr);
    WaitForSingleObject(go, 10000);
    logWrite = SlowFirstWrite;
    ModuleLog log;
    ASSERT_EQ(log.Open(path), "");
    for (int n = 0; n < 200; ++n) {
        ASSERT_EQ(log.Append(std::string(kRow)), "");
    }
}

TEST_F(ModuleLogTest, SeveralStationsAppendToOneLog) {
    const std::string start = "korvan-log-start-" + std::to_string(GetCurrentProcessId());
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, start.c_str());
    SetEnvironmentVariableA("KORVAN_LOG_CHILD_PATH", path_.c_str());
    SetEnvironmentVariableA("KORVAN_LOG_CHILD_START", start.c_str());
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --gtest_filter=LogChild.*";
    PROCESS_INFORMATION children[2] = {};
    for (PROCESS_INFORMATION& child : children) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &child));
    }
    SetEvent(go);
    for (PROCESS_INFORMATION& child : children) {
        EXPECT_EQ(WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
        DWORD exitCode = 1;
        GetExitCodeProcess(child.hProcess, &exitCode);
        EXPECT_EQ(exitCode, 0u);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
    CloseHandle(go);
    const std::string log = ReadWholeFile(path_);
    EXPECT_EQ(log.rfind(Header(), 0), 0u);
    EXPECT_EQ(CountOf(log, kModuleLogHeader), 1u);
    EXPECT_EQ(CountOf(log, kRow), 400u);
    EXPECT_EQ(log.size(), Header().size() + 400 * std::string(kRow).size());
}
