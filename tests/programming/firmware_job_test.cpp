// The firmware job from START to the result line, against the simulated
// module.
#include <cstring>

#include "dialog_ids.h"
#include "support/job_fixture.h"
#include "support/firmware_wire.h"

namespace {

const char kSuccess[] = " The programming of Firmware was successful. ";
const char kNoAnswer[] = "Korvan does not answer";
const char kNotProgrammed[] = "Korvan could not be programmed";

uint16_t SumOf(const std::string& bytes) {
    uint16_t sum = 0;
    for (char c : bytes) {
        sum = static_cast<uint16_t>(sum + static_cast<uint8_t>(c));
    }
    return sum;
}

class FirmwareSizeTest : public JobTest, public ::testing::WithParamInterface<size_t> {};

} // namespace

TEST_P(FirmwareSizeTest, ScriptArrivesWholeWithItsAcknowledgementsAndChecksum) {
    const size_t size = GetParam();
    const std::string bytes = ScriptBytes(size);
    const std::string path = Script("firmware.dcs", bytes);
    StartModule();
    ChooseFirmwareJob(dialog_, path);

    JobOutcome run = RunJob(dialog_);
    ExpectSuccess(run, kSuccess);
    EXPECT_EQ(run.promptText, "Please switch the Korvan module OFF and then ON");
    EXPECT_EQ(run.promptCaption, "");
    EXPECT_TRUE(run.inputsDisabledDuringPrompt);

    SimReport report = Report();
    EXPECT_EQ(report.firmwareByteCount, static_cast<int32_t>(size));
    EXPECT_EQ(report.badCharacterCount, 0);
    std::string received(size, '\0');
    EXPECT_EQ(
        CopyReceivedFirmware(reinterpret_cast<uint8_t*>(&received[0]), static_cast<int32_t>(size)),
        static_cast<int32_t>(size));
    EXPECT_TRUE(received == bytes) << "script bytes differ";
    EXPECT_EQ(report.checksumReceived, SumOf(bytes));
    EXPECT_EQ(report.checksumMatched, 1);
    std::vector<int32_t> acks(report.ackIndices, report.ackIndices + report.ackCount);
    EXPECT_EQ(acks, AckIndices(size));
    ExpectCleanedUp(path);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FirmwareSizeTest, ::testing::Values(0, 95, 96, 224, 20480));

TEST_F(JobTest, ScriptGoesOutAsUpperCaseHexPairsThenItsChecksumLine) {
    const std::string path = Script("abc.dcs", "abc");
    StartModule();
    ChooseFirmwareJob(dialog_, path);
    ExpectSuccess(RunJob(dialog_), kSuccess);
    EXPECT_EQ(ModuleReceived(), "\x14\x10"
                                "616263\n0126");
}

TEST_F(JobTest, AUsbAdapterAboveCom9CarriesAWholeRun) {
    StartModule(200);
    const std::string path = Script("high.dcs", std::string(300, '\x42'));
    ChooseFirmwareJob(dialog_, path);
    ChoosePort(dialog_, 12);
    ASSERT_NE(SendDlgItemMessageA(dialog_, IDC_COM_PORT_LIST, CB_GETCURSEL, 0, 0), CB_ERR);
    ExpectSuccess(RunJob(dialog_), " The programming of Firmware was successful. ");
    EXPECT_EQ(Report().firmwareByteCount, 300);
    EXPECT_EQ(PortTable[12].portHandle, nullptr); // closed again
}

TEST_F(JobTest, EveryByteValueGoesOutAsItsPair) {
    std::string bytes;
    for (int v = 0; v < 256; ++v) {
        bytes.push_back(static_cast<char>(v));
    }
    const std::string path = Script("values.dcs", bytes);
    StartModule();
    ChooseFirmwareJob(dialog_, path);
    ExpectSuccess(RunJob(dialog_), kSuccess);
    std::string expected = "\x14\x10";
    const char digits[] = "0123456789ABCDEF";
    for (int v = 0; v < 256; ++v) {
        expected += digits[v / 16];
        expected += digits[v % 16];
    }
    expected += "\n7F80"; // 0 + 1 + ... + 255 = 32640
    EXPECT_EQ(ModuleReceived(), expected);
}

// How a module fault is set up, and what the run then shows.
struct FirmwareFault {
    const char* name;
    void (*setUp)(SimOptions*);
    const char* result;
    const char* status;
};

void PrintTo(const FirmwareFault& fault, std::ostream* out) {
    *out << fault.name;
}

class FirmwareFaultTest : public JobTest, public ::testing::WithParamInterface<FirmwareFault> {};

TEST_P(FirmwareFaultTest, EndsWithItsTextAndKeepsTheStepInTheStatusLine) {
    const FirmwareFault& fault = GetParam();
    fault.setUp(&options_);
    const std::string path = Script("fault.dcs", ScriptBytes(300));
    StartModule();
    ChooseFirmwareJob(dialog_, path);
    JobOutcome run = RunJob(dialog_);
    ExpectFailure(run, fault.result, fault.status);
    ExpectCleanedUp(path);
}

const FirmwareFault kFirmwareFaults[] = {
    {"NoAnswerTo14", [](SimOptions* o) { o->answer14 = kAnswerNone; }, kNoAnswer,
     "Initialisation of programming process"},
    {"WrongAnswerTo14", [](SimOptions* o) { o->answer14 = kAnswerWrong; }, kNoAnswer,
     "Initialisation of programming process"},
    {"NoAnswerTo10", [](SimOptions* o) { o->answer10 = kAnswerNone; }, kNoAnswer,
     "Initialisation of programming process"},
    {"WrongAnswerTo10", [](SimOptions* o) { o->answer10 = kAnswerWrong; }, kNoAnswer,
     "Initialisation of programming process"},
    {"FirstAcknowledgementMissing",
     [](SimOptions* o) {
         o->ackFault = kAckMissing;
         o->ackFaultBlock = 0;
     },
     kNotProgrammed, "Update firmware --> 94"},
    {"SecondAcknowledgementWrong",
     [](SimOptions* o) {
         o->ackFault = kAckWrong;
         o->ackFaultBlock = 1;
     },
     kNotProgrammed, "Update firmware --> 222"},
    {"AcknowledgementTooLate",
     [](SimOptions* o) {
         o->ackFault = kAckLate;
         o->ackFaultBlock = 0;
         o->ackDelayMs = 1000;
     },
     kNotProgrammed, "Update firmware --> 94"},
    {"ChecksumRefused", [](SimOptions* o) { o->checksumCheckFails = 1; }, kNotProgrammed,
     "Send Checksum"},
    {"ConfirmationMissing", [](SimOptions* o) { o->confirmFault = kConfirmMissing; },
     kNotProgrammed, "Send Checksum"},
    {"ConfirmationOtherText", [](SimOptions* o) { o->confirmFault = kConfirmOtherText; },
     kNotProgrammed, "Send Checksum"},
    // Without its leading byte the line loses its first letter to the read
    // that takes that byte.
    {"ConfirmationWithoutLeadingByte",
     [](SimOptions* o) { o->confirmFault = kConfirmNoLeadingByte; }, kNotProgrammed,
     "Send Checksum"},
    {"ConfirmationEndingInCrLf", [](SimOptions* o) { o->confirmFault = kConfirmCrLf; },
     kNotProgrammed, "Send Checksum"},
};

INSTANTIATE_TEST_SUITE_P(Faults, FirmwareFaultTest, ::testing::ValuesIn(kFirmwareFaults),
                         [](const ::testing::TestParamInfo<FirmwareFault>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(JobTest, AConfirmationWithoutLeadingByteThatComesLateIsReadWhole) {
    // The read for the leading byte gives up after 500 ms; the line that
    // follows within the next read's time-out is then read whole.
    options_.confirmFault = kConfirmNoLeadingByte;
    options_.confirmDelayMs = 700;
    const std::string path = Script("late.dcs", ScriptBytes(10));
    StartModule();
    ChooseFirmwareJob(dialog_, path);
    ExpectSuccess(RunJob(dialog_), kSuccess);
}

TEST_F(JobTest, ALateAcknowledgementWithinItsTimeOutIsFine) {
    options_.ackFault = kAckLate;
    options_.ackFaultBlock = 1;
    options_.ackDelayMs = 400;
    const std::string path = Script("slow.dcs", ScriptBytes(300));
    StartModule();
    ChooseFirmwareJob(dialog_, path);
    ExpectSuccess(RunJob(dialog_), kSuccess);
    EXPECT_EQ(Report().ackCount, 2);
}
