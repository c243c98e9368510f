// The Profibus-ID job from START to the result line, against the simulated
// module.
#include <cstring>

#include "support/job_fixture.h"
#include "support/driver_double.h"

namespace {

const char kSuccess[] = " The programming of Profibus-ID was successful. ";
const char kCannotRead[] = "Configuration of Korvan module cannot be read";
const char kBadRecord[] = "Error in received configuration of Korvan module";
const char kReading[] = "Read old configuration of Pelix IC";

class ProfibusTest : public JobTest {
  protected:
    // Gives the module the record of the hexadecimal text through its state
    // file.
    void UseRecord(const std::string& hexText) {
        std::string path = Script("record.txt", hexText + "\n");
        strcpy(options_.stateFile, path.c_str());
    }
    // What the module received after its 0x15: the write-back.
    std::string WriteBack() {
        std::string received = ModuleReceived();
        EXPECT_EQ(received.substr(0, 1), "\x15");
        return received.substr(1);
    }
};

} // namespace

TEST_F(ProfibusTest, WritesTheWholeRecordBackWithTheNewIdAndItsChecksum) {
    UseRecord(std::string(64, '0'));
    StartModule();
    ChooseProfibusJob(dialog_, 5);
    JobOutcome run = RunJob(dialog_);
    ExpectSuccess(run, kSuccess);
    EXPECT_EQ(Report().stationAddress, 5);
    EXPECT_EQ(WriteBack(),
              "\x04" + std::string(28, '0') + "05" + std::string(34, '0') + "\n0005\n");
    ExpectCleanedUp();
}

TEST_F(ProfibusTest, KeepsEveryOtherValueAndItsPlace) {
    std::string record;
    for (int k = 0; k < 33; ++k) { // 66 characters, 33 values
        const char digits[] = "0123456789ABCDEF";
        int value = (k * 37 + 11) & 0xFF;
        record += digits[value / 16];
        record += digits[value % 16];
    }
    UseRecord(record);
    StartModule();
    ChooseProfibusJob(dialog_, 126);
    ExpectSuccess(RunJob(dialog_), kSuccess);
    std::string expected = record;
    expected.replace(28, 2, "7E");
    uint16_t sum = 0;
    for (int k = 0; k < 33; ++k) {
        sum = static_cast<uint16_t>(sum + std::stoi(expected.substr(2 * k, 2), nullptr, 16));
    }
    char line[8];
    snprintf(line, sizeof line, "\n%04X\n", sum);
    EXPECT_EQ(WriteBack(), "\x04" + expected + line);
}

struct IdEntry {
    int id;
    const char* pair; // value 14 as it goes out
};

void PrintTo(const IdEntry& entry, std::ostream* out) {
    *out << entry.id;
}

class ProfibusIdTest : public ProfibusTest, public ::testing::WithParamInterface<IdEntry> {};

TEST_P(ProfibusIdTest, TheChosenEntryGivesItsId) {
    const int id = GetParam().id;
    StartModule();
    ChooseProfibusJob(dialog_, id);
    ExpectSuccess(RunJob(dialog_), kSuccess);
    SimReport report = Report();
    EXPECT_EQ(report.writeBackMatched, 1);
    EXPECT_EQ(report.stationAddress, id);
    EXPECT_EQ(WriteBack().substr(1 + 28, 2), GetParam().pair);
}

INSTANTIATE_TEST_SUITE_P(Entries, ProfibusIdTest,
                         ::testing::Values(IdEntry{1, "01"}, IdEntry{126, "7E"},
                                           IdEntry{127, "7F"}),
                         [](const ::testing::TestParamInfo<IdEntry>& info) {
                             return "Id" + std::to_string(info.param.id);
                         });

TEST_F(ProfibusTest, LowerCaseDigitsGoBackUpperCase) {
    UseRecord("A5" + std::string(62, 'b'));
    options_.configLowerCase = 1;
    StartModule();
    ChooseProfibusJob(dialog_, 2);
    ExpectSuccess(RunJob(dialog_), kSuccess);
    std::string written = WriteBack();
    EXPECT_EQ(written.substr(1, 4), "A5BB");
    EXPECT_EQ(written.find_first_of("abcdef"), std::string::npos);
}

TEST_F(ProfibusTest, CharactersThatAreNoDigitsCountAsZero) {
    UseRecord("1234" + std::string(60, '0'));
    options_.configNonHexAt = 3; // "1234" arrives as "123Z"
    StartModule();
    ChooseProfibusJob(dialog_, 9);
    ExpectSuccess(RunJob(dialog_), kSuccess);
    EXPECT_EQ(WriteBack().substr(1, 4), "1230");
}

TEST_F(ProfibusTest, AZeroByteEndsTheReply) {
    options_.configLength = 80;
    options_.configZeroAt = 64; // 64 characters, a zero byte, 16 more
    StartModule();
    ChooseProfibusJob(dialog_, 7);
    ExpectSuccess(RunJob(dialog_), kSuccess);
    EXPECT_EQ(Report().writeBackCount, 32);
}

class ReplyLengthTest : public ProfibusTest, public ::testing::WithParamInterface<int> {};

TEST_P(ReplyLengthTest, RecordsOfEvenLength64To400Pass) {
    const int length = GetParam();
    options_.configLength = length;
    StartModule();
    InstallDriverDouble("COM1"); // counts the tool's device writes
    ChooseProfibusJob(dialog_, 3);
    JobOutcome run = RunJob(dialog_);
    RemoveDriverDouble();
    const bool valid = length >= 64 && length <= 400 && length % 2 == 0;
    if (valid) {
        ExpectSuccess(run, kSuccess);
        EXPECT_EQ(Report().writeBackCount, length / 2);
        // 0x15, then the record of up to 407 bytes with its checksum in one.
        EXPECT_EQ(driverDouble.writeCalls, 2);
    } else {
        // The module is left as it was: no write-back announced.
        ExpectFailure(run, kBadRecord, kReading);
        EXPECT_EQ(WriteBack(), "");
    }
    ExpectCleanedUp();
}

// 1001 characters fill the run's buffer before the carriage return.
INSTANTIATE_TEST_SUITE_P(Lengths, ReplyLengthTest,
                         ::testing::Values(62, 63, 64, 65, 66, 400, 402, 1001));

TEST_F(ProfibusTest, ASilentModuleCannotBeRead) {
    options_.configSilent = 1;
    StartModule();
    ChooseProfibusJob(dialog_, 3);
    JobOutcome run = RunJob(dialog_);
    ExpectFailure(run, kCannotRead, kReading);
    EXPECT_EQ(WriteBack(), "");
    ExpectCleanedUp();
}
