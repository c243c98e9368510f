// The detection's rules for one watched port, and korvan-cli's --port auto,
// as plain data.
#include <gtest/gtest.h>

#include <string>

#include "any_port_option.h"
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
