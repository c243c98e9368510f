// The encodings and decoders of the module procedures, as plain logic.
#include <gtest/gtest.h>

#include <string>

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
