// The firmware download on the wire, run on a plain face at the cable's full
// speed: the bytes in order with each acknowledgement awaited after exactly
// its block, the progress once each stretch has been written, a stretch that
// the port does not take, and a driver slow to end its writes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "run_face.h"
#include "simulator.h"
#include "support/download_bound.h"
#include "support/driver_double.h"
#include "support/firmware_wire.h"
#include "support/peer_port.h"
#include "support/run_driver.h"
#include "support/strict_module.h"

namespace {

// A face that records what the run showed; the OFF/ON request switches the
// module on.
struct PlainFace {
    RunChoices choices = {};
    std::function<void()> atPowerCycle;
    std::function<void(int32_t)> atProgress;
    std::vector<int32_t> progress;
    RunReport report = {};

    static PlainFace* Of(void* context) {
        return static_cast<PlainFace*>(context);
    }
    RunOutcome Run() {
        const RunFace face = {
            this,
            [](void*) {},
            [](void*) {},
            [](void* c, RunChoices* chosen) { *chosen = Of(c)->choices; },
            [](void*, const char*) {},
            [](void*, const char*) {},
            [](void* c, int32_t index, int32_t) {
                Of(c)->progress.push_back(index);
                if (Of(c)->atProgress) {
                    Of(c)->atProgress(index);
                }
            },
            [](void* c, int16_t, const char*) -> int16_t {
                Of(c)->atPowerCycle();
                return 0;
            },
            [](void*) {},
            [](void*, int16_t) {},
            [](void* c, const RunReport* report) { Of(c)->report = *report; },
        };
        return RunProgramming(&face);
    }
};

void ChooseFirmware(PlainFace* face, const std::string& path) {
    face->choices.mode = kFirmwareMode;
    face->choices.port = kToolPort;
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, face->choices.scriptName, kScriptNameRoom);
}

std::vector<int32_t> Indices(int32_t count) {
    std::vector<int32_t> indices;
    for (int32_t j = 0; j < count; ++j) {
        indices.push_back(j);
    }
    return indices;
}

size_t FirstDifference(const std::string& a, const std::string& b) {
    size_t k = 0;
    while (k < a.size() && k < b.size() && a[k] == b[k]) {
        ++k;
    }
    return k;
}

// A whole download of size bytes to a strict module, through the driver
// stand-in (it only counts the bytes it passes on): the wire byte for byte,
// each acknowledgement after exactly its block and nothing sent ahead of it,
// and the progress of every byte in order, once its pair has been written
// and, before an acknowledgement, once that has come.
void ExpectWholeDownload(size_t size, int answerDelayMs) {
    SCOPED_TRACE("script of " + std::to_string(size) + " bytes");
    const std::string script = ScriptBytes(size);
    const std::string path = WriteTempFile("wire.dcs", script);
    InstallDriverDouble("COM1");
    StrictModule module(kModulePort, answerDelayMs);
    PlainFace face;
    ChooseFirmware(&face, path);
    face.atPowerCycle = [&] { module.SwitchOn(); };
    const std::vector<int32_t> ackIndices = AckIndices(size);
    int32_t lateShown = -1; // the first byte shown before its pair was written or acknowledged
    size_t acksDue = 0;
    face.atProgress = [&](int32_t index) {
        if (acksDue < ackIndices.size() && ackIndices[acksDue] == index) {
            ++acksDue;
        }
        const bool written = driverDouble.written >= 2 + 2 * (index + 1);
        const bool acknowledged = module.AcksSent() >= static_cast<int32_t>(acksDue);
        if ((!written || !acknowledged) && lateShown < 0) {
            lateShown = index;
        }
    };
    const RunOutcome outcome = face.Run();
    const StrictModule::Session session = module.Stop();
    RemoveDriverDouble();
    DeleteFileA(path.c_str());

    EXPECT_EQ(outcome, kRunSucceeded) << face.report.detail;
    const std::string wire = FirmwareWire(script);
    EXPECT_TRUE(session.received == wire)
        << "the wire differs from byte " << FirstDifference(session.received, wire) << " on, of "
        << wire.size() << " (" << session.received.size() << " came)";
    EXPECT_EQ(session.ackAfter, ackIndices);
    EXPECT_EQ(session.earlyBytes, 0) << "the first at byte " << session.firstEarlyAt;
    EXPECT_TRUE(face.progress == Indices(static_cast<int32_t>(size)))
        << face.progress.size() << " bytes shown";
    EXPECT_EQ(lateShown, -1);
}

} // namespace

// Each size a test case of its own: each is a whole run, and they may run
// side by side.
class SmallScriptWire : public ::testing::TestWithParam<size_t> {};

TEST_P(SmallScriptWire, GoesOutByteForByteWithEachAcknowledgementAwaited) {
    ExpectWholeDownload(GetParam(), 30);
}

INSTANTIATE_TEST_SUITE_P(DownloadWire, SmallScriptWire,
                         ::testing::Values<size_t>(0, 1, 95, 96, 224, 225));

TEST(DownloadWire, A64KiBScriptGoesOutByteForByteWithEachAcknowledgementAwaited) {
    ExpectWholeDownload(64 * 1024, 1);
}

TEST(DownloadWire, AStretchThePortDoesNotTakeNamesItsScriptBytes) {
    struct Case {
        size_t size;
        long goneAfter; // bytes written before the adapter is pulled
        const char* detail;
    };
    // In the second stretch after 50 of its pairs; in a last stretch of one
    // byte, after the first of its two characters.
    const Case cases[] = {
        {300, 2 + 192 + 100, "the port did not take all of script bytes 96 to 223"},
        {97, 2 + 192 + 1, "the port did not take script byte 96"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.detail);
        const std::string script = ScriptBytes(c.size);
        const std::string path = WriteTempFile("pulled.dcs", script);
        InstallDriverDouble("COM1");
        driverDouble.goneAfterWritten = c.goneAfter;
        StrictModule module(kModulePort, 0);
        PlainFace face;
        ChooseFirmware(&face, path);
        face.atPowerCycle = [&] { module.SwitchOn(); };
        const RunOutcome outcome = face.Run();
        const StrictModule::Session session = module.Stop();
        RemoveDriverDouble();
        DeleteFileA(path.c_str());

        EXPECT_EQ(outcome, kNotProgrammed);
        EXPECT_STREQ(face.report.detail, c.detail);
        // Every byte before the stretch was shown, none of it.
        EXPECT_EQ(face.progress, Indices(96));
        // What the device took before it went reached the module.
        EXPECT_EQ(session.received,
                  FirmwareWire(script).substr(0, static_cast<size_t>(c.goneAfter)));
    }
}

TEST(DownloadWire, ADriverSlowToEndItsWritesCostsAWritePerStretchNotPerByte) {
    // Each write ends 20 ms after it started, whatever its length (a radio
    // link, some USB adapters). A write per byte would add 480 x 20 ms to
    // the wire time; a write per stretch hides in it.
    const size_t size = 480;
    const std::string path = WriteTempFile("slow.dcs", ScriptBytes(size));
    SimOptions options;
    SetDefaultSimOptions(&options);
    options.pacingBaud = 9600;
    ASSERT_EQ(StartSimulator(kModulePort, &options), 0);
    InstallDriverDouble("COM1");
    driverDouble.writeCompletionDelayMs = 20;
    PlainFace face;
    ChooseFirmware(&face, path);
    face.atPowerCycle = [] { PowerOnModule(); };
    Stopwatch clock;
    const RunOutcome outcome = face.Run();
    const double runMs = clock.Ms();
    const long firmwareWrites = driverDouble.writeCalls;

    // The Profibus-ID job's record goes back in one write as well.
    driverDouble.writeCalls = 0;
    PlainFace idFace;
    idFace.choices.mode = kProfibusIdMode;
    idFace.choices.port = kToolPort;
    idFace.choices.profibusId = 42;
    idFace.atPowerCycle = [] { PowerOnModule(); };
    const RunOutcome idOutcome = idFace.Run();
    const long idWrites = driverDouble.writeCalls;
    RemoveDriverDouble();
    SimReport report;
    ReadSimReport(&report);
    StopSimulator();
    DeleteFileA(path.c_str());

    EXPECT_EQ(outcome, kRunSucceeded) << face.report.detail;
    const double boundMs = DownloadLowerBoundMs(size, 9600, 31);
    EXPECT_LT(runMs, boundMs + 3000) << "lower bound " << boundMs << " ms";
    // 0x14, 0x10, four stretches (96, 128, 128 and 128 bytes), the checksum line.
    EXPECT_EQ(firmwareWrites, 7);
    EXPECT_EQ(idOutcome, kRunSucceeded) << idFace.report.detail;
    EXPECT_EQ(idWrites, 2); // 0x15, then the record with its checksum line
    EXPECT_EQ(report.stationAddress, 42);
}
