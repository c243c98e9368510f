// The colour scheme against the Wine prefix's registry. Every case starts
// without the key; the tests of this program hold the colour_registry lock.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/colour_registry.h"

#include "colour_scheme.h"

namespace {

class ColourTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DeleteColourKey();
    }
    void TearDown() override {
        SaveColourTable();
        DeleteColourKey();
        if (HasA64BitRegistryView()) {
            DeleteColourKey(k64BitColourKey);
        }
    }
};

DWORD ValueCount() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kColourKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return values;
}

// The 8-bit form of a text: its bytes and one zero byte.
std::string Narrow(const std::string& text) {
    return text + std::string(1, '\0');
}

// The 16-bit form: every byte followed by a zero byte, then one zero byte.
std::string Wide(const std::string& text) {
    std::string data;
    for (char c : text) {
        data += c;
        data += '\0';
    }
    return data + std::string(1, '\0');
}

COLORREF ColourOf(int16_t slot) {
    COLORREF colour = 0;
    HBRUSH brush = nullptr;
    GetColourSlot(slot, &colour, &brush);
    return colour;
}

bool Present(int16_t slot) {
    COLORREF colour = 0;
    HBRUSH brush = nullptr;
    GetColourSlot(slot, &colour, &brush);
    return brush != nullptr;
}

const char* const kDefaultTexts[kDefaultColourSlots] = {
    "255 255 242 ", "240 233 208 ", "240 233 208 ", "0 0 0 ",
    "0 0 0 ",       "255 255 242 ", "212 208 200 ", "212 208 200 ",
};

const COLORREF kDefaults[kDefaultColourSlots] = {
    0x00F2FFFF, 0x00D0E9F0, 0x00D0E9F0, 0x00000000, 0x00000000, 0x00F2FFFF, 0x00C8D0D4, 0x00C8D0D4,
};

} // namespace

TEST_F(ColourTableTest, WithoutKeyTheDefaultsAreUsedAndWrittenInTheEightBitForm) {
    LoadColourTable();
    for (int16_t slot = 0; slot < kColourSlots; ++slot) {
        EXPECT_EQ(Present(slot), slot < kDefaultColourSlots) << slot;
        if (slot < kDefaultColourSlots) {
            EXPECT_EQ(ColourOf(slot), kDefaults[slot]) << slot;
        }
    }
    EXPECT_EQ(ColourTable.wideValueText, 0);

    SaveColourTable();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kColourKey, 0, KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS);
    char keyClass[32] = "";
    DWORD classSize = sizeof keyClass;
    RegQueryInfoKeyA(key, keyClass, &classSize, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    EXPECT_STREQ(keyClass, "Lumigrad");
    EXPECT_EQ(ValueCount(), 8u);
    for (int slot = 0; slot < kDefaultColourSlots; ++slot) {
        const std::string name = "COLOR 0" + std::to_string(slot);
        EXPECT_EQ(ReadColourValue(name), Narrow(kDefaultTexts[slot])) << name;
    }
}

TEST_F(ColourTableTest, SavingDeletesEveryBrush) {
    ASSERT_TRUE(WriteColourValue("COLOR 12", Narrow("10 20 30 ")));
    LoadColourTable();
    HBRUSH brushes[kColourSlots] = {};
    for (int16_t slot = 0; slot < kColourSlots; ++slot) {
        COLORREF colour = 0;
        GetColourSlot(slot, &colour, &brushes[slot]);
        if (brushes[slot] != nullptr) {
            EXPECT_EQ(GetObjectType(brushes[slot]), static_cast<DWORD>(OBJ_BRUSH)) << slot;
        }
    }
    SaveColourTable();
    for (int16_t slot = 0; slot < kColourSlots; ++slot) {
        EXPECT_FALSE(Present(slot)) << slot;
        if (brushes[slot] != nullptr) {
            EXPECT_EQ(GetObjectType(brushes[slot]), 0u) << "brush of slot " << slot << " kept";
        }
    }
}

TEST_F(ColourTableTest, ABlueTextColourIsReadAndWrittenBackAlike) {
    ASSERT_TRUE(WriteColourValue("COLOR 03", Narrow("0 0 255 ")));
    LoadColourTable();
    EXPECT_EQ(ColourOf(3), 0x00FF0000u);
    EXPECT_EQ(ColourOf(1), kDefaults[1]);
    SaveColourTable();
    EXPECT_EQ(ReadColourValue("COLOR 03"), Narrow("0 0 255 "));
}

TEST_F(ColourTableTest, SlotTwelveIsKeptFromRunToRun) {
    ASSERT_TRUE(WriteColourValue("COLOR 12", Narrow("10 20 30 ")));
    LoadColourTable();
    EXPECT_TRUE(Present(12));
    EXPECT_EQ(ColourOf(12), RGB(10, 20, 30));
    EXPECT_FALSE(Present(11));
    EXPECT_FALSE(Present(13));
    SaveColourTable();
    EXPECT_EQ(ReadColourValue("COLOR 12"), Narrow("10 20 30 "));
    EXPECT_EQ(ValueCount(), 9u);
    EXPECT_EQ(ReadColourValue("COLOR 08"), kNoValue);
}

TEST_F(ColourTableTest, NamesThatNameNoSlotAreLeftAlone) {
    const char* const foreign[] = {"COLOR_05", "COLOR 0:", "COLOR 20",
                                   "COLOR 2X", "COLOR 5",  "Other"};
    for (const char* name : foreign) {
        ASSERT_TRUE(WriteColourValue(name, Narrow("1 2 3 ")));
    }
    ASSERT_TRUE(WriteColourValue("color 04", Narrow("1 2 3 ")));
    // The 16-bit form under a name that is passed over does not count either.
    ASSERT_TRUE(WriteColourValue("COLOR 1X", Wide("1 2 3 ")));
    LoadColourTable();
    for (int16_t slot = 0; slot < kColourSlots; ++slot) {
        EXPECT_EQ(Present(slot), slot < kDefaultColourSlots) << slot;
        if (slot < kDefaultColourSlots) {
            EXPECT_EQ(ColourOf(slot), kDefaults[slot]) << slot;
        }
    }
    EXPECT_EQ(ColourTable.wideValueText, 0);
    SaveColourTable();
    for (const char* name : foreign) {
        EXPECT_EQ(ReadColourValue(name), Narrow("1 2 3 ")) << name;
    }
    EXPECT_EQ(ReadColourValue("COLOR 1X"), Wide("1 2 3 "));
    EXPECT_EQ(ReadColourValue("COLOR 10"), kNoValue);
    // Value names are compared without case by the registry: the lower-case
    // name, ignored when reading, is the very value slot 4 is written to.
    EXPECT_EQ(ReadColourValue("color 04"), Narrow("0 0 0 "));
    EXPECT_EQ(ValueCount(), 8u + 7u);
}

TEST_F(ColourTableTest, OddTextsGiveTheColourTheirFieldsCount) {
    ASSERT_TRUE(WriteColourValue("COLOR 00", Narrow("256 0 0 ")));
    ASSERT_TRUE(WriteColourValue("COLOR 01", Narrow(" 1 2 3 ")));
    ASSERT_TRUE(WriteColourValue("COLOR 02", Narrow("1  2 3 ")));
    LoadColourTable();
    EXPECT_EQ(ColourOf(0), RGB(0, 0, 0));
    EXPECT_EQ(ColourOf(1), RGB(0, 1, 2));
    EXPECT_EQ(ColourOf(2), RGB(1, 0, 2));
    SaveColourTable();
    EXPECT_EQ(ReadColourValue("COLOR 01"), Narrow("0 1 2 "));
}

TEST_F(ColourTableTest, AValueReadsOnlyItsOwnData) {
    // The longer value read first leaves its bytes behind in the buffer the
    // shorter one is read into; the registry type is not looked at.
    ASSERT_TRUE(WriteColourValue("COLOR 03", Narrow("9 9 99999 ")));
    ASSERT_TRUE(WriteColourValue("COLOR 04", "1 2 3", REG_BINARY));
    LoadColourTable();
    EXPECT_EQ(ColourOf(3), RGB(9, 9, 99999 & 0xFF));
    EXPECT_EQ(ColourOf(4), RGB(1, 2, 3));
    EXPECT_EQ(ColourTable.wideValueText, 0);
}

TEST_F(ColourTableTest, TheSixteenBitFormIsReadAndKeptForEverySlot) {
    ASSERT_TRUE(WriteColourValue("COLOR 01", Wide("1 2 3 ")));
    ASSERT_TRUE(WriteColourValue("COLOR 12", Narrow("10 20 30 ")));
    LoadColourTable();
    EXPECT_EQ(ColourOf(1), RGB(1, 2, 3));
    EXPECT_EQ(ColourOf(12), RGB(10, 20, 30));
    EXPECT_EQ(ColourTable.wideValueText, 1);
    SaveColourTable();
    EXPECT_EQ(ReadColourValue("COLOR 01"), Wide("1 2 3 "));
    EXPECT_EQ(ReadColourValue("COLOR 01").size(), 2u * 6u + 1u);
    EXPECT_EQ(ReadColourValue("COLOR 12"), Wide("10 20 30 "));
    for (int slot = 0; slot < kDefaultColourSlots; ++slot) {
        if (slot != 1) {
            const std::string name = "COLOR 0" + std::to_string(slot);
            EXPECT_EQ(ReadColourValue(name), Wide(kDefaultTexts[slot])) << name;
        }
    }
}

TEST_F(ColourTableTest, AValueOfMoreThanFiveHundredBytesEndsTheReading) {
    // 500 bytes are still read; 501 end the reading before the values after.
    ASSERT_TRUE(WriteColourValue("COLOR 02", Narrow("1 2 3 ")));
    ASSERT_TRUE(WriteColourValue("COLOR 03", Narrow("9 8 7 " + std::string(493, 'x'))));
    ASSERT_TRUE(WriteColourValue("COLOR 05", Narrow("7 8 9 " + std::string(494, 'x'))));
    ASSERT_TRUE(WriteColourValue("COLOR 09", Narrow("4 5 6 ")));
    ASSERT_EQ(ReadColourValue("COLOR 03").size(), 500u);
    ASSERT_EQ(ReadColourValue("COLOR 05").size(), 501u);
    // Whichever order the registry keeps, COLOR 05 comes before COLOR 09.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kColourKey, 0, KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS);
    std::string order;
    char name[32];
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = sizeof name;
        if (RegEnumValueA(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        order += name[7];
    }
    RegCloseKey(key);
    ASSERT_EQ(order, "2359");

    LoadColourTable();
    EXPECT_EQ(ColourOf(2), RGB(1, 2, 3));
    EXPECT_EQ(ColourOf(3), RGB(9, 8, 7));
    EXPECT_EQ(ColourOf(5), kDefaults[5]);
    EXPECT_FALSE(Present(9));
}

TEST_F(ColourTableTest, SlotNumbersOutOfRangeGiveNothing) {
    LoadColourTable();
    const int16_t outside[] = {-1, 20, 32767};
    for (int16_t slot : outside) {
        COLORREF colour = 123;
        HBRUSH brush = reinterpret_cast<HBRUSH>(1);
        GetColourSlot(slot, &colour, &brush);
        EXPECT_EQ(colour, 0u) << slot;
        EXPECT_EQ(brush, nullptr) << slot;
    }
}

// A 32-bit program on a 64-bit system (Windows, or Wine's 64-bit prefix) has
// the 32-bit view of the registry: its key lies under Wow6432Node, apart from
// the key of 64-bit programs.
TEST_F(ColourTableTest, TheSchemeIsSavedUnderWow6432NodeOfThe64BitView) {
    if (!HasA64BitRegistryView()) {
        GTEST_SKIP() << "no 64-bit view of the registry beside this process's own";
    }
    ASSERT_EQ(ReadColourValue("COLOR 00", kWow64ColourKey), kNoValue);
    ASSERT_EQ(ReadColourValue("COLOR 00", k64BitColourKey), kNoValue);
    LoadColourTable();
    SaveColourTable();
    for (int slot = 0; slot < kDefaultColourSlots; ++slot) {
        const std::string name = "COLOR 0" + std::to_string(slot);
        EXPECT_EQ(ReadColourValue(name, kWow64ColourKey), Narrow(kDefaultTexts[slot])) << name;
        EXPECT_EQ(ReadColourValue(name, k64BitColourKey), kNoValue) << name;
    }
}

TEST_F(ColourTableTest, TheSchemeIsLoadedFromWow6432NodeAndNotFromThe64BitKey) {
    if (!HasA64BitRegistryView()) {
        GTEST_SKIP() << "no 64-bit view of the registry beside this process's own";
    }
    ASSERT_TRUE(WriteColourValue("COLOR 03", Narrow("0 0 255 "), REG_SZ, kWow64ColourKey));
    ASSERT_TRUE(WriteColourValue("COLOR 12", Narrow("10 20 30 "), REG_SZ, kWow64ColourKey));
    ASSERT_TRUE(WriteColourValue("COLOR 05", Narrow("1 2 3 "), REG_SZ, k64BitColourKey));
    ASSERT_TRUE(WriteColourValue("COLOR 13", Narrow("4 5 6 "), REG_SZ, k64BitColourKey));
    LoadColourTable();
    EXPECT_EQ(ColourOf(3), RGB(0, 0, 255));
    EXPECT_EQ(ColourOf(12), RGB(10, 20, 30));
    EXPECT_EQ(ColourOf(5), kDefaults[5]);
    EXPECT_FALSE(Present(13));
    SaveColourTable();
    // The 64-bit programs' key keeps its own two values, and only them.
    EXPECT_EQ(ReadColourValue("COLOR 05", k64BitColourKey), Narrow("1 2 3 "));
    EXPECT_EQ(ReadColourValue("COLOR 03", k64BitColourKey), kNoValue);
    EXPECT_EQ(ReadColourValue("COLOR 05", kWow64ColourKey), Narrow(kDefaultTexts[5]));
    EXPECT_EQ(ReadColourValue("COLOR 13", kWow64ColourKey), kNoValue);
}
