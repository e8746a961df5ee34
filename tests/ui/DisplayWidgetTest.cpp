#include "TestPictures.h"
#include "ui/viewer/DisplayViewFactory.h"
#include "ui/viewer/GLDisplayWidget.h"
#include "ui/viewer/RemoteDisplayBridge.h"
#include "ui/viewer/SoftwareDisplayWidget.h"

#include <QApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <memory>

using namespace velmarin;
using namespace velmarin::ui;

namespace {

enum class Kind { openGL, software };

std::unique_ptr<QWidget> makeView(Kind kind, RemoteDisplayBridge& bridge) {
    if (kind == Kind::openGL)
        return std::make_unique<GLDisplayWidget>(bridge);
    return std::make_unique<SoftwareDisplayWidget>(bridge);
}

QImage readBack(Kind kind, QWidget& widget) {
    QApplication::processEvents();
    if (kind == Kind::openGL)
        return static_cast<GLDisplayWidget&>(widget).grabFramebuffer();
    return widget.grab().toImage();
}

bool isBlack(QColor c) {
    return c.red() < 16 && c.green() < 16 && c.blue() < 16;
}
bool isRed(QColor c) {
    return c.red() > 200 && c.green() < 60 && c.blue() < 60;
}
bool isBlue(QColor c) {
    return c.blue() > 200 && c.red() < 60 && c.green() < 60;
}

class DisplayWidgetTest : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        if (GetParam() == Kind::openGL && !openGLAvailable())
            GTEST_SKIP() << "no OpenGL on this X server (install libgl1-mesa-dri)";
    }
};

} // namespace

TEST_P(DisplayWidgetTest, AKnownPictureAppearsLetterboxedOnBlack) {
    RemoteDisplayBridge bridge;
    auto view = makeView(GetParam(), bridge);
    view->resize(400, 400);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));

    // 16:9, red above blue: fits as 400 × 225 from y = 87.
    for (const AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_NV12}) {
        bridge.displayFrame(
            fixtures::twoColourPicture(640, 360, fixtures::kRed, fixtures::kBlue, format));
        const QImage image = readBack(GetParam(), *view);
        ASSERT_EQ(image.size(), QSize(400, 400) * view->devicePixelRatioF());
        EXPECT_TRUE(isBlack(image.pixelColor(200, 40))) << "bar above";
        EXPECT_TRUE(isBlack(image.pixelColor(200, 360))) << "bar below";
        EXPECT_TRUE(isRed(image.pixelColor(200, 130))) << "upper half, format " << format;
        EXPECT_TRUE(isBlue(image.pixelColor(200, 270))) << "lower half, format " << format;
        EXPECT_TRUE(isRed(image.pixelColor(2, 100))) << "picture spans the full width";
    }

    // A tall picture gets bars left and right instead.
    bridge.displayFrame(fixtures::twoColourPicture(200, 400, fixtures::kBlue, fixtures::kBlue));
    const QImage tall = readBack(GetParam(), *view);
    EXPECT_TRUE(isBlack(tall.pixelColor(20, 200)));
    EXPECT_TRUE(isBlue(tall.pixelColor(200, 200)));

    // The end of the session leaves the view black.
    bridge.reset();
    EXPECT_TRUE(isBlack(readBack(GetParam(), *view).pixelColor(200, 200)));
}

TEST_P(DisplayWidgetTest, ForwardsMouseKeysAndDroppedFilesThroughTheBridge) {
    RemoteDisplayBridge bridge;
    auto view = makeView(GetParam(), bridge);
    view->resize(320, 200);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));

    std::vector<std::pair<QEvent::Type, QRectF>> mouse;
    std::vector<int> keys;
    QStringList dropped;
    bridge.onMouseEvent = [&](const QInputEvent& event, const QRectF& bounds) {
        mouse.emplace_back(event.type(), bounds);
    };
    bridge.onKeyEvent = [&](const QKeyEvent& event) { keys.push_back(event.key()); };
    bridge.onFilesDropped = [&](const QStringList& paths) { dropped = paths; };

    QTest::mouseClick(view.get(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 60));
    QTest::keyClick(view.get(), Qt::Key_Tab); // Tab goes to the Host, not to focus
    ASSERT_EQ(mouse.size(), 2u);
    EXPECT_EQ(mouse[0].first, QEvent::MouseButtonPress);
    EXPECT_EQ(mouse[1].first, QEvent::MouseButtonRelease);
    EXPECT_EQ(mouse[0].second, QRectF(0, 0, 320, 200));
    EXPECT_EQ(keys, (std::vector<int>{Qt::Key_Tab, Qt::Key_Tab}));

    dynamic_cast<DisplayView&>(*view).captureSuspended = true;
    QTest::mouseClick(view.get(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 60));
    QTest::keyClick(view.get(), Qt::Key_B);
    EXPECT_EQ(mouse.size(), 2u) << "mouse forwarded while an annotation tool is active";
    EXPECT_EQ(keys.size(), 4u);

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile("/tmp/rapport.pdf"), QUrl("https://example.org/x")});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.get(), &drop);
    EXPECT_EQ(dropped, QStringList{"/tmp/rapport.pdf"});
}

INSTANTIATE_TEST_SUITE_P(Views, DisplayWidgetTest, ::testing::Values(Kind::openGL, Kind::software),
                         [](const auto& info) {
                             return info.param == Kind::openGL ? "OpenGL" : "Software";
                         });
