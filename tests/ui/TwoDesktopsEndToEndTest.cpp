// Two desktop applications on two private X servers, through the real relay,
// driven as people drive them (xdotool clicks and typing): the Host shares
// from its window, the Viewer connects from its form and sees and operates
// the Host's screen, chats, drops a file (a real XDND drag from another X
// client), draws, and later connects again with one click on a saved device.

#include "support/WaitUntil.h"
#include "support/host/DesktopProcess.h"
#include "support/relay/RelayProcess.h"
#include "support/x11/XTestClient.h"
#include "support/x11/XvfbProcess.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace velmarin::testing;
using namespace std::chrono_literals;

namespace {

// Places in the 820×550 window without a window manager (the gallery's
// pictures show them): the tabs, the connect form, the devices tab with its
// form and first row (the sharing tab's: support/host/DesktopProcess.h).
constexpr QPoint kConnectingTab{530, 35};
constexpr QPoint kDevicesTab{618, 35};
constexpr QPoint kPartnerID{530, 287};
constexpr QPoint kPassword{510, 331};
constexpr QPoint kAddDevice{755, 88};
constexpr QPoint kDeviceName{530, 170};
constexpr QPoint kDeviceID{530, 198};
constexpr QPoint kDevicePassword{530, 226};
constexpr QPoint kSaveDevice{742, 254};
constexpr QPoint kConnectFirstDevice{739, 148};
// The Viewer's toolbar floats centred 26 px below the window's top; its
// buttons' distance from the centre line.
constexpr int kToolbarY = 26;
constexpr int kPenButton = -150;
constexpr int kChatButton = 182;
constexpr int kDisconnectButton = 209;

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;
// A client window on the Host's screen in a colour nothing else has.
constexpr QRect kClientWindow{880, 100, 360, 600};
constexpr std::uint32_t kMagenta = 0xff00ff;

std::string xy(QPoint at) {
    return std::to_string(at.x()) + " " + std::to_string(at.y());
}

bool near(QRgb pixel, QRgb wanted, int tolerance) {
    return std::abs(qRed(pixel) - qRed(wanted)) <= tolerance &&
           std::abs(qGreen(pixel) - qGreen(wanted)) <= tolerance &&
           std::abs(qBlue(pixel) - qBlue(wanted)) <= tolerance;
}

class TwoDesktops : public ::testing::Test {
protected:
    // Where the Host's pixel shows in the Viewer's window while viewing
    // (the Host's screen fills it: 80 % of an equal screen).
    QPoint onViewer(QPoint host) const {
        const QRect frame = viewer->windowFrame();
        return {frame.x() + host.x() * frame.width() / kScreenWidth,
                frame.y() + host.y() * frame.height() / kScreenHeight};
    }
    // Centred at 80 % of the screen, and showing the Host's screen.
    bool viewing() const {
        if (viewer->windowFrame() != QRect(kScreenWidth / 10, kScreenHeight / 10,
                                           kScreenWidth * 8 / 10, kScreenHeight * 8 / 10))
            return false;
        // Its lower left corner: the chat panel may cover the rest.
        const QPoint at = onViewer(kClientWindow.bottomLeft() + QPoint(20, -20));
        return near(screenImage(viewerX, QRect(at, QSize(1, 1))).pixel(0, 0), 0xffff00ff, 40);
    }
    bool onViewerDisplay(const std::string& xdotool) const {
        return viewerX.run("xdotool " + xdotool) == 0;
    }
    bool clickOnViewer(QPoint at) const {
        return onViewerDisplay("mousemove " + xy(at) + " click 1");
    }
    bool toolbar(int offset) const {
        const QRect frame = viewer->windowFrame();
        return clickOnViewer({frame.center().x() + offset, frame.y() + kToolbarY});
    }
    // Presses at `from`, moves to `to` in `steps` with `pause` seconds
    // between them, and lets go.
    bool dragOnViewer(QPoint from, QPoint to, int steps, const std::string& pause) const {
        std::string moves = "mousemove " + xy(from) + " mousedown 1";
        for (int step = 1; step <= steps; ++step)
            moves += " sleep " + pause + " mousemove " + xy(from + (to - from) * step / steps);
        return onViewerDisplay(moves + " sleep 0.3 mouseup 1");
    }
    std::string failure() const {
        return "\n--- host ---\n" + host->transcript().toStdString() +
               host->process().readAll().toStdString() + "\n--- viewer ---\n" +
               viewer->transcript().toStdString() + viewer->process().readAll().toStdString();
    }

    int argc = 0;
    QCoreApplication app{argc, nullptr};
    XvfbProcess hostX{kScreenWidth, kScreenHeight};
    XvfbProcess viewerX{kScreenWidth, kScreenHeight};
    RelayProcess relay;
    QTemporaryDir hostDir, viewerDir;
    std::unique_ptr<DesktopProcess> host, viewer;
};

TEST_F(TwoDesktops, AViewerConnectsFromItsFormOperatesTheHostAndReturnsThroughASavedDevice) {
    XTestClient client(hostX.display());
    client.openWindow(kClientWindow.x(), kClientWindow.y(), kClientWindow.width(),
                      kClientWindow.height(), kMagenta);
    host = std::make_unique<DesktopProcess>(hostX, relay, hostDir.path());
    viewer = std::make_unique<DesktopProcess>(viewerX, relay, viewerDir.path(), true);
    ASSERT_TRUE(host->waitForWindow() && viewer->waitForWindow()) << failure();

    // The Host shares unattended (fixed credentials, automatic start: it
    // stays reachable for saved devices) from its window; its password
    // comes off the clipboard.
    ASSERT_TRUE(host->click(kFixedCredentials) && host->click(kAutomaticStart));
    ASSERT_TRUE(host->click(kShareButton));
    const QString id = host->readAfter("Registered with ID ");
    ASSERT_FALSE(id.isEmpty()) << failure();
    ASSERT_TRUE(host->click(kCopyButton));
    QString password;
    waitUntil([&] { return !(password = clipboardText(host->environment())).isEmpty(); }, 10s);
    ASSERT_FALSE(password.isEmpty());

    // The Viewer types both into its form and connects with Enter.
    ASSERT_TRUE(viewer->click(kConnectingTab) && viewer->click(kPartnerID) && viewer->type(id));
    ASSERT_TRUE(viewer->click(kPassword) && viewer->type(password) && viewer->key("Return"));
    ASSERT_TRUE(waitUntil([&] { return viewing(); }, 30s))
        << "the Host's screen never showed" << failure();

    // A click on the Host's window as the Viewer shows it lands there.
    const QPoint target{1000, 300};
    ASSERT_TRUE(clickOnViewer(onViewer(target)));
    const auto& events = client.waitForEvents(2, 10s);
    ASSERT_GE(events.size(), 1u) << failure();
    EXPECT_EQ(events.front().kind, ReceivedEvent::Kind::buttonPress);
    EXPECT_NEAR(events.front().x, target.x(), 2);
    EXPECT_NEAR(events.front().y, target.y(), 2);

    // A pen stroke drawn on the Viewer shows over the Host's screen.
    ASSERT_TRUE(toolbar(kPenButton));
    ASSERT_TRUE(dragOnViewer(onViewer({920, 200}), onViewer({1180, 200}), 10, "0.03"));
    const auto redOnHost = [&] {
        const QImage row = screenImage(hostX, QRect(900, 195, 300, 11));
        int red = 0;
        for (int y = 0; y < row.height(); ++y)
            for (int x = 0; x < row.width(); ++x)
                red += near(row.pixel(x, y), 0xffff3b30, 60);
        return red > 100;
    };
    EXPECT_TRUE(waitUntil(redOnHost, 10s)) << "no stroke on the Host" << failure();
    ASSERT_TRUE(toolbar(kPenButton)); // the pointer goes to the Host again

    // A chat line typed on the Viewer reaches the Host.
    ASSERT_TRUE(toolbar(kChatButton));
    ASSERT_TRUE(viewer->type("Hallo vanaf de viewer") && viewer->key("Return"));
    EXPECT_FALSE(host->readAfter("Chat message received from the viewer").isEmpty()) << failure();

    // A file dragged from another program onto the remote screen arrives in
    // the Host's Downloads folder.
    const QString file = viewerDir.filePath("notities.txt");
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("boodschappen: melk, brood\n");
    }
    QProcess source;
    source.setProcessEnvironment(viewer->environment());
    source.start(VELMARIN_DRAG_SOURCE, {file, "1180", "710"});
    ASSERT_TRUE(source.waitForReadyRead(10'000)) << "no drag source";
    ASSERT_TRUE(viewerX.run("timeout 10 xdotool search --sync --onlyvisible --name '^Sleepbron$' "
                            ">/dev/null") == 0);
    ASSERT_TRUE(dragOnViewer({1220, 750}, onViewer({640, 400}), 8, "0.1"));
    const QString received = host->downloads() + "/notities.txt";
    EXPECT_TRUE(waitUntil([&] { return QFile::exists(received); }, 15s))
        << "nothing arrived; drag source: " << source.readAll().toStdString() << failure();
    QFile arrived(received);
    ASSERT_TRUE(arrived.open(QIODevice::ReadOnly));
    EXPECT_EQ(arrived.readAll(), "boodschappen: melk, brood\n");
    source.kill();
    source.waitForFinished();

    // Disconnect from the toolbar; the window returns to its own size, centred.
    ASSERT_TRUE(toolbar(kDisconnectButton));
    ASSERT_TRUE(waitUntil([&] { return viewer->windowFrame() == QRect(230, 125, 820, 550); }, 10s))
        << failure();

    // A device saved from the devices tab connects with one click.
    // Each click's result (a form, a row) appears before the next step.
    const auto click = [&](QPoint at) {
        const bool clicked = viewer->click(at);
        QTest::qWait(150);
        return clicked;
    };
    ASSERT_TRUE(click(kDevicesTab) && click(kAddDevice) && click(kDeviceName) &&
                viewer->type("Kantoor") && click(kDeviceID) && viewer->type(id) &&
                click(kDevicePassword) && viewer->type(password) && click(kSaveDevice));
    ASSERT_TRUE(click(kConnectFirstDevice));
    EXPECT_TRUE(waitUntil([&] { return viewing(); }, 30s))
        << "the saved device did not connect" << failure();
}

} // namespace
