// The colour scheme's value names and value texts as plain data.
#include <gtest/gtest.h>

#include <string>

#include "colour_values.h"

static COLORREF Scan(const std::string& data, int16_t* wide) {
    *wide = 0;
    return ScanColourText(reinterpret_cast<const uint8_t*>(data.data()),
                          static_cast<int32_t>(data.size()), wide);
}

TEST(ColourValueName, NamesSlotsZeroToNineteenOnly) {
    EXPECT_EQ(ColourSlotOfName("COLOR 00"), 0);
    EXPECT_EQ(ColourSlotOfName("COLOR 07"), 7);
    EXPECT_EQ(ColourSlotOfName("COLOR 19"), 19);
    // Only the first eight characters count.
    EXPECT_EQ(ColourSlotOfName("COLOR 05 spare"), 5);

    const char* others[] = {"color 04", "COLOR_04", "COLORS04", "COLOR 20", "COLOR 99",
                            "COLOR 2X", "COLOR 0:", "COLOR /9", "COLOR 5",  "COLOR ",
                            "COLOR",    "",         " COLOR 01"};
    for (const char* name : others) {
        EXPECT_EQ(ColourSlotOfName(name), -1) << '"' << name << '"';
    }
}

TEST(ColourValueName, IsBuiltFromTheSlotsTwoDigits) {
    char name[kColourNameRoom];
    BuildColourValueName(0, name);
    EXPECT_STREQ(name, "COLOR 00");
    BuildColourValueName(12, name);
    EXPECT_STREQ(name, "COLOR 12");
    BuildColourValueName(19, name);
    EXPECT_STREQ(name, "COLOR 19");
}

TEST(ColourText, CountsEveryOtherCharacterAsADigitAndKeepsEightBits) {
    int16_t wide = 0;
    // Any character but a blank is a digit of its code - 48.
    EXPECT_EQ(Scan("A 0 0 ", &wide), RGB(17, 0, 0));
    // A long run of digits wraps without harm: 99999999999 mod 256 is 255.
    EXPECT_EQ(Scan("99999999999 0 0 ", &wide), RGB(255, 0, 0));
}

TEST(ColourText, EndsAtTheEndOfTheData) {
    int16_t wide = 0;
    // Only "1 2 3" belongs to the value: the bytes after it are not read.
    const std::string bytes = "1 2 3999 ";
    EXPECT_EQ(ScanColourText(reinterpret_cast<const uint8_t*>(bytes.data()), 5, &wide),
              RGB(1, 2, 3));
    EXPECT_EQ(wide, 0);
    EXPECT_EQ(Scan("", &wide), RGB(0, 0, 0));
    // Its terminating zero byte inside the data marks the 16-bit form.
    EXPECT_EQ(Scan(std::string("1 2 3\0", 6), &wide), RGB(1, 2, 3));
    EXPECT_EQ(wide, 1);
}

TEST(ColourText, StepsOverOneZeroByteOnly) {
    int16_t wide = 0;
    // A second zero byte in a row counts as a character: 1 * 10 + (0 - 48).
    EXPECT_EQ(Scan(std::string("1\0\0 2 3 ", 8), &wide), RGB((10 - 48) & 0xFF, 2, 3));
    EXPECT_EQ(wide, 1);
}

// The exact bytes of both forms are checked against the registry.
TEST(ColourValueData, ReadsBackAsTheSameColourInEitherForm) {
    const COLORREF colours[] = {RGB(0, 0, 0), RGB(255, 255, 255), RGB(1, 20, 255), RGB(100, 9, 10)};
    for (COLORREF colour : colours) {
        for (int16_t form = 0; form <= 1; ++form) {
            uint8_t data[kColourDataRoom];
            int32_t size = BuildColourValueData(colour, form, data);
            int16_t wide = 0;
            EXPECT_EQ(ScanColourText(data, size, &wide), colour);
            EXPECT_EQ(wide, form);
        }
    }
    // The longest text fits its room in the 16-bit form.
    uint8_t data[kColourDataRoom];
    EXPECT_EQ(BuildColourValueData(RGB(255, 255, 255), 1, data), 25);
}
