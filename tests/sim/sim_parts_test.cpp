// The simulator's pure helpers: pacing arithmetic, the send queue, the event
// log, the record text, the command line and the report text.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "module_record.h"
#include "send_queue.h"
#include "sim_arguments.h"
#include "sim_report.h"

TEST(Pacing, ABytesWireTimeIsTenBitTimes) {
    EXPECT_EQ(ByteTicks(9600, 9600000), 10000);
    EXPECT_EQ(ByteTicks(115200, 1152000), 100);
    EXPECT_EQ(ByteTicks(9600, 10000000), 10417); // rounded up, never early
    EXPECT_EQ(ByteTicks(0, 10000000), 0);
}

TEST(Pacing, ModelledArrivalsNeverComeFasterThanTheRate) {
    const int64_t byte = 1000;
    int64_t arrival = kLongAgo;
    // A burst of three bytes that really arrived together at 5000.
    std::vector<int64_t> arrivals;
    for (int i = 0; i < 3; ++i) {
        arrival = ModelArrival(arrival, 5000, byte);
        arrivals.push_back(arrival);
    }
    EXPECT_EQ(arrivals, (std::vector<int64_t>{5000, 6000, 7000}));
    // A byte after a pause arrives when it really arrived.
    EXPECT_EQ(ModelArrival(7000, 20000, byte), 20000);
    // Unpaced, the model is the real arrival.
    EXPECT_EQ(ModelArrival(7000, 5000, 0), 7000);
}

TEST(Pacing, AnOutputByteLeavesAfterItsWireTimeOnceTheLineIsFree) {
    EXPECT_EQ(NextSendTime(100, kLongAgo, 10), 110);
    EXPECT_EQ(NextSendTime(100, 150, 10), 160);
    EXPECT_EQ(NextSendTime(200, 150, 10), 210);
}

TEST(SendQueue, KeepsQueueOrderAndRefusesWhenFull) {
    auto queue = std::make_unique<SendQueue>();
    ClearSendQueue(queue.get());
    EXPECT_EQ(FirstSegment(queue.get()), nullptr);
    const uint8_t bytes[] = {'a', 'b'};
    for (int i = 0; i < kQueueSegments; ++i) {
        ASSERT_TRUE(QueueSegment(queue.get(), bytes, 2, 1000 - i, 0));
    }
    EXPECT_FALSE(QueueSegment(queue.get(), bytes, 2, 0, 0));
    EXPECT_FALSE(QueueSegment(queue.get(), bytes, kOutputCapacity + 1, 0, 0));
    for (int i = 0; i < kQueueSegments; ++i) {
        SendSegment* segment = FirstSegment(queue.get());
        ASSERT_NE(segment, nullptr);
        EXPECT_EQ(segment->dueTicks, 1000 - i); // in queue order, not by due time
        EXPECT_EQ(segment->sent, 0);
        DropFirstSegment(queue.get());
    }
    EXPECT_EQ(FirstSegment(queue.get()), nullptr);
    DropFirstSegment(queue.get()); // harmless when empty
    EXPECT_TRUE(QueueSegment(queue.get(), bytes, 2, 0, 0));
}

TEST(EventLog, HandsOutLinesInOrderAndDropsTheOldestWhenFull) {
    auto log = std::make_unique<EventLog>();
    EmptyEventLog(log.get());
    char line[kEventLineLength];
    EXPECT_FALSE(TakeEvent(log.get(), line, sizeof line));
    for (int i = 0; i < kEventLines + 5; ++i) {
        AddEvent(log.get(), "event %d", i);
    }
    EXPECT_EQ(log->droppedCount, 5);
    ASSERT_TRUE(TakeEvent(log.get(), line, sizeof line));
    EXPECT_STREQ(line, "event 5");
    char small[4];
    ASSERT_TRUE(TakeEvent(log.get(), small, sizeof small));
    EXPECT_STREQ(small, "eve");
    AddEvent(log.get(), "%s", std::string(300, 'x').c_str());
    int taken = 0;
    std::string last;
    while (TakeEvent(log.get(), line, sizeof line)) {
        taken++;
        last = line;
    }
    EXPECT_EQ(taken, kEventLines - 1);
    EXPECT_EQ(last.size(), static_cast<size_t>(kEventLineLength - 1));
}

TEST(RecordText, RoundTripsAndRefusesWhatIsNoRecord) {
    uint8_t record[kRecordCapacity];
    int32_t count = SetDefaultRecord(record);
    EXPECT_EQ(count, kDefaultRecordCount);
    EXPECT_EQ(record[kStationAddressIndex], kDefaultStationAddress);
    char text[2 * kRecordCapacity + 1];
    ASSERT_EQ(FormatRecordText(record, count, text, sizeof text), 64);
    EXPECT_EQ(FormatRecordText(record, count, text, 64), -1); // no room for the NUL
    ASSERT_EQ(FormatRecordText(record, count, text, sizeof text), 64);
    uint8_t parsed[kRecordCapacity];
    std::string line = std::string(text) + "\r\n";
    ASSERT_EQ(ParseRecordText(line.c_str(), parsed, kRecordCapacity), 32);
    EXPECT_EQ(0, memcmp(parsed, record, 32));
    EXPECT_EQ(ParseRecordText("a5FF", parsed, kRecordCapacity), 2);
    EXPECT_EQ(parsed[0], 0xA5);
    EXPECT_EQ(ParseRecordText("", parsed, kRecordCapacity), -1);
    EXPECT_EQ(ParseRecordText("ABC", parsed, kRecordCapacity), -1);
    EXPECT_EQ(ParseRecordText("AB G0", parsed, kRecordCapacity), -1);
    EXPECT_EQ(ParseRecordText("ABCDEF", parsed, 2), -1);
}

namespace {

int16_t Parse(std::vector<const char*> arguments, SimProgramSettings* settings,
              std::string* error = nullptr) {
    arguments.insert(arguments.begin(), "korvan-sim.exe");
    char text[200];
    int16_t status = ParseSimArguments(static_cast<int>(arguments.size()), arguments.data(),
                                       settings, text, sizeof text);
    if (error != nullptr) {
        *error = text;
    }
    return status;
}

} // namespace

TEST(SimArguments, APortAloneGivesAModuleWithoutFaults) {
    SimProgramSettings settings;
    ASSERT_EQ(Parse({"COM2"}, &settings), 0);
    EXPECT_EQ(settings.portNumber, 2);
    EXPECT_EQ(settings.powerOnAfterMs, -1);
    EXPECT_EQ(settings.exitAfterMs, -1);
    EXPECT_EQ(settings.options.pacingBaud, 0);
    EXPECT_EQ(settings.options.bannerLineEnd, 1);
    EXPECT_EQ(settings.options.configZeroAt, -1);
    EXPECT_EQ(settings.options.initialStationAddress, -1);
    ASSERT_EQ(Parse({"--help"}, &settings), 0);
    EXPECT_EQ(settings.showHelp, 1);
    ASSERT_EQ(Parse({"/?"}, &settings), 0);
    EXPECT_EQ(settings.showHelp, 1);
}

TEST(SimArguments, TakesAnyComPortByNameOrNumber) {
    SimProgramSettings settings;
    for (const auto& [argument, port] : std::vector<std::pair<const char*, int>>{
             {"COM1", 1}, {"com8", 8}, {"Com9", 9}, {"COM256", 256}, {"12", 12}, {"256", 256}}) {
        ASSERT_EQ(Parse({argument}, &settings), 0) << argument;
        EXPECT_EQ(settings.portNumber, port) << argument;
    }
    std::string error;
    for (const char* argument :
         {"COM0", "COM257", "0", "257", "COM01", "COM", "COMx", "port1", "COM1x", "-1"}) {
        EXPECT_EQ(Parse({argument}, &settings, &error), 1) << argument;
        EXPECT_NE(error.find(argument), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(SimArguments, TakesEveryOption) {
    SimProgramSettings settings;
    ASSERT_EQ(Parse({"COM4",
                     "--power-on-after",
                     "300",
                     "--exit-after",
                     "5000",
                     "--no-input",
                     "--state",
                     "s.txt",
                     "--trace",
                     "t.bin",
                     "--station",
                     "17",
                     "--pace",
                     "9600",
                     "--power-on-delay",
                     "40",
                     "--startup",
                     "wrong-letter",
                     "--startup-text",
                     "<img src=x>",
                     "--no-banner-line-end",
                     "--answer-14",
                     "wrong=XX",
                     "--answer-10",
                     "none",
                     "--ack-fault",
                     "late",
                     "--ack-block",
                     "2",
                     "--confirm-delay",
                     "650",
                     "--ack-delay",
                     "900",
                     "--wrong-ack",
                     "!",
                     "--confirm",
                     "other=Done",
                     "--checksum-fails",
                     "--config-length",
                     "401",
                     "--config-lower-case",
                     "--config-zero-at",
                     "10",
                     "--config-non-hex-at",
                     "3",
                     "--config-silent",
                     "--config-no-line-feed",
                     "--power-event",
                     "demo-power",
                     "--quit-event",
                     "Local\\demo-quit"},
                    &settings),
              0);
    const SimOptions& o = settings.options;
    EXPECT_EQ(settings.portNumber, 4);
    EXPECT_EQ(settings.powerOnAfterMs, 300);
    EXPECT_EQ(settings.exitAfterMs, 5000);
    EXPECT_EQ(settings.ignoreInput, 1);
    EXPECT_STREQ(o.stateFile, "s.txt");
    EXPECT_STREQ(o.traceFile, "t.bin");
    EXPECT_EQ(o.initialStationAddress, 17);
    EXPECT_EQ(o.pacingBaud, 9600);
    EXPECT_EQ(o.powerOnDelayMs, 40);
    EXPECT_EQ(o.startupFault, kStartupWrongLetter);
    EXPECT_STREQ(o.startupText, "<img src=x>");
    EXPECT_EQ(o.bannerLineEnd, 0);
    EXPECT_EQ(o.answer14, kAnswerWrong);
    EXPECT_STREQ(o.wrongAnswer14, "XX");
    EXPECT_EQ(o.answer10, kAnswerNone);
    EXPECT_EQ(o.ackFault, kAckLate);
    EXPECT_EQ(o.ackFaultBlock, 2);
    EXPECT_EQ(o.ackDelayMs, 900);
    EXPECT_EQ(o.confirmDelayMs, 650);
    EXPECT_EQ(o.wrongAck, '!');
    EXPECT_EQ(o.confirmFault, kConfirmOtherText);
    EXPECT_STREQ(o.otherConfirmText, "Done");
    EXPECT_EQ(o.checksumCheckFails, 1);
    EXPECT_EQ(o.configLength, 401);
    EXPECT_EQ(o.configLowerCase, 1);
    EXPECT_EQ(o.configZeroAt, 10);
    EXPECT_EQ(o.configNonHexAt, 3);
    EXPECT_EQ(o.configSilent, 1);
    EXPECT_EQ(o.configLineFeed, 0);
    EXPECT_STREQ(settings.powerEventName, "demo-power");
    EXPECT_STREQ(settings.quitEventName, "Local\\demo-quit");
}

TEST(SimArguments, RefusesWhatItCannotUseNamingTheOption) {
    SimProgramSettings settings;
    std::string error;
    EXPECT_EQ(Parse({}, &settings, &error), 1);
    EXPECT_NE(error.find("port is missing"), std::string::npos) << error;
    EXPECT_EQ(Parse({"COM1", "COM2"}, &settings), 1);
    const std::string longName(64, 'e');
    const std::vector<std::vector<const char*>> refused = {
        {"--pace"},
        {"--pace", "fast"},
        {"--station", "256"},
        {"--startup", "sometimes"},
        {"--answer-14", "wrong=TOOLONGTEXT"},
        {"--answer-10", "none=X"}, // only "wrong" takes a text
        {"--confirm", "crlf=X"},
        {"--wrong-ack", "ab"},
        {"--config-length", "4001"},
        {"--power-event"},
        {"--power-event", ""},
        {"--quit-event", longName.c_str()},
        {"--frobnicate"},
    };
    for (const std::vector<const char*>& arguments : refused) {
        std::vector<const char*> all = {"COM1"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        EXPECT_EQ(Parse(all, &settings, &error), 1) << arguments[0];
        EXPECT_NE(error.find(arguments[0]), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    EXPECT_EQ(Parse({"COM1", "--quit-event", longName.substr(1).c_str()}, &settings), 0);
}

TEST(ReportText, ShowsTheExchangesInWords) {
    auto report = std::make_unique<SimReport>();
    memset(report.get(), 0, sizeof *report);
    report->powerOnCount = 1;
    report->bannerCount = 1;
    report->poweredOn = 1;
    report->downloadStarted = 1;
    report->firmwareByteCount = 300;
    report->ackCount = 2;
    report->ackIndices[0] = 95;
    report->ackIndices[1] = 223;
    report->faultyAckIndex = -1;
    report->checksumComplete = 1;
    strcpy(report->checksumText, "1234");
    report->firmwareSum = 0x1234;
    report->checksumMatched = 1;
    memcpy(report->confirmation, "\rDownload ok.\n", 14);
    report->confirmationLength = 14;
    report->recordCount = 2;
    report->record[0] = 0xAB;
    report->record[1] = 0x05;
    report->stationAddress = -1;
    std::vector<char> text(kReportTextCapacity);
    FormatSimReport(report.get(), text.data(), kReportTextCapacity);
    std::string s = text.data();
    EXPECT_NE(s.find("300 script bytes"), std::string::npos) << s;
    EXPECT_NE(s.find("after script bytes 95 223"), std::string::npos) << s;
    EXPECT_NE(s.find("\"1234\", own sum 1234: match"), std::string::npos) << s;
    EXPECT_NE(s.find("<0D>Download ok.<0A>"), std::string::npos) << s;
    EXPECT_NE(s.find("record (2 values): AB 05"), std::string::npos) << s;
    char tiny[10];
    EXPECT_EQ(FormatSimReport(report.get(), tiny, sizeof tiny), 9);
}
