#include "ui/viewer/VideoRenderer.h"

#include "TestPictures.h"
#include "support/video/PatternGenerator.h"
#include "ui/viewer/Thumbnail.h"

#include <QCoreApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <vector>

using namespace velmarin;
using namespace velmarin::ui;
using namespace std::chrono_literals;

namespace {

video::Picture smallPicture() {
    return video::testing::makePattern(video::testing::Pattern::staticText, 64, 36, 0);
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
