#include "video/AdaptiveQuality.h"

#include <gtest/gtest.h>

namespace velmarin::video {
namespace {

using Level = AdaptiveQuality::QualityLevel;

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

// One step of a scenario: the clock moves on, the ladder may be reset or a
// level chosen by hand, samples come in; then evaluate() gives the label of
// the level it changes to ("" for no change).
struct Step {
    int advanceMs = 0;
    bool reset = false;
    std::optional<QualityPreset> manual;
    int count = 0;
    double latencyMs = 0;
    std::string changesTo;
};

TEST(AdaptiveQuality, ScenariosFromTheMiddleRungOnTheLastFiftySamples) {
    EXPECT_EQ(AdaptiveQuality::levels[2], (Level{1280, 720, 24, 1'000'000, "Laag"}));
    EXPECT_EQ(AdaptiveQuality::levels[0].bitrate, 4'000'000);

    const std::vector<std::pair<const char*, std::vector<Step>>> scenarios = {
        {"the tenth high sample drops, also right after a reset (no three-second wait)",
         {{.count = 9, .latencyMs = 500},
          {.count = 1, .latencyMs = 500, .changesTo = "Laag"},
          {.reset = true, .count = 9, .latencyMs = 500},
          {.count = 1, .latencyMs = 500, .changesTo = "Laag"}}},
        {"above 200 ms drops, at most once every three seconds",
         {{.count = 10, .latencyMs = 200},
          {.count = 10, .latencyMs = 200.1, .changesTo = "Laag"},
          {.advanceMs = 2000},
          {.advanceMs = 999},
          {.advanceMs = 1, .changesTo = "Zeer laag"}}},
        // After the reset the last ten average 70 ms, but only 24 of the last
        // 30 are below 100 ms.
        {"a raise needs 25 low samples of the last 30",
         {{.count = 24, .latencyMs = 50},
          {.count = 1, .latencyMs = 50, .changesTo = "Hoog"},
          {.reset = true, .count = 6, .latencyMs = 150},
          {.count = 14, .latencyMs = 90},
          {.count = 10, .latencyMs = 70}}},
        {"no change beyond the ends, and a failed one does not restart the interval",
         {{.manual = QualityPreset::veryLow},
          {.advanceMs = 3000, .count = 10, .latencyMs = 900},
          {.count = 30, .latencyMs = 20, .changesTo = "Laag"},
          {.manual = QualityPreset::high},
          {.advanceMs = 3000},
          {.count = 10, .latencyMs = 900, .changesTo = "Gemiddeld"}}},
        {"a level chosen by hand (also automatic, which keeps the rung) restarts the interval "
         "and keeps the history",
         {{.manual = QualityPreset::low, .count = 10, .latencyMs = 500},
          {.advanceMs = 3000, .manual = QualityPreset::automatic},
          {.advanceMs = 3000, .changesTo = "Zeer laag"}}},
    };
    for (const auto& [what, steps] : scenarios) {
        std::chrono::steady_clock::time_point now{std::chrono::hours(1000)};
        AdaptiveQuality quality([&] { return now; });
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Step& step = steps[i];
            now += std::chrono::milliseconds(step.advanceMs);
            if (step.reset)
                quality.reset();
            if (step.manual)
                quality.setManualLevel(*step.manual);
            for (int n = 0; n < step.count; ++n)
                quality.recordLatency(step.latencyMs);
            const auto level = quality.evaluate();
            EXPECT_EQ(level ? level->label : "", step.changesTo) << what << ", step " << i;
        }
    }

    // The history keeps the last fifty samples.
    AdaptiveQuality quality;
    for (int i = 1; i <= 51; ++i)
        quality.recordLatency(i);
    ASSERT_EQ(quality.latencyHistory().size(), 50u);
    EXPECT_EQ(quality.latencyHistory().front(), 2.0);
    EXPECT_EQ(quality.latencyHistory().back(), 51.0);
}

} // namespace
} // namespace velmarin::video
