#include "video/AdaptiveQuality.h"

#include <gtest/gtest.h>

namespace velmarin::video {
namespace {

using namespace std::chrono_literals;
using Level = AdaptiveQuality::QualityLevel;

class AdaptiveQualityTest : public ::testing::Test {
protected:
    void record(int count, double milliseconds) {
        for (int i = 0; i < count; ++i)
            quality.recordLatency(milliseconds);
    }

    std::chrono::steady_clock::time_point now{std::chrono::hours(1000)};
    AdaptiveQuality quality{[this] { return now; }};
};

TEST(QualityPreset, WireNamesRoundTripAndNothingElseIsAPreset) {
    for (const auto preset : {QualityPreset::automatic, QualityPreset::high, QualityPreset::medium,
                              QualityPreset::low, QualityPreset::veryLow})
        EXPECT_EQ(qualityPresetFromString(toString(preset)), preset);
    EXPECT_EQ(toString(QualityPreset::veryLow), "very_low");
    EXPECT_EQ(toString(QualityPreset::automatic), "auto");
    EXPECT_FALSE(qualityPresetFromString("High"));
    EXPECT_FALSE(qualityPresetFromString("veryLow"));
    EXPECT_FALSE(qualityPresetFromString(""));
}

TEST_F(AdaptiveQualityTest, StartsAtGemiddeldAndDropsOnTheTenthHighSampleAlsoRightAfterAReset) {
    EXPECT_EQ(quality.currentLevel().label, "Gemiddeld");
    record(9, 500);
    EXPECT_FALSE(quality.evaluate());
    record(1, 500);
    const auto level = quality.evaluate();
    ASSERT_TRUE(level);
    EXPECT_EQ(*level, (Level{1280, 720, 24, 1'000'000, "Laag"}));
    EXPECT_EQ(quality.currentLevelIndex(), 2);

    // A reset forgets the level and the samples, and needs no 3-second wait.
    quality.reset();
    EXPECT_EQ(quality.currentLevelIndex(), 1);
    record(9, 500);
    EXPECT_FALSE(quality.evaluate());
    record(1, 500);
    EXPECT_TRUE(quality.evaluate());
}

TEST_F(AdaptiveQualityTest, DropsAboveTwoHundredAtMostOnceEveryThreeSeconds) {
    record(10, 200.0);
    EXPECT_FALSE(quality.evaluate());
    record(10, 200.1);
    ASSERT_TRUE(quality.evaluate());
    now += 2s;
    EXPECT_FALSE(quality.evaluate());
    now += 999ms;
    EXPECT_FALSE(quality.evaluate());
    now += 1ms;
    const auto level = quality.evaluate();
    ASSERT_TRUE(level);
    EXPECT_EQ(level->label, "Zeer laag");
}

TEST_F(AdaptiveQualityTest, RaiseNeedsTwentyFiveLowSamplesOutOfTheLastThirty) {
    record(24, 50);
    EXPECT_FALSE(quality.evaluate());
    record(1, 50);
    const auto level = quality.evaluate();
    ASSERT_TRUE(level);
    EXPECT_EQ(level->label, "Hoog");
    EXPECT_EQ(level->bitrate, 4'000'000);

    // Last ten average 70 ms, but only 24 of the last 30 are below 100 ms.
    quality.reset();
    record(6, 150);
    record(14, 90);
    record(10, 70);
    EXPECT_FALSE(quality.evaluate());
    EXPECT_EQ(quality.currentLevelIndex(), 1);
}

TEST_F(AdaptiveQualityTest, NoChangeAtTheEndsOfTheLadderAndTheIntervalIsNotRestarted) {
    quality.setManualLevel(QualityPreset::veryLow);
    now += 3s;
    record(10, 900);
    EXPECT_FALSE(quality.evaluate());
    // The failed drop did not restart the interval: a raise can follow at once.
    record(30, 20);
    EXPECT_TRUE(quality.evaluate());

    quality.setManualLevel(QualityPreset::high);
    now += 3s;
    EXPECT_FALSE(quality.evaluate());
    record(10, 900);
    EXPECT_TRUE(quality.evaluate());
}

TEST_F(AdaptiveQualityTest, HistoryKeepsTheLastFiftySamples) {
    for (int i = 1; i <= 51; ++i)
        quality.recordLatency(i);
    ASSERT_EQ(quality.latencyHistory().size(), 50u);
    EXPECT_EQ(quality.latencyHistory().front(), 2.0);
    EXPECT_EQ(quality.latencyHistory().back(), 51.0);
}

TEST_F(AdaptiveQualityTest, ManualLevelsRestartTheIntervalAndKeepTheHistory) {
    quality.setManualLevel(QualityPreset::low);
    EXPECT_EQ(quality.currentLevel().label, "Laag");
    record(10, 500);
    EXPECT_FALSE(quality.evaluate());
    now += 3s;
    quality.setManualLevel(QualityPreset::automatic); // keeps the rung, restarts the clock
    EXPECT_EQ(quality.currentLevelIndex(), 2);
    EXPECT_FALSE(quality.evaluate());
    now += 3s;
    const auto level = quality.evaluate(); // the history from before is still there
    ASSERT_TRUE(level);
    EXPECT_EQ(level->fps, 15);
}

} // namespace
} // namespace velmarin::video
