// The encodings and decoders of the module procedures, as plain logic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "banner_scan.h"
#include "profibus_id.h"
#include "wire_encoding.h"

static std::string Pair(uint8_t value) {
    uint8_t pair[2];
    FormatHexPair(value, pair);
    return std::string(pair, pair + 2);
}

static std::string ChecksumLine(uint16_t sum) {
    uint8_t line[5];
    FormatChecksumLine(sum, line);
    return std::string(line, line + 5);
}

TEST(HexText, PairsAreUpperCaseHighNibbleFirst) {
    EXPECT_EQ(Pair(0x3A), "3A");
    EXPECT_EQ(Pair(0x00), "00");
    EXPECT_EQ(Pair(0xFF), "FF");
    EXPECT_EQ(Pair(0x0A), "0A");
    EXPECT_EQ(Pair(0xA5), "A5");
    for (int v = 0; v < 256; ++v) { // every pair decodes back to its value
        std::string pair = Pair(static_cast<uint8_t>(v));
        EXPECT_EQ(HexDigitValue(pair[0]) * 16 + HexDigitValue(pair[1]), v);
    }
}

TEST(HexText, ChecksumLineIsALineFeedAndFourDigits) {
    EXPECT_EQ(ChecksumLine(0x01F4), "\n01F4");
    EXPECT_EQ(ChecksumLine(0), "\n0000");
    EXPECT_EQ(ChecksumLine(0x0126), "\n0126");
    EXPECT_EQ(ChecksumLine(0xFFFF), "\nFFFF");
    EXPECT_EQ(ChecksumLine(0xA0B1), "\nA0B1");
}

TEST(HexText, DigitValuesTakeBothCasesAndCountOthersAsZero) {
    EXPECT_EQ(HexDigitValue('0'), 0);
    EXPECT_EQ(HexDigitValue('9'), 9);
    EXPECT_EQ(HexDigitValue('A'), 10);
    EXPECT_EQ(HexDigitValue('f'), 15);
    EXPECT_EQ(HexDigitValue('G'), 0);
    EXPECT_EQ(HexDigitValue('g'), 0);
    EXPECT_EQ(HexDigitValue(' '), 0);
    EXPECT_EQ(HexDigitValue(0xC1), 0);
}

TEST(HexText, AStretchOfPairsIsEachValuesPairInOrderAndItsSum) {
    const uint8_t values[] = {0x61, 0x62, 0x63, 0x00, 0xFF, 0x0A};
    uint8_t text[2 * sizeof values + 1];
    memset(text, '#', sizeof text);
    FormatHexPairs(values, sizeof values, text);
    EXPECT_EQ(std::string(text, text + sizeof text), "61626300FF0A#"); // nothing past its end
    EXPECT_EQ(AddToSum(0, values, 3), 0x0126);
    EXPECT_EQ(AddToSum(0xFFFF, values, 1), 0x0060); // modulo 65536
    EXPECT_EQ(AddToSum(7, values, 0), 7);
}

// The stretches of a script of size bytes, each as its first and last byte.
static std::vector<std::pair<int32_t, int32_t>> Stretches(int32_t size) {
    std::vector<std::pair<int32_t, int32_t>> stretches;
    for (int32_t first = 0; first < size;) {
        const int32_t last = StretchEnd(first, size);
        if (last < first || stretches.size() > static_cast<size_t>(size)) {
            ADD_FAILURE() << "no progress at " << first;
            break;
        }
        stretches.push_back({first, last});
        first = last + 1;
    }
    return stretches;
}

TEST(Acknowledgements, AreAwaitedAfterBytes95And223AndEveryFurther128) {
    for (int32_t index : {95, 223, 351, 479, 65503}) {
        EXPECT_TRUE(AcknowledgedAfter(index)) << index;
    }
    for (int32_t index : {0, 1, 94, 96, 127, 128, 222, 224, 255, 256, 65535}) {
        EXPECT_FALSE(AcknowledgedAfter(index)) << index;
    }
}

TEST(Acknowledgements, EachStretchEndsAtTheNextAcknowledgementOrTheScriptsEnd) {
    using Stretch = std::vector<std::pair<int32_t, int32_t>>;
    EXPECT_EQ(Stretches(0), Stretch{});
    EXPECT_EQ(Stretches(1), (Stretch{{0, 0}}));
    EXPECT_EQ(Stretches(95), (Stretch{{0, 94}}));
    EXPECT_EQ(Stretches(96), (Stretch{{0, 95}}));
    EXPECT_EQ(Stretches(97), (Stretch{{0, 95}, {96, 96}}));
    EXPECT_EQ(Stretches(224), (Stretch{{0, 95}, {96, 223}}));
    EXPECT_EQ(Stretches(225), (Stretch{{0, 95}, {96, 223}, {224, 224}}));
    // 64 KiB: 192 characters, then 256 between two acknowledgements; every
    // acknowledgement point ends a stretch, and no stretch passes one.
    const Stretch whole = Stretches(65536);
    ASSERT_EQ(whole.size(), 1u + 511u + 1u);
    EXPECT_EQ(whole[0], std::make_pair(0, 95));
    for (size_t k = 1; k + 1 < whole.size(); ++k) {
        EXPECT_EQ(whole[k].second - whole[k].first + 1, 128) << k;
        EXPECT_TRUE(AcknowledgedAfter(whole[k].second)) << k;
    }
    EXPECT_EQ(whole.back(), std::make_pair(65504, 65535));
}

static std::string RecordWrite(const std::vector<int16_t>& record) {
    int16_t values[kConfigValues] = {};
    std::copy(record.begin(), record.end(), values);
    uint8_t text[kRecordWriteRoom + 1];
    memset(text, '#', sizeof text);
    const int32_t length = EncodeRecordWrite(values, static_cast<int32_t>(record.size()), text);
    EXPECT_EQ(text[length], '#'); // nothing past its end
    return std::string(text, text + length);
}

TEST(ConfigRecord, GoesBackAsAnnouncementPairsChecksumLineAndLineFeed) {
    std::vector<int16_t> record(32, 0);
    record[14] = 5;
    EXPECT_EQ(RecordWrite(record),
              "\x04" + std::string(28, '0') + "05" + std::string(34, '0') + "\n0005\n");
    record[0] = 0xA5;
    record[31] = 0x7E;
    EXPECT_EQ(RecordWrite(record), "\x04"
                                   "A5" +
                                       std::string(26, '0') + "05" + std::string(32, '0') +
                                       "7E\n0128\n");
    // The longest record: 407 bytes, its sum 200 * 255.
    const std::string longest = RecordWrite(std::vector<int16_t>(kConfigValues, 0xFF));
    EXPECT_EQ(longest.size(), 407u);
    EXPECT_EQ(longest.substr(397), "FFFF\nC738\n");
}

static bool SeenAfter(const std::string& bytes) {
    BannerScan scan;
    StartBannerScan(&scan);
    bool seen = false;
    for (char c : bytes) {
        AddBannerByte(&scan, static_cast<uint8_t>(c));
        seen = BannerSeen(&scan);
    }
    return seen;
}

TEST(BannerScan, NeedsAtLeastFourBytesBeforeTheBanner) {
    EXPECT_FALSE(SeenAfter("Konfigmode..."));
    EXPECT_FALSE(SeenAfter("abcKonfigmode..."));
    EXPECT_TRUE(SeenAfter("abcdKonfigmode..."));
    EXPECT_TRUE(SeenAfter("KORVAN V2.31\r\nKonfigmode..."));
    // The very first banner is passed over, a later one counts.
    EXPECT_TRUE(SeenAfter("Konfigmode...Konfigmode..."));
}

TEST(BannerScan, IsExactAndCaseSensitive) {
    EXPECT_FALSE(SeenAfter("abcdkonfigmode..."));
    EXPECT_FALSE(SeenAfter("abcdKonfigmode..x"));
    EXPECT_FALSE(SeenAfter("abcdKonfigmodo..."));
    EXPECT_FALSE(SeenAfter("abcdKonfigmode.."));
    // Seen only while the banner is the most recent bytes.
    EXPECT_FALSE(SeenAfter("abcdKonfigmode...\r"));
}

TEST(BannerScan, FindsTheBannerAfterAnyAmountOfOutput) {
    std::string chatter(100000, 'x');
    EXPECT_FALSE(SeenAfter(chatter));
    EXPECT_TRUE(SeenAfter(chatter + "Konfigmode..."));
}

static int16_t Decode(const std::string& text, int16_t* values, int32_t* count) {
    return DecodeConfigRecord(text.c_str(), values, count);
}

TEST(ConfigRecord, AcceptsEvenLengthsFrom64To400) {
    int16_t values[kConfigValues];
    int32_t count = -1;
    for (size_t length : {62, 63, 65, 401, 402, 998}) {
        EXPECT_EQ(Decode(std::string(length, '0'), values, &count), 1) << length;
    }
    EXPECT_EQ(count, -1); // nothing decoded on a refusal
    EXPECT_EQ(Decode(std::string(64, '0'), values, &count), 0);
    EXPECT_EQ(count, 32);
    EXPECT_EQ(Decode(std::string(66, '1'), values, &count), 0);
    EXPECT_EQ(count, 33);
    EXPECT_EQ(values[32], 0x11);
    EXPECT_EQ(Decode(std::string(400, 'F'), values, &count), 0);
    EXPECT_EQ(count, kConfigValues);
    EXPECT_EQ(values[199], 0xFF);
}

TEST(ConfigRecord, DecodesPairsInEitherCase) {
    int16_t values[kConfigValues];
    int32_t count = 0;
    std::string text = "00a5FFc3" + std::string(56, '7');
    ASSERT_EQ(Decode(text, values, &count), 0);
    EXPECT_EQ(values[0], 0x00);
    EXPECT_EQ(values[1], 0xA5);
    EXPECT_EQ(values[2], 0xFF);
    EXPECT_EQ(values[3], 0xC3);
    EXPECT_EQ(values[31], 0x77);
}

TEST(ConfigRecord, TakesOtherCharactersAsZeroWithoutRefusing) {
    int16_t values[kConfigValues];
    int32_t count = 0;
    std::string text = "G1 2zZ" + std::string(58, '0');
    ASSERT_EQ(Decode(text, values, &count), 0);
    EXPECT_EQ(values[0], 0x01);
    EXPECT_EQ(values[1], 0x02);
    EXPECT_EQ(values[2], 0x00);
}

TEST(ConfigRecord, AZeroByteEndsTheText) {
    int16_t values[kConfigValues];
    int32_t count = 0;
    std::string text = std::string(64, '1') + std::string(1, '\0') + "FFFF";
    ASSERT_EQ(Decode(text, values, &count), 0);
    EXPECT_EQ(count, 32);
    text = std::string(40, '1') + std::string(1, '\0') + std::string(40, '1');
    EXPECT_EQ(Decode(text, values, &count), 1);
}
