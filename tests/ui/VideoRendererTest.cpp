// Pictures on their way to the screen: the renderer (frames per second,
// the newest picture, the first one as a thumbnail) and the bridge to the
// views that show them.

#include "ui/viewer/VideoRenderer.h"

#include "TestPictures.h"
#include "support/video/PatternGenerator.h"
#include "ui/viewer/RemoteDisplayBridge.h"
#include "ui/viewer/Thumbnail.h"

#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <gtest/gtest.h>

#include <vector>

using namespace velmarin;
using namespace velmarin::ui;
using namespace std::chrono_literals;

namespace {

video::Picture smallPicture() {
    return video::testing::makePattern(video::testing::Pattern::staticText, 64, 36, 0);
}

// A view that remembers what it was asked to show.
class RecordingView : public DisplayView {
public:
    explicit RecordingView(QRectF bounds = QRectF(0, 0, 800, 450))
        : m_bounds(bounds) {}
    void showPicture(const video::Picture& picture) override { shown.push_back(picture); }
    QRectF viewBounds() const override { return m_bounds; }
    const AVFrame* current() const { return shown.empty() ? nullptr : shown.back().avFrame(); }

    std::vector<video::Picture> shown;

private:
    QRectF m_bounds;
};

QMouseEvent click() {
    return QMouseEvent(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(10, 10), Qt::LeftButton,
                       Qt::LeftButton, Qt::NoModifier);
}

} // namespace

TEST(VideoRendererTest, ReportsFramesPerSecondWhenAWindowOfOneSecondCloses) {
    std::chrono::steady_clock::time_point now{};
    RemoteDisplayBridge bridge;
    VideoRenderer renderer(bridge, [&] { return now; });
    std::vector<double> reports;
    renderer.onFPSUpdate = [&](double fps) { reports.push_back(fps); };

    // One picture every 0.5 s: every second picture reports 2 / 1.0.
    for (int i = 1; i <= 4; ++i) {
        now += 500ms;
        renderer.render(smallPicture());
    }
    EXPECT_EQ(reports, (std::vector<double>{2.0, 2.0}));

    // 44 pictures inside the first second of a window, then one at 1.5 s.
    reports.clear();
    const auto windowStart = now;
    for (int i = 0; i < 44; ++i) {
        now = windowStart + i * 20ms;
        renderer.render(smallPicture());
    }
    EXPECT_TRUE(reports.empty());
    now = windowStart + 1500ms;
    renderer.render(smallPicture());
    EXPECT_EQ(reports, std::vector<double>{30.0});
    EXPECT_EQ(renderer.frameCount(), 49u);
}

TEST(VideoRendererTest, ThumbnailIs160PixelsWideWithTheScreensAspect) {
    EXPECT_EQ(thumbnailSize(1920, 1080), QSize(160, 90));
    EXPECT_EQ(thumbnailSize(1280, 800), QSize(160, 100));
    EXPECT_TRUE(thumbnailSize(4000, 3).isEmpty());

    for (const QSize size : {QSize(1920, 1080), QSize(1280, 800)}) {
        const auto picture = fixtures::twoColourPicture(size.width(), size.height(), fixtures::kRed,
                                                        fixtures::kBlue);
        const QByteArray jpeg = makeThumbnail(picture);
        ASSERT_TRUE(jpeg.startsWith("\xFF\xD8")) << "not a JPEG";
        const QImage image = QImage::fromData(jpeg, "JPEG");
        ASSERT_EQ(image.size(), thumbnailSize(size.width(), size.height()));
        // The content survives: red above, blue below.
        const QColor top = image.pixelColor(80, image.height() / 4);
        const QColor bottom = image.pixelColor(80, image.height() * 3 / 4);
        EXPECT_GT(top.red(), 200);
        EXPECT_LT(top.blue(), 60);
        EXPECT_GT(bottom.blue(), 200);
        EXPECT_LT(bottom.red(), 60);
    }
}

TEST(VideoRendererTest, PicturesReachTheBridgeNewestFirstAndTheFirstIsReportedOncePerSession) {
    RemoteDisplayBridge bridge;
    VideoRenderer renderer(bridge);
    int displayed = 0;
    bridge.onFrameDisplayed = [&] { ++displayed; };
    int reports = 0;
    renderer.onFirstFrame = [&](QByteArray jpeg) {
        EXPECT_FALSE(jpeg.isEmpty());
        ++reports;
    };

    // A GUI thread that falls behind shows only the newest picture.
    const auto first = smallPicture();
    const auto last = fixtures::twoColourPicture(32, 32, fixtures::kRed, fixtures::kRed);
    renderer.render(first);
    renderer.render(smallPicture());
    renderer.render(last);
    EXPECT_TRUE(bridge.latestFrame().isNull()) << "shown before the GUI thread ran";
    QCoreApplication::processEvents();
    EXPECT_EQ(displayed, 1);
    EXPECT_EQ(bridge.latestFrame().avFrame(), last.avFrame());

    // Pictures the renderer cannot show are neither counted nor shown.
    renderer.render(video::Picture());
    renderer.render(video::Picture::allocate(16, 16, AV_PIX_FMT_RGB24));
    QCoreApplication::processEvents();
    EXPECT_EQ(renderer.frameCount(), 3u);
    EXPECT_EQ(displayed, 1);
    EXPECT_EQ(reports, 1);
    EXPECT_TRUE(renderer.capturedFirstFrame());

    renderer.resetSession();
    EXPECT_FALSE(renderer.capturedFirstFrame());
    renderer.render(smallPicture());
    renderer.render(smallPicture());
    EXPECT_EQ(reports, 2);
}

TEST(DisplayBridgeTest, DetachMovesPictureAndInputToAnotherLiveView) {
    RemoteDisplayBridge bridge;
    std::vector<QRectF> mouseBounds;
    bridge.onMouseEvent = [&](const QInputEvent&, const QRectF& bounds) {
        mouseBounds.push_back(bounds);
    };
    RecordingView first(QRectF(0, 0, 640, 360));
    RecordingView second(QRectF(0, 0, 1920, 1080));
    const auto picture = fixtures::twoColourPicture(64, 36, fixtures::kRed, fixtures::kBlue);

    bridge.attachView(&first);
    bridge.attachView(&first); // twice: still one entry
    EXPECT_EQ(bridge.knownViews().size(), 1u);
    bridge.displayFrame(picture);
    EXPECT_EQ(first.current(), picture.avFrame());
    bridge.attachView(&second); // e.g. the full-screen layout
    EXPECT_EQ(bridge.displayView(), &second);
    EXPECT_EQ(second.current(), picture.avFrame()) << "filled without waiting for a frame";
    EXPECT_FALSE(first.onMouseEvent) << "only the display view delivers input";

    bridge.detachView(&second);
    EXPECT_EQ(bridge.displayView(), &first);
    ASSERT_TRUE(first.onMouseEvent);
    first.onMouseEvent(click());
    // No key receiver installed: nothing happens.
    first.onKeyEvent(QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a"));
    EXPECT_EQ(mouseBounds, std::vector<QRectF>{QRectF(0, 0, 640, 360)});

    // The last view goes; the picture waits for the next one.
    bridge.detachView(&first);
    EXPECT_EQ(bridge.displayView(), nullptr);
    EXPECT_TRUE(bridge.knownViews().empty());
    RecordingView third;
    bridge.attachView(&third);
    EXPECT_EQ(third.current(), picture.avFrame());
    bridge.onMouseEvent = {};
    third.onMouseEvent(click()); // no mouse receiver: nothing happens
}

// Suspended capture (an annotation tool) is DisplayWidgetTest's, through
// both real views.

TEST(DisplayBridgeTest, ResetForgetsTheSessionAndBlanksLiveViews) {
    RemoteDisplayBridge bridge;
    RecordingView view;
    bridge.attachView(&view);
    bridge.displayFrame(fixtures::twoColourPicture(64, 36, fixtures::kRed, fixtures::kBlue));
    bridge.submitFrame(fixtures::twoColourPicture(64, 36, fixtures::kBlue, fixtures::kBlue));
    bridge.reset();
    QCoreApplication::processEvents(); // the picture submitted before the reset
    EXPECT_EQ(bridge.displayView(), nullptr);
    EXPECT_TRUE(bridge.knownViews().empty());
    EXPECT_TRUE(bridge.latestFrame().isNull());
    EXPECT_EQ(view.current(), nullptr) << "the view was left showing the old session";
    EXPECT_FALSE(view.onMouseEvent);

    // A view shown again for the next session starts black and gets frames.
    bridge.attachView(&view);
    const auto next = fixtures::twoColourPicture(64, 36, fixtures::kRed, fixtures::kRed);
    bridge.displayFrame(next);
    EXPECT_EQ(view.current(), next.avFrame());
}
