// The Host's annotation overlay on a Wayland desktop: a window of the
// session's Xwayland over the shared monitor, which the compositor casts
// along with everything else (no Wayland interface leaves a window out).

#include "capture/wayland/WaylandScreenSource.h"
#include "support/wayland/HeadlessWayland.h"
#include "ui/host/AnnotationOverlayWindow.h"
#include "wayland/MutterRemoteDesktop.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

namespace velmarin {
namespace {

using namespace std::chrono_literals;

// Pixels of the picture's columns [left, right) and rows [top, bottom)
// close to #34C759, the pen's green.
long greenPixels(const capture::BgraImage& image, int left, int right, int top = 0,
                 int bottom = -1) {
    long count = 0;
    for (int y = top; y < (bottom < 0 ? image.height : bottom); ++y)
        for (int x = left; x < right; ++x) {
            const std::uint8_t* p = image.data + std::ptrdiff_t(y) * image.stride + x * 4;
            count += std::abs(p[0] - 0x59) < 30 && std::abs(p[1] - 0xC7) < 30 &&
                     std::abs(p[2] - 0x34) < 30;
        }
    return count;
}

TEST(WaylandAnnotationOverlay, StrokesShowOnTheSharedMonitorWhereTheViewerDrewThem) {
    testing::HeadlessWayland session({{1280, 800}, {1024, 768}}, /*xwayland=*/true);
    qputenv("QT_QPA_PLATFORM", "xcb");
    int argc = 1;
    char name[] = "annotation_wayland_tests";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    auto remote = wayland::MutterRemoteDesktop::open();
    ASSERT_TRUE(remote) << remote.error().message;
    auto opened = capture::WaylandScreenSource::open(std::move(*remote));
    ASSERT_TRUE(opened);
    auto& screen = *opened;
    const auto displays = screen->displays();
    ASSERT_EQ(displays.size(), 2u);
    const protocol::PixelRect shared = displays[1].frame; // the right-hand monitor
    ASSERT_TRUE(screen->start(displays[1]));

    ui::AnnotationOverlayWindow overlay([shared] {
        return std::optional<QRect>(QRect(shared.x, shared.y, shared.width, shared.height));
    });
    // A pen line across the left half of the monitor, at mid-height.
    for (const double x : {0.1, 0.2, 0.3, 0.4})
        overlay.apply({.tool = "pen",
                       .strokeId = "ab12cd34",
                       .points = {{x, 0.5}},
                       .color = "#34C759",
                       .ended = false});

    std::optional<capture::BgraImage> picture;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        QApplication::processEvents();
        screen->waitForChange(std::chrono::steady_clock::now() + 50ms);
        if (auto grabbed = screen->grab(); grabbed && greenPixels(*grabbed, 0, 1024) > 500) {
            picture = *grabbed;
            break;
        }
    }
    ASSERT_TRUE(picture) << "no stroke in the cast of the shared monitor";
    EXPECT_EQ(overlay.renderView().geometry(), QRect(1280, 0, 1024, 768));
    // Where it was drawn: the left half at mid-height, nothing to the right
    // nor above.
    EXPECT_GT(greenPixels(*picture, 100, 420), 500);
    EXPECT_EQ(greenPixels(*picture, 520, 1024), 0);
    EXPECT_EQ(greenPixels(*picture, 0, 1024, 0, 300), 0);

    // The other monitor shows none of it.
    ASSERT_TRUE(screen->start(displays[0]));
    auto other = screen->grab();
    ASSERT_TRUE(other);
    EXPECT_EQ(greenPixels(*other, 0, other->width), 0);
}

} // namespace
} // namespace velmarin
