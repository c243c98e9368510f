// The simulated module's state machine, driven byte by byte without a port.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "module_record.h"
#include "module_machine.h"

namespace {

std::string Text(const ModuleOutput& out) {
    return std::string(reinterpret_cast<const char*>(out.bytes), static_cast<size_t>(out.length));
}

std::string HexOf(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

std::string Word(uint16_t value) {
    char text[8];
    snprintf(text, sizeof text, "%04X", value);
    return text;
}

class ModuleMachineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetDefaultSimOptions(&options_);
    }
    // A module with the factory record and options_, switched on; the
    // start-up output is left in out_.
    void Start() {
        uint8_t record[kRecordCapacity];
        int32_t count = SetDefaultRecord(record);
        StartModuleMachine(machine_.get(), &options_, record, count);
        PowerOnMachine(machine_.get(), out_.get());
    }
    // Feeds bytes; returns everything answered, in order.
    std::string Feed(const std::string& bytes) {
        std::string answered;
        for (char c : bytes) {
            FeedModuleByte(machine_.get(), static_cast<uint8_t>(c), out_.get());
            answered += Text(*out_);
        }
        return answered;
    }
    // Feeds the pairs of a script; returns the script indices after which
    // something was answered, and the answers.
    std::vector<std::pair<int, std::string>> FeedScript(const std::vector<uint8_t>& script) {
        std::vector<std::pair<int, std::string>> answers;
        std::string hex = HexOf(script);
        for (size_t i = 0; i < hex.size(); ++i) {
            FeedModuleByte(machine_.get(), static_cast<uint8_t>(hex[i]), out_.get());
            if (out_->length > 0) {
                answers.push_back({static_cast<int>(i / 2), Text(*out_)});
            }
        }
        return answers;
    }
    const SimReport& Report() const {
        return machine_->report;
    }

    SimOptions options_;
    std::unique_ptr<ModuleMachine> machine_ = std::make_unique<ModuleMachine>();
    std::unique_ptr<ModuleOutput> out_ = std::make_unique<ModuleOutput>();
};

std::vector<uint8_t> Script(size_t size) {
    std::vector<uint8_t> script(size);
    for (size_t i = 0; i < size; ++i) {
        script[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return script;
}

uint16_t SumOf(const std::vector<uint8_t>& bytes) {
    uint16_t sum = 0;
    for (uint8_t b : bytes) {
        sum = static_cast<uint16_t>(sum + b);
    }
    return sum;
}

} // namespace

TEST_F(ModuleMachineTest, IsSilentAndDeafUntilPoweredOn) {
    uint8_t record[kRecordCapacity];
    StartModuleMachine(machine_.get(), &options_, record, SetDefaultRecord(record));
    EXPECT_EQ(Feed("\x14\x10\x15\x04"), "");
    EXPECT_EQ(Report().answer14Count, 0);
    EXPECT_EQ(Report().configReadCount, 0);
    EXPECT_EQ(Report().ignoredByteCount, 0);
    PowerOnMachine(machine_.get(), out_.get());
    PowerOffMachine(machine_.get());
    EXPECT_EQ(Feed("\x14"), "");
    EXPECT_EQ(Report().poweredOn, 0);
    EXPECT_EQ(Report().powerOnCount, 1);
}

TEST_F(ModuleMachineTest, StartsWithAVersionLineThenTheBannerAndCrLf) {
    options_.powerOnDelayMs = 250;
    Start();
    std::string startup = Text(*out_);
    EXPECT_EQ(startup, "\r\nKorvan V2.07\r\nKonfigmode...\r\n");
    EXPECT_GE(startup.find("Konfigmode..."), 4u); // the tool needs four bytes before it
    EXPECT_EQ(out_->delayMs, 250);
    EXPECT_EQ(Report().bannerCount, 1);

    options_.bannerLineEnd = 0;
    Start();
    EXPECT_EQ(Text(*out_), "\r\nKorvan V2.07\r\nKonfigmode...");

    // --startup-text: another line before the banner.
    strcpy(options_.startupText, "<b>V3</b>");
    Start();
    EXPECT_EQ(Text(*out_), "\r\n<b>V3</b>\r\nKonfigmode...");
}

TEST_F(ModuleMachineTest, StartUpFaults) {
    options_.startupFault = kStartupBannerOnly;
    Start();
    EXPECT_EQ(Text(*out_), "Konfigmode...\r\n");

    options_.startupFault = kStartupWrongLetter;
    Start();
    EXPECT_EQ(Text(*out_).find("Konfigmode..."), std::string::npos);
    EXPECT_NE(Text(*out_).find("konfigmode..."), std::string::npos);
    EXPECT_EQ(Report().bannerCount, 0);

    options_.startupFault = kStartupEndless;
    Start();
    EXPECT_EQ(out_->length, 0);
    std::string babble;
    for (int i = 0; i < 200; ++i) {
        NextBabbleLine(machine_.get(), out_.get());
        ASSERT_GT(out_->length, 0);
        babble += Text(*out_);
    }
    EXPECT_EQ(babble.find("Konfigmode..."), std::string::npos);
    EXPECT_EQ(Feed("\x14\x15"), ""); // deaf while it babbles
    PowerOffMachine(machine_.get());
    NextBabbleLine(machine_.get(), out_.get());
    EXPECT_EQ(out_->length, 0);
}

TEST_F(ModuleMachineTest, AnswersTheHandshakeAndIgnoresOtherBytes) {
    Start();
    EXPECT_EQ(Feed("\x14"), "OK");
    EXPECT_EQ(Feed("xy\r"), "");
    EXPECT_EQ(Report().ignoredByteCount, 3);
    EXPECT_EQ(Feed("\x10"), ".");
    EXPECT_EQ(Report().answer14Count, 1);
    EXPECT_EQ(Report().answer10Count, 1);
    EXPECT_EQ(machine_->state, kModuleDownload);
}

TEST_F(ModuleMachineTest, HandshakeFaults) {
    options_.answer14 = kAnswerNone;
    options_.answer10 = kAnswerWrong;
    Start();
    EXPECT_EQ(Feed("\x14"), "");
    EXPECT_EQ(Feed("\x10"), "?");
    options_.answer14 = kAnswerWrong;
    options_.answer10 = kAnswerNone;
    Start();
    EXPECT_EQ(Feed("\x14"), "NO");
    EXPECT_EQ(Feed("\x10"), "");
    EXPECT_EQ(machine_->state, kModuleDownload); // it listens all the same
}

TEST_F(ModuleMachineTest, DownloadsAShortScriptAndConfirmsItsChecksum) {
    Start();
    Feed("\x14\x10");
    EXPECT_EQ(Feed("616263"), "");
    EXPECT_EQ(Feed("\n012"), "");
    EXPECT_EQ(Feed("6"), "\rDownload ok.\n");
    EXPECT_EQ(Report().firmwareByteCount, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(machine_->firmware), 3), "abc");
    EXPECT_EQ(Report().firmwareSum, 0x0126);
    EXPECT_EQ(Report().checksumReceived, 0x0126);
    EXPECT_STREQ(Report().checksumText, "0126");
    EXPECT_EQ(Report().checksumMatched, 1);
    EXPECT_EQ(Report().ackCount, 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Report().confirmation),
                          Report().confirmationLength),
              "\rDownload ok.\n");
    EXPECT_EQ(machine_->state, kModuleReady);
}

TEST_F(ModuleMachineTest, AnEmptyScriptHasOnlyItsChecksumLine) {
    Start();
    Feed("\x14\x10");
    EXPECT_EQ(Feed("\n0000"), "\rDownload ok.\n");
    EXPECT_EQ(Report().firmwareByteCount, 0);
}

TEST_F(ModuleMachineTest, AcknowledgesAfterScriptBytes95And223AndEvery128th) {
    for (size_t size : {95u, 96u, 224u, 1000u}) {
        Start();
        Feed("\x14\x10");
        std::vector<uint8_t> script = Script(size);
        auto answers = FeedScript(script);
        std::vector<std::pair<int, std::string>> expected;
        for (size_t j = 95; j < size; j += 128) {
            expected.push_back({static_cast<int>(j), "."});
        }
        EXPECT_EQ(answers, expected) << "script of " << size;
        ASSERT_EQ(Report().ackCount, static_cast<int32_t>(expected.size()));
        for (size_t k = 0; k < expected.size(); ++k) {
            EXPECT_EQ(Report().ackIndices[k], expected[k].first);
        }
        EXPECT_EQ(Feed("\n" + Word(SumOf(script))), "\rDownload ok.\n");
        EXPECT_EQ(Report().firmwareByteCount, static_cast<int32_t>(size));
        EXPECT_EQ(0, memcmp(machine_->firmware, script.data(), size));
    }
}

TEST_F(ModuleMachineTest, EveryByteValueIsDecodedLineFeedIncluded) {
    Start();
    Feed("\x14\x10");
    std::vector<uint8_t> script(256);
    for (int i = 0; i < 256; ++i) {
        script[static_cast<size_t>(i)] = static_cast<uint8_t>(255 - i);
    }
    FeedScript(script);
    EXPECT_EQ(Feed("\n" + Word(SumOf(script))), "\rDownload ok.\n");
    EXPECT_EQ(0, memcmp(machine_->firmware, script.data(), script.size()));
    EXPECT_EQ(Report().badCharacterCount, 0);
}

TEST_F(ModuleMachineTest, AWrongOrGarbledChecksumGetsAnotherLine) {
    Start();
    Feed("\x14\x10");
    EXPECT_EQ(Feed("616263\n0127"), "\rChecksum error.\n");
    EXPECT_EQ(Report().checksumMatched, 0);
    EXPECT_EQ(Report().checksumReceived, 0x0127);
    Feed("\x10");
    EXPECT_EQ(Feed("616263\n01G6"), "\rChecksum error.\n");
    EXPECT_STREQ(Report().checksumText, "01G6");

    options_.checksumCheckFails = 1;
    Start();
    Feed("\x10");
    EXPECT_EQ(Feed("616263\n0126"), "\rChecksum error.\n");
}

TEST_F(ModuleMachineTest, CountsCharactersThatAreNotUpperCaseDigits) {
    Start();
    Feed("\x10");
    // "6a" decodes but counts; "x" is skipped and counts; the lone "6" before
    // the line feed is half a pair and counts.
    Feed("6a6x2");
    EXPECT_EQ(Report().firmwareByteCount, 2);
    EXPECT_EQ(machine_->firmware[0], 0x6A);
    EXPECT_EQ(machine_->firmware[1], 0x62);
    Feed("6\n");
    EXPECT_EQ(Report().badCharacterCount, 3);
    EXPECT_EQ(Feed(Word(0x6A + 0x62)), "\rDownload ok.\n");
}

TEST_F(ModuleMachineTest, AcknowledgementFaultsStrikeOnlyTheChosenBlock) {
    std::vector<uint8_t> script = Script(400); // acknowledgements after 95, 223, 351
    options_.ackFault = kAckMissing;
    options_.ackFaultBlock = 1;
    Start();
    Feed("\x10");
    auto answers = FeedScript(script);
    EXPECT_EQ(answers, (std::vector<std::pair<int, std::string>>{{95, "."}, {351, "."}}));
    EXPECT_EQ(Report().faultyAckIndex, 223);
    EXPECT_EQ(Report().ackCount, 2);

    options_.ackFault = kAckWrong;
    options_.ackFaultBlock = 0;
    options_.wrongAck = '!';
    Start();
    Feed("\x10");
    answers = FeedScript(script);
    EXPECT_EQ(answers[0], (std::pair<int, std::string>{95, "!"}));
    EXPECT_EQ(answers[1], (std::pair<int, std::string>{223, "."}));

    options_.ackFault = kAckLate;
    options_.ackFaultBlock = 2;
    options_.ackDelayMs = 900;
    Start();
    Feed("\x10");
    std::string hex = HexOf(script);
    std::vector<int> delays;
    for (char c : hex) {
        FeedModuleByte(machine_.get(), static_cast<uint8_t>(c), out_.get());
        if (out_->length > 0) {
            delays.push_back(out_->delayMs);
        }
    }
    EXPECT_EQ(delays, (std::vector<int>{0, 0, 900}));
    EXPECT_EQ(Report().ackCount, 3);
}

TEST_F(ModuleMachineTest, ConfirmationFaults) {
    struct Case {
        int16_t fault;
        std::string line;
    };
    const Case kCases[] = {{kConfirmNoLeadingByte, "Download ok.\n"},
                           {kConfirmCrLf, "\rDownload ok.\r\n"},
                           {kConfirmOtherText, "\rDownload OK.\n"},
                           {kConfirmMissing, ""}};
    for (const Case& c : kCases) {
        options_.confirmFault = c.fault;
        Start();
        Feed("\x10");
        EXPECT_EQ(Feed("616263\n0126"), c.line);
        EXPECT_EQ(Report().checksumMatched, 1);
        EXPECT_EQ(Report().confirmationLength, static_cast<int32_t>(c.line.size()));
    }

    options_.confirmFault = kConfirmNoLeadingByte;
    options_.confirmDelayMs = 700;
    Start();
    Feed("\x10");
    FeedScript({'a', 'b', 'c'});
    for (char c : std::string("\n0126")) {
        FeedModuleByte(machine_.get(), static_cast<uint8_t>(c), out_.get());
    }
    EXPECT_EQ(std::string(out_->bytes, out_->bytes + out_->length), "Download ok.\n");
    EXPECT_EQ(out_->delayMs, 700);
}

TEST_F(ModuleMachineTest, KeepsTheFirst256KiBOfAScriptAndCountsTheRest) {
    Start();
    Feed("\x10");
    std::vector<uint8_t> script = Script(kFirmwareCapacity + 10);
    auto answers = FeedScript(script);
    EXPECT_EQ(answers.size(), static_cast<size_t>((kFirmwareCapacity + 10 - 95 + 127) / 128));
    EXPECT_EQ(Report().firmwareByteCount, kFirmwareCapacity + 10);
    EXPECT_EQ(Feed("\n" + Word(SumOf(script))), "\rDownload ok.\n");
    EXPECT_EQ(0, memcmp(machine_->firmware, script.data(), kFirmwareCapacity));
}

TEST_F(ModuleMachineTest, SendsItsRecordAsUpperCaseHexWithCrLf) {
    Start();
    std::string reply = Feed("\x15");
    ASSERT_EQ(reply.size(), 66u);
    EXPECT_EQ(reply.substr(64), "\r\n");
    EXPECT_EQ(reply.substr(0, 8), "4B560207");
    EXPECT_EQ(reply.substr(28, 2), "03"); // value 14, the station address
    for (char c : reply.substr(0, 64)) {
        EXPECT_TRUE(isdigit(c) || (c >= 'A' && c <= 'F')) << c;
    }
    EXPECT_EQ(Report().configReadCount, 1);
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(Report().configSent), Report().configSentLength),
        reply);
}

TEST_F(ModuleMachineTest, ConfigurationReplyFaults) {
    Start();
    std::string hex = Feed("\x15").substr(0, 64);
    auto replyWith = [&](void (*change)(SimOptions*)) {
        SetDefaultSimOptions(&options_);
        change(&options_);
        ChangeMachineOptions(machine_.get(), &options_);
        return Feed("\x15");
    };
    for (int length : {62, 63, 64, 65, 66, 401, 1001, 4000}) {
        SetDefaultSimOptions(&options_);
        options_.configLength = length;
        ChangeMachineOptions(machine_.get(), &options_);
        std::string reply = Feed("\x15");
        ASSERT_EQ(reply.size(), static_cast<size_t>(length + 2)) << length;
        EXPECT_EQ(reply.substr(0, std::min(length, 64)), hex.substr(0, std::min(length, 64)));
        if (length > 64) {
            EXPECT_EQ(reply.substr(64, static_cast<size_t>(length - 64)),
                      std::string(static_cast<size_t>(length - 64), '0'));
        }
    }
    std::string lower = replyWith([](SimOptions* o) { o->configLowerCase = 1; });
    EXPECT_EQ(lower.substr(0, 8), "4b560207");
    std::string zero = replyWith([](SimOptions* o) { o->configZeroAt = 40; });
    ASSERT_EQ(zero.size(), 67u);
    EXPECT_EQ(zero[40], '\0');
    EXPECT_EQ(zero.substr(0, 40) + zero.substr(41, 24), hex);
    std::string nonHex = replyWith([](SimOptions* o) { o->configNonHexAt = 5; });
    EXPECT_EQ(nonHex.substr(0, 6), "4B560Z");
    EXPECT_EQ(replyWith([](SimOptions* o) { o->configLineFeed = 0; }), hex + "\r");
    EXPECT_EQ(replyWith([](SimOptions* o) { o->configSilent = 1; }), "");
}

TEST_F(ModuleMachineTest, StoresAWriteBackWithAMatchingChecksum) {
    options_.initialStationAddress = 9;
    Start();
    std::string hex = Feed("\x15").substr(0, 64);
    EXPECT_EQ(hex.substr(28, 2), "09");
    hex.replace(28, 2, "05");
    uint16_t sum = 0;
    for (size_t k = 0; k < 32; ++k) {
        sum = static_cast<uint16_t>(sum + std::stoi(hex.substr(2 * k, 2), nullptr, 16));
    }
    EXPECT_EQ(Feed("\x04" + hex + "\n" + Word(sum)), ""); // nothing stored before the final LF
    EXPECT_EQ(Report().writeBackStored, 0);
    EXPECT_EQ(Feed("\n"), ""); // no answer to the write
    EXPECT_EQ(Report().writeBackComplete, 1);
    EXPECT_EQ(Report().writeBackMatched, 1);
    EXPECT_EQ(Report().writeBackStored, 1);
    EXPECT_EQ(Report().writeBackCount, 32);
    EXPECT_EQ(Report().writeBackSum, sum);
    EXPECT_EQ(Report().stationAddress, 5);
    EXPECT_EQ(Report().record[kStationAddressIndex], 5);
    EXPECT_EQ(machine_->recordChanged, 1);
    EXPECT_EQ(Feed("\x15").substr(0, 64), hex); // read back as written
}

TEST_F(ModuleMachineTest, AWriteBackIsNotStoredWithoutMatchingChecksumOrFinalLineFeed) {
    Start();
    std::string hex = Feed("\x15").substr(0, 64);
    std::string changed = hex;
    changed.replace(28, 2, "7E");
    Feed("\x04" + changed + "\n0000\n");
    EXPECT_EQ(Report().writeBackComplete, 1);
    EXPECT_EQ(Report().writeBackMatched, 0);
    EXPECT_EQ(Report().writeBackStored, 0);
    EXPECT_EQ(Report().stationAddress, kDefaultStationAddress);

    uint16_t sum = 0;
    for (size_t k = 0; k < 32; ++k) {
        sum = static_cast<uint16_t>(sum + std::stoi(changed.substr(2 * k, 2), nullptr, 16));
    }
    Feed("\x04" + changed + "\n" + Word(sum) + "X");
    EXPECT_EQ(Report().writeBackComplete, 0);
    EXPECT_EQ(Report().writeBackStored, 0);
    EXPECT_EQ(Report().stationAddress, kDefaultStationAddress);
    EXPECT_EQ(machine_->state, kModuleReady);

    options_.checksumCheckFails = 1;
    ChangeMachineOptions(machine_.get(), &options_);
    Feed("\x04" + changed + "\n" + Word(sum) + "\n");
    EXPECT_EQ(Report().writeBackStored, 0);
    EXPECT_EQ(machine_->recordChanged, 0);
}

TEST_F(ModuleMachineTest, APowerCycleInTheMiddleOfADownloadStartsAfresh) {
    Start();
    Feed("\x14\x10"
         "6162");
    PowerOnMachine(machine_.get(), out_.get());
    EXPECT_EQ(Report().powerOnCount, 2);
    EXPECT_EQ(machine_->state, kModuleReady);
    EXPECT_EQ(Feed("\x14"), "OK");
}

TEST_F(ModuleMachineTest, TellsWhatHappensInItsEventLog) {
    Start();
    Feed("\x14\x10"
         "616263\n0126");
    std::string all;
    char line[kEventLineLength];
    while (TakeEvent(&machine_->log, line, sizeof line)) {
        all += line;
        all += "\n";
    }
    EXPECT_NE(all.find("power on"), std::string::npos);
    EXPECT_NE(all.find("\"OK\""), std::string::npos);
    EXPECT_NE(all.find("3 script bytes"), std::string::npos);
    EXPECT_NE(all.find("match"), std::string::npos);
}
