// Annotations on a private Xvfb: a Viewer coordinator drawing through the
// real relay on a Host coordinator whose overlay covers the captured
// monitor, lets clicks through and stays out of the video the Host sends.

#include "app/AppCoordinator.h"
#include "capture/CapturedArea.h"
#include "capture/HostScreenCapture.h"
#include "support/WaitUntil.h"
#include "support/capture/CaptureProbe.h"
#include "support/capture/X11Painter.h"
#include "support/relay/RelayProcess.h"
#include "support/x11/XTestClient.h"
#include "ui/host/AnnotationOverlayWindow.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

using namespace velmarin;
using namespace velmarin::testing;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kGreen = 0x34C759;
constexpr std::uint32_t kGrey = 0x404040;

std::string display() {
    return std::getenv("DISPLAY");
}

// Pictures are looked at by a person before a change is called done.
void savePicture(const QImage& image, const char* name) {
    const QString dir = QDir::temp().filePath(QStringLiteral("velmarin-annotations"));
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + QLatin1String(name));
}

// What the screen shows in (x, y, width, height), read from the X server.
QImage screenImage(int x, int y, int width, int height) {
    return QGuiApplication::primaryScreen()->grabWindow(0, x, y, width, height).toImage();
}

// The Viewer's display: keeps the newest decoded picture.
class LatestPicture final : public VideoDisplay {
public:
    void render(const video::Picture& picture) override {
        const std::lock_guard lock(mutex);
        latest = picture;
        ++count;
    }
    void resetSession() override {}
    // How many pictures came so far, and the newest.
    std::pair<std::size_t, video::Picture> seen() {
        const std::lock_guard lock(mutex);
        return {count, latest};
    }

private:
    std::mutex mutex;
    video::Picture latest;
    std::size_t count = 0;
};

} // namespace

TEST(AnnotationOverlay, ViewerStrokesShowOnTheCapturedMonitorButNotInTheStream) {
    // Two monitors side by side, a window under both that records clicks.
    XTestClient desktop(display());
    X11Painter painter(display());
    painter.fill(0, 0, 1280, 800, kGrey);
    painter.setMonitor("LEFT", 0, 0, 640, 800, true);
    painter.setMonitor("RIGHT", 640, 0, 640, 800, false);
    desktop.openWindow(0, 0, 1280, 800);

    RelayProcess relay;
    ::setenv("VELMARIN_RELAY_HOST", relay.hostPort().c_str(), 1);
    ::setenv("VELMARIN_RELAY_CA", relay.caFile().c_str(), 1);
    QTemporaryDir dir;

    // The Host, as the desktop application wires it.
    auto area = std::make_shared<capture::CapturedArea>();
    ui::AnnotationOverlayWindow* overlay = nullptr;
    SessionComponents hostParts;
    hostParts.makeCapture = [area] {
        auto options = captureOptionsOn(display());
        options.capturedArea = area;
        return std::make_unique<capture::HostScreenCapture>(std::move(options));
    };
    hostParts.makeOverlay = [area, &overlay] {
        auto made = std::make_unique<ui::AnnotationOverlayWindow>([area] {
            const auto r = area->get();
            return r ? std::optional<QRect>(QRect(r->x, r->y, r->width, r->height)) : std::nullopt;
        });
        overlay = made.get();
        return made;
    };
    CommandBus hostCommands;
    ConnectionState hostState;
    AppSettings hostSettings{dir.filePath("host.conf"), nullptr};
    AppCoordinator host(hostCommands, std::move(hostParts));
    host.setup(hostState, hostSettings, nullptr);
    hostState.setLocalPassword(QStringLiteral("k7m2pq"));
    hostState.setIsSharing(true);
    hostCommands.post(Command::startHosting);
    ASSERT_TRUE(waitUntil([&] { return hostState.status() == Status::waitingForViewer(); }, 20s));
    ASSERT_TRUE(overlay);
    EXPECT_EQ(overlay->targetGeometry(), QRect(0, 0, 640, 800)); // the primary monitor

    SessionComponents viewerParts;
    auto pictures = std::make_unique<LatestPicture>();
    LatestPicture& received = *pictures;
    viewerParts.display = std::move(pictures);
    CommandBus viewerCommands;
    ConnectionState viewerState;
    AppSettings viewerSettings{dir.filePath("viewer.conf"), nullptr};
    AppCoordinator viewer(viewerCommands, std::move(viewerParts));
    viewer.setup(viewerState, viewerSettings, nullptr);
    viewerState.setMode(Mode::viewer);
    viewerState.setRemoteID(hostState.localID());
    viewerState.setRemotePassword(QStringLiteral("k7m2pq"));
    viewerCommands.post(Command::startViewing);
    ASSERT_TRUE(waitUntil([&] { return viewerState.availableMonitors().size() >= 2; }, 20s));

    // The Viewer watches the right monitor; the overlay follows it.
    std::int64_t right = 0;
    for (const auto& monitor : viewerState.availableMonitors())
        if (monitor.x == 640)
            right = monitor.id;
    viewerCommands.post(Command::selectMonitor,
                        {{QStringLiteral("monitorId"), QVariant::fromValue(right)}});
    ASSERT_TRUE(waitUntil([&] { return area->get() && area->get()->x == 640; }));
    for (const double x : {0.2, 0.4, 0.6, 0.8})
        viewer.sendDraw({.tool = "pen",
                         .strokeId = "ab12cd34",
                         .points = {{x, 0.5}},
                         .color = "#34C759",
                         .ended = false});
    const auto green = [&](int x, int y) {
        const QRgb pixel = screenImage(x, y, 1, 1).pixel(0, 0);
        return near({qRed(pixel), qGreen(pixel), qBlue(pixel)}, kGreen, 40);
    };
    ASSERT_TRUE(waitUntil([&] { return green(960, 400); }, 10s))
        << "geometry " << overlay->renderView().geometry().x();
    EXPECT_EQ(overlay->renderView().geometry(), QRect(640, 0, 640, 800));
    EXPECT_FALSE(green(320, 400)); // nothing on the other monitor
    EXPECT_FALSE(green(960, 300)); // nor off the line: transparent
    savePicture(screenImage(0, 0, 1280, 800), "host-screen.png");

    // A click on the stroke reaches the window below.
    desktop.clearEvents();
    ASSERT_EQ(std::system("xdotool mousemove 960 400 click 1"), 0);
    const auto& clicks = desktop.waitForEvents(2, 5s);
    ASSERT_GE(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].kind, ReceivedEvent::Kind::buttonPress);
    EXPECT_EQ(clicks[0].x, 960);
    EXPECT_EQ(clicks[0].y, 400);
    // The pointer goes elsewhere: the picture shows it.
    ASSERT_EQ(std::system("xdotool mousemove 700 700"), 0);

    // Pictures decoded on the Viewer since the stroke show the desktop there.
    const std::size_t before = received.seen().first;
    ASSERT_TRUE(waitUntil([&] { return received.seen().first >= before + 10; }, 15s));
    const video::Picture picture = received.seen().second;
    ASSERT_EQ(picture.width(), 640);
    for (const int x : {200, 320, 440}) {
        const Rgb seen = colourAt(picture, x, 400);
        EXPECT_TRUE(near(seen, kGrey, 24)) << x << ": " << seen.r << "," << seen.g << "," << seen.b;
    }

    // A spotlight, a laser and the Viewer's pointer besides the stroke.
    viewer.sendSpotlight({.x = 0.5, .y = 0.3, .radius = 0.12, .active = true});
    viewer.sendDraw({.tool = "laser",
                     .strokeId = "laser001",
                     .points = {{0.3, 0.7}, {0.5, 0.75}},
                     .color = "#0A84FF",
                     .ended = false});
    overlay->showRemoteCursor(0.6, 0.8, QStringLiteral("Anna"));
    // Cleared: the overlay stops animating and gets out of the way.
    viewer.sendDrawClear();
    EXPECT_TRUE(waitUntil([&] {
        return !overlay->renderView().isAnimating() && !overlay->renderView().isVisible();
    }));
    EXPECT_FALSE(green(960, 400));
    viewerCommands.post(Command::stopViewing);
    hostCommands.post(Command::stopHosting);
    waitUntil([&] { return hostState.status() == Status::disconnected(); });
}
