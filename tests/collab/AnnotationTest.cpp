#include "collab/AnnotationStore.h"
#include "collab/OverlayAnnotations.h"

#include <gtest/gtest.h>

#include <limits>

using namespace velmarin;
using namespace velmarin::collab;
using protocol::DrawMessage;
using protocol::SpotlightMessage;

namespace {

// A store on a clock the test moves, recording what it would send.
struct Recorded {
    double now = 100.0;
    AnnotationStore store{[this] { return now; }};
    std::vector<DrawMessage> draws;
    std::vector<SpotlightMessage> spotlights;
    int clears = 0;
    Recorded() {
        store.onSend = [this](const DrawMessage& m) { draws.push_back(m); };
        store.onSpotlight = [this](const SpotlightMessage& m) { spotlights.push_back(m); };
        store.onClear = [this] { ++clears; };
    }
};

DrawMessage draw(const std::string& id, std::vector<protocol::DrawPoint> points, bool ended = false,
                 const std::string& tool = "pen", const std::string& color = "#34C759") {
    return DrawMessage{
        .tool = tool, .strokeId = id, .points = std::move(points), .color = color, .ended = ended};
}

} // namespace

TEST(AnnotationStore, PenSendsOneMessagePerPointAndClampsThem) {
    Recorded r;
    r.store.setTool(AnnotationTool::pen);
    r.store.addPoint({0.1, 0.2});
    r.store.addPoint({0.3, 0.4});
    r.store.addPoint({-0.2, 1.7});
    r.store.endStroke();
    r.store.endStroke(); // nothing active: nothing sent

    ASSERT_EQ(r.draws.size(), 4u);
    const std::string id = r.draws[0].strokeId;
    const std::vector<protocol::DrawPoint> sent{{0.1, 0.2}, {0.3, 0.4}, {0, 1}};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(r.draws[i], draw(id, {sent[i]}, false, "pen", "#FF3B30")) << i;
    EXPECT_EQ(r.draws[3], draw(id, {}, true, "pen", "#FF3B30"));
    EXPECT_EQ(id.size(), 8u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
    ASSERT_EQ(r.store.strokes().size(), 1u);
    EXPECT_EQ(r.store.strokes()[0].points.back(), (NormalizedPoint{0, 1}));

    // A second stroke gets an identifier of its own; clear forgets both.
    r.store.addPoint({0.5, 0.5});
    EXPECT_NE(r.draws.back().strokeId, id);
    r.store.clear();
    EXPECT_EQ(r.clears, 1);
    EXPECT_TRUE(r.store.strokes().empty());
    EXPECT_EQ(r.draws.size(), 5u); // clear ended nothing
}

TEST(AnnotationStore, LaserIsCutIntoSegmentsThatFadeByAge) {
    Recorded r;                     // the laser is the first tool
    for (int i = 0; i <= 30; ++i) { // 0.3 s at 100 points per second
        r.store.addPoint({i / 30.0, 0.5});
        r.now += 0.01;
    }
    r.store.endStroke();
    std::vector<std::string> ids;
    for (const auto& m : r.draws)
        if (ids.empty() || ids.back() != m.strokeId)
            ids.push_back(m.strokeId);
    EXPECT_GE(ids.size(), 3u);
    EXPECT_EQ(r.draws.back().strokeId, ids.back());
    ASSERT_EQ(r.store.strokes().size(), ids.size());
    for (std::size_t i = 0; i + 1 < ids.size(); ++i)
        EXPECT_FALSE(r.store.strokes()[i].ended) << "only the last segment ends";
    EXPECT_TRUE(r.store.strokes().back().ended);

    // Gone from the preview 0.8 s after the last point.
    r.now += 0.79;
    r.store.prune();
    EXPECT_FALSE(r.store.strokes().empty());
    r.now += 0.02;
    r.store.prune();
    EXPECT_TRUE(r.store.strokes().empty());
    EXPECT_FALSE(r.store.isAnimating());
}

TEST(AnnotationStore, PenFadesOnlyOnceEndedAndSpotlightEndsOnce) {
    Recorded r;
    r.store.setTool(AnnotationTool::pen);
    r.store.addPoint({0.5, 0.5});
    r.now += 60; // unfinished: never fades
    r.store.prune();
    ASSERT_EQ(r.store.strokes().size(), 1u);
    EXPECT_DOUBLE_EQ(r.store.alpha(r.store.strokes()[0]), 1.0);
    r.store.endStroke();
    r.now += 4.0;
    EXPECT_DOUBLE_EQ(r.store.alpha(r.store.strokes()[0]), 1.0);
    r.now += 0.75;
    EXPECT_NEAR(r.store.alpha(r.store.strokes()[0]), 0.5, 1e-9);
    r.now += 0.76;
    r.store.prune();
    EXPECT_TRUE(r.store.strokes().empty());

    r.store.endSpotlight(); // none shown: nothing sent
    EXPECT_TRUE(r.spotlights.empty());
    r.store.updateSpotlight({1.5, 0.25});
    r.store.endSpotlight();
    r.store.endSpotlight();
    // x, y, radius, shown.
    EXPECT_EQ(r.spotlights,
              (std::vector<SpotlightMessage>{{1, 0.25, 0.12, true}, {1, 0.25, 0.12, false}}));
}

TEST(AnnotationColor, SixHexDigitsOrRed) {
    EXPECT_EQ(parseAnnotationColor("#34C759"), (RgbColor{0x34, 0xC7, 0x59}));
    EXPECT_EQ(parseAnnotationColor("  0a84ff \n"), (RgbColor{0x0A, 0x84, 0xFF}));
    for (const char* odd : {"#34C75", "#34C7590", "#34G759", "", "#"})
        EXPECT_EQ(parseAnnotationColor(odd), (RgbColor{255, 0, 0})) << odd;
}

TEST(OverlayAnnotations, MergesByIdentifierAndFadesLikeTheViewer) {
    OverlayAnnotations overlay;
    overlay.apply(draw("a", {{0.1, 0.1}}), 10);
    overlay.apply(draw("a", {{0.2, 0.2}}, false, "laser", "#FF0000"), 10.5);
    overlay.apply(draw("l", {{0.5, 0.5}}, false, "laser"), 10.5);
    ASSERT_EQ(overlay.strokes().size(), 2u);
    const OverlayStroke& a = overlay.strokes()[0];
    EXPECT_EQ(a.points.size(), 2u);
    EXPECT_EQ(a.tool, "pen"); // tool and colour stay as first received
    EXPECT_EQ(a.color, (RgbColor{0x34, 0xC7, 0x59}));

    // The laser goes after 0.8 s; the unended pen stays.
    EXPECT_TRUE(overlay.tick(11.31));
    ASSERT_EQ(overlay.strokes().size(), 1u);
    overlay.apply(draw("a", {}, true), 20);
    EXPECT_TRUE(overlay.tick(24.0));
    EXPECT_EQ(overlay.strokes().size(), 1u);
    EXPECT_FALSE(overlay.tick(25.5)); // 4 s + 1.5 s: gone, the timer may stop

    // The spotlight fades in and out over 7 steps.
    overlay.setSpotlight({.x = 0.5, .y = 0.5, .radius = 0.2, .active = true});
    int steps = 0;
    while (overlay.spotlightOpacity() < 1.0 && steps < 20) {
        overlay.tick(30);
        ++steps;
    }
    EXPECT_EQ(steps, 7);
    overlay.setSpotlight({.x = 0.5, .y = 0.5, .radius = 0.2, .active = false});
    for (steps = 0; overlay.tick(30); ++steps) {
    }
    EXPECT_EQ(steps, 6); // the seventh reaches 0 and reports idle

    // The pointer stays 2 s, fades over 0.6 s.
    overlay.setCursor({0.5, 0.5}, "Anna", 40);
    EXPECT_EQ(overlay.cursorAlpha(42.0), 1.0);
    EXPECT_NEAR(*overlay.cursorAlpha(42.3), 0.5, 1e-9);
    EXPECT_FALSE(overlay.tick(42.6));
    EXPECT_FALSE(overlay.cursorPoint());
}

TEST(OverlayAnnotations, BoundsWhatAViewerCanMakeTheHostHold) {
    OverlayAnnotations overlay;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < OverlayAnnotations::kMaxStrokes + 10; ++i)
        overlay.apply(draw("s" + std::to_string(i), {{0.5, 0.5}}), 1);
    ASSERT_EQ(overlay.strokes().size(), OverlayAnnotations::kMaxStrokes);
    EXPECT_EQ(overlay.strokes().front().id, "s10"); // the oldest went

    for (std::size_t i = 0; i < OverlayAnnotations::kMaxPointsPerStroke + 5; ++i)
        overlay.apply(draw("long", {{i / 10000.0, 0.5}}), 1);
    const OverlayStroke& held = overlay.strokes().back();
    ASSERT_EQ(held.points.size(), OverlayAnnotations::kMaxPointsPerStroke);
    EXPECT_DOUBLE_EQ(held.points.back().x, (OverlayAnnotations::kMaxPointsPerStroke + 4) / 10000.0);

    overlay.apply(draw("bad", {{nan, 0.5}, {0.5, inf}, {7, -3}}), 1);
    ASSERT_EQ(overlay.strokes().back().points.size(), 1u);
    EXPECT_EQ(overlay.strokes().back().points[0], (NormalizedPoint{1, 0}));
    overlay.setSpotlight({.x = nan, .y = 0.5, .radius = 0.3, .active = true});
    EXPECT_FALSE(overlay.spotlightActive());
    overlay.setCursor({inf, 0}, "x", 1);
    EXPECT_FALSE(overlay.cursorPoint());

    overlay.clearAll();
    EXPECT_TRUE(overlay.isIdle());
}
