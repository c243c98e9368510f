// The detection's rules for one watched port, and korvan-cli's --port auto,
// as plain data.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "any_port_option.h"
#include "any_port_texts.h"
#include "port_watch.h"
#include "run_context.h"

namespace {

const std::string kBanner = "Konfigmode...";

WatchState Feed(WatchedPort* watched, const std::string& bytes, uint64_t nowMs,
                int32_t* used = nullptr) {
    int32_t taken = 0;
    WatchState state = TakeWatchedBytes(watched, reinterpret_cast<const uint8_t*>(bytes.data()),
                                        static_cast<int32_t>(bytes.size()), nowMs, &taken);
    if (used != nullptr) {
        *used = taken;
    }
    return state;
}

} // namespace

TEST(PortWatch, TheBannerCountsAfterFourBytesAndEndsTheLookAtItsLastByte) {
    WatchedPort watched;
    StartWatchedPort(&watched, 3, 1000);
    int32_t used = 0;
    EXPECT_EQ(Feed(&watched, "\r\nV2" + kBanner + "\r\nrest", 1500, &used), kBannerArrived);
    EXPECT_EQ(used, 17);
    EXPECT_EQ(watched.port, 3);

    StartWatchedPort(&watched, 3, 0);
    EXPECT_EQ(Feed(&watched, kBanner, 10), kWatching); // among the first bytes: not the banner
    EXPECT_EQ(Feed(&watched, "xxx", 20), kWatching);
    EXPECT_EQ(Feed(&watched, "konfigmode...", 30), kWatching);
    EXPECT_EQ(Feed(&watched, kBanner.substr(0, 12) + "!", 40), kWatching);
}

TEST(PortWatch, APortThatTalksPastTheByteBoundIsGivenUp) {
    WatchedPort watched;
    StartWatchedPort(&watched, 7, 0);
    EXPECT_EQ(Feed(&watched, std::string(kDetectionByteLimit - 1, 'x'), 100), kWatching);
    int32_t used = 0;
    EXPECT_EQ(Feed(&watched, "yz", 200, &used), kTalkedTooLong);
    EXPECT_EQ(used, 1);
    EXPECT_EQ(Feed(&watched, kBanner, 300), kTalkedTooLong); // too late

    // The banner on the last byte allowed still counts.
    StartWatchedPort(&watched, 7, 0);
    Feed(&watched, std::string(kDetectionByteLimit - kBanner.size(), 'x'), 100);
    EXPECT_EQ(Feed(&watched, kBanner, 200), kBannerArrived);
}

TEST(PortWatch, TenSecondsOfSilenceBeforeTheBannerEndTheWatchOfAPort) {
    WatchedPort watched;
    StartWatchedPort(&watched, 1, 5000);
    EXPECT_EQ(CheckWatchedSilence(&watched, 5000 + kBannerSilenceMs - 1), kWatching);
    Feed(&watched, "abc", 5000 + kBannerSilenceMs - 1); // each byte starts the silence afresh
    EXPECT_EQ(CheckWatchedSilence(&watched, 5000 + 2 * kBannerSilenceMs - 2), kWatching);
    EXPECT_EQ(CheckWatchedSilence(&watched, 5000 + 2 * kBannerSilenceMs - 1), kFellSilent);
    EXPECT_EQ(Feed(&watched, "\r\nV2" + kBanner, 30000), kFellSilent);

    // Bytes that come after the silence has run out do not revive the port.
    StartWatchedPort(&watched, 1, 0);
    EXPECT_EQ(Feed(&watched, "a", kBannerSilenceMs), kFellSilent);
}

TEST(PortWatch, TheWaitEndsAtTheNextSilenceOrTheOverallLimit) {
    WatchedPort watched[3];
    StartWatchedPort(&watched[0], 1, 0);
    StartWatchedPort(&watched[1], 2, 0);
    StartWatchedPort(&watched[2], 3, 0);
    Feed(&watched[0], "a", 4000);
    Feed(&watched[1], "b", 3000);
    watched[2].state = kFellSilent; // no longer watched
    EXPECT_EQ(WatchWaitMs(watched, 3, 0, 30000, 5000), 8000);
    EXPECT_EQ(WatchWaitMs(watched, 3, 0, 9000, 5000), 4000);
    EXPECT_EQ(WatchWaitMs(watched, 3, 0, 9000, 9000), 0);
    EXPECT_EQ(WatchWaitMs(watched, 0, 0, 30000, 29000), 1000);
}

TEST(PortAutoArgument, AutoInAnyCaseFindsThePortAndTheOtherNamesStay) {
    CLI::Validator port = ComPortOrAutoArgument();
    std::string text = "auto";
    EXPECT_EQ(port(text), "");
    EXPECT_EQ(text, std::to_string(kAnyPort));
    text = "AUTO";
    EXPECT_EQ(port(text), "");
    EXPECT_EQ(text, "-1");
    text = "com12";
    EXPECT_EQ(port(text), "");
    EXPECT_EQ(text, "12");
    for (const char* wrong : {"automatic", "aut", "", "COM0", "-1", "any"}) {
        text = wrong;
        EXPECT_NE(port(text), "") << wrong;
    }
}

// The detail of a watch that brought no module: each port with why, the
// ports of one reason together, in the order they came.
TEST(PortsLeftText, NamesEachPortWithItsReasonGroupedInOrder) {
    const int16_t ports[] = {1, 5, 3, 6, 12};
    const PortLeft why[] = {{kLeftNotOpened, ERROR_SHARING_VIOLATION},
                            {kLeftNotOpened, ERROR_FILE_NOT_FOUND},
                            {kLeftOpenHere, 0},
                            {kLeftNotOpened, ERROR_FILE_NOT_FOUND},
                            {kLeftNotOpened, 0}};
    char text[kDetailRoom];
    DescribePortsLeft(ports, why, 5, "no port opened", text, sizeof text);
    EXPECT_STREQ(text, "no port opened: COM1 in use by another program; COM5, COM6 not on this "
                       "PC; COM3 open in this program already; COM12 not set up for the "
                       "module's line");
    const PortLeft watched[] = {{kLeftFellSilent, 10},
                                {kLeftTalkedTooLong, 1000},
                                {kLeftNotOpened, 1167},
                                {kLeftInterrupted, 0}};
    DescribePortsLeft(ports, watched, 4, "no banner", text, sizeof text);
    EXPECT_STREQ(text, "no banner: COM1 silent for 10 s; COM5 1000 bytes without it; COM3 not "
                       "opened (error 1167); COM6 cut short");
    DescribePortsLeft(ports, why, 0, "no port opened", text, sizeof text);
    EXPECT_STREQ(text, "no port opened: no port to try");
}

TEST(PortsLeftText, ATextThatDoesNotFitEndsInDotsAndStaysInItsRoom) {
    int16_t ports[64];
    PortLeft why[64];
    for (int16_t k = 0; k < 64; ++k) {
        ports[k] = static_cast<int16_t>(k + 1);
        why[k] = {k % 2 == 0 ? kLeftFellSilent : kLeftNotOpened, static_cast<uint32_t>(k)};
    }
    char text[kDetailRoom + 8];
    memset(text, 'x', sizeof text);
    DescribePortsLeft(ports, why, 64, "no banner", text, kDetailRoom);
    const std::string cut = text;
    EXPECT_LE(cut.size(), static_cast<size_t>(kDetailRoom - 1));
    EXPECT_GT(cut.size(), static_cast<size_t>(kDetailRoom - 20));
    EXPECT_EQ(cut.substr(cut.size() - 3), "...");
    EXPECT_EQ(text[kDetailRoom], 'x'); // nothing past the room
}
