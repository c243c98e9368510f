// What a reader of the station's state sees while its writers write: a
// text whole (the old one or the new one) even while its writer is held in
// the middle of a write, a download's progress and a port's counts from
// one moment each.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "published_lines.h"
#include "station_state.h"

namespace {

HANDLE writerHeld = nullptr;
HANDLE writerLetGo = nullptr;

void HoldTheWriter() {
    SetEvent(writerHeld);
    WaitForSingleObject(writerLetGo, 10000);
}

} // namespace

TEST(SharedTextTest, AReaderNeverGetsAMixWhileTheWriterIsHeldMidWrite) {
    const std::string oldText(SharedText::kRoom, 'a');
    const std::string newText(SharedText::kRoom, 'b');
    SharedText text;
    text.Set(oldText);
    for (int round = 0; round < 2; ++round) {
        writerHeld = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        writerLetGo = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        sharedTextMidWrite = HoldTheWriter;
        const std::string& next = round == 0 ? newText : oldText;
        std::thread writer([&] { text.Set(next); });
        ASSERT_EQ(WaitForSingleObject(writerHeld, 10000), WAIT_OBJECT_0);
        int mixed = 0;
        for (int read = 0; read < 2000; ++read) {
            const std::string seen = text.Get();
            mixed += seen == oldText || seen == newText ? 0 : 1;
        }
        SetEvent(writerLetGo);
        writer.join();
        sharedTextMidWrite = nullptr;
        CloseHandle(writerHeld);
        CloseHandle(writerLetGo);
        EXPECT_EQ(mixed, 0) << round;
        EXPECT_EQ(text.Get(), next);
    }
}

// One port's writer makes downloads and records while a reader looks: a
// download's bytes sent are never more than its size, nor none while one is
// under way; the port's modules and its last record's sequence agree.
TEST(StationStateTest, APortIsReadFromOneMomentOnly) {
    // Downloads by the hundred thousand, a record after every tenth: some
    // 20 MB of records.
    const int kDownloads = 200000;
    StationState state({3}, StationJobInfo{});
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int download = 1; download <= kDownloads; ++download) {
            for (int32_t sent = 1; sent <= 3; ++sent) {
                state.SetProgress(0, sent, 3);
            }
            state.SetProgress(0, 0, 0);
            if (download % 10 == 0) {
                ModuleRecord record;
                record.report.outcome = kRunSucceeded;
                state.AddRecord(record);
            }
        }
        done = true;
    });
    int wrong = 0;
    int reads = 0;
    while (!done || reads == 0) {
        const PortSnapshot port = state.Port(0);
        const bool progressWhole =
            port.size == 0 ? port.sent == 0 : port.sent >= 1 && port.sent <= port.size;
        wrong += progressWhole && port.modules == port.lastSequence ? 0 : 1;
        ++reads;
    }
    writer.join();
    EXPECT_EQ(wrong, 0) << "of " << reads;
    EXPECT_EQ(state.Port(0).modules, kDownloads / 10);
}
