#include "TestPictures.h"
#include "ui/viewer/RemoteDisplayBridge.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <gtest/gtest.h>

#include <vector>

using namespace velmarin;
using namespace velmarin::ui;

namespace {

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
    ASSERT_EQ(mouseBounds.size(), 1u);
    EXPECT_EQ(mouseBounds[0], QRectF(0, 0, 640, 360));

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
