// The desktop application as people drive it (xdotool clicks and typing),
// on private X servers through the real relay.
//
// Two desktop applications: the Host shares from its window, the Viewer
// connects from its form and sees and operates the Host's screen, chats,
// drops a file (a real XDND drag from another X client), draws, and later
// connects again with one click on a saved device.
//
// A headless Host's screen recorded by `velmarin view --record` (the file
// checked with ffprobe and ffmpeg) and shown by `velmarin view --window`
// until that Host stops; then `velmarin` without arguments sharing from its
// window with a headless `velmarin view` until "Stop delen".

#include "FfprobeRunner.h"
#include "support/WaitUntil.h"
#include "support/capture/X11Painter.h"
#include "support/host/DesktopProcess.h"
#include "support/relay/RelayProcess.h"
#include "support/x11/XTestClient.h"
#include "support/x11/XvfbProcess.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

using namespace velmarin::testing;
using namespace velmarin::ui::fixtures;
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

// The share of the pixels in `area` of `x`'s screen within 40 of `rgb`
// (the picture went through H.264); -1 when it cannot be read.
double shareIn(const XvfbProcess& x, const QRect& area, QRgb rgb) {
    const QImage screen = screenImage(x, area);
    if (screen.isNull())
        return -1;
    int matching = 0;
    for (int y = 0; y < screen.height(); ++y)
        for (int x = 0; x < screen.width(); ++x)
            matching += near(screen.pixel(x, y), rgb, 40);
    return double(matching) / (screen.width() * screen.height());
}

// Clicks "Start delen", then the copy button: the ID the window registered
// and the password it put on the clipboard, other than `previous` (empty
// when either did not come).
std::pair<QString, QString> startSharing(DesktopProcess& desktop, const QString& previous = {}) {
    QString id, password;
    if (desktop.click(kShareButton) && !(id = desktop.readAfter("Registered with ID ")).isEmpty() &&
        desktop.click(kCopyButton))
        waitUntil(
            [&] {
                password = clipboardText(desktop.environment());
                return !password.isEmpty() && password != previous;
            },
            10s);
    return {id, password != previous ? password : QString()};
}

class DesktopEndToEnd : public ::testing::Test {
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

TEST_F(DesktopEndToEnd, AViewerConnectsFromItsFormOperatesTheHostAndReturnsThroughASavedDevice) {
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
    const auto [id, password] = startSharing(*host);
    ASSERT_FALSE(id.isEmpty() || password.isEmpty()) << failure();

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

TEST_F(DesktopEndToEnd,
       AHostIsRecordedAndShownInAWindowUntilItStopsAndTheWindowSharesUntilStopDelen) {
    {
        // Red above, blue below: shows the content and its orientation.
        X11Painter painter(hostX.display());
        painter.fill(0, 0, 1280, 400, 0xff0000);
        painter.fill(0, 400, 1280, 400, 0x0000ff);
        painter.movePointer(1270, 790);
    }
    // A fixed password: the Host stays for the next Viewer.
    const QString password = QStringLiteral("k7m2pq");
    HostProcess headless(hostX.display(), relay, hostDir.filePath("headless"),
                         {"--password", password});
    const QString id = headless.readUntil(QStringLiteral("ID: "));
    ASSERT_FALSE(id.isEmpty()) << headless.transcript().toStdString();

    // A recording into a missing folder is refused before connecting.
    const auto missing =
        runVelmarin(headless.environment(),
                    {"view", id, password, "--record", viewerDir.filePath("weg/sessie.mp4")});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(
        missing.err.startsWith("De map voor de opname bestaat niet: " + viewerDir.filePath("weg")));
    const auto bare = runVelmarin(headless.environment(), {"view", id, password, "--record"});
    EXPECT_EQ(bare.exitCode, 2);
    EXPECT_TRUE(bare.err.startsWith("--record verwacht een bestandsnaam."));

    const QString file = viewerDir.filePath("sessie.mp4");
    VelmarinRun recording;
    {
        // Something moving on the boundary, away from the points read below,
        // so the Host keeps sending.
        const ScreenAnimation animation(hostX.display(), [](X11Painter& painter, int i) {
            const int left = 300 + (i * 8) % 600;
            painter.fill(left, 380, 40, 40, 0x00ff00);
            std::this_thread::sleep_for(30ms);
            painter.fill(left, 380, 40, 20, 0xff0000);
            painter.fill(left, 400, 40, 20, 0x0000ff);
        });
        recording = runVelmarin(headless.environment(),
                                {"view", id, password, "--seconds", "4", "--record", file});
    }
    const std::string printed = recording.out.toStdString();
    EXPECT_EQ(recording.exitCode, 0) << recording.err.toStdString();
    EXPECT_TRUE(recording.out.contains("Opname gestart: " + file)) << printed;
    EXPECT_TRUE(recording.out.contains("Opname beëindigd: " + file)) << printed;
    EXPECT_FALSE(QFileInfo::exists(viewerDir.filePath("sessie-onvoltooid.mp4")));

    const auto facts = probeMovie(file);
    ASSERT_TRUE(facts) << printed;
    EXPECT_EQ(facts->size, QSize(1280, 800));
    // About three seconds of a moving screen, every picture decodable.
    EXPECT_GE(facts->frames, 20) << printed;
    EXPECT_GT(facts->duration, 1.5);
    EXPECT_LT(facts->duration, 5.0);

    const QByteArray luma = lumaOfFrame(file, 0);
    ASSERT_EQ(luma.size(), 1280 * 800);
    const auto at = [&](int x, int y) { return static_cast<unsigned char>(luma[y * 1280 + x]); };
    // Red and blue have distinct luma (about 76 and 29).
    EXPECT_NEAR(at(100, 100), 76, 15);
    EXPECT_NEAR(at(640, 200), 76, 15);
    EXPECT_NEAR(at(100, 700), 29, 15);
    EXPECT_NEAR(at(640, 600), 29, 15);

    {
        DesktopProcess wrong(viewerX, relay, viewerDir.path(), false,
                             {"view", id, "fout12", "--window"});
        ASSERT_TRUE(wrong.process().waitForFinished(20'000)) << "it stayed open on the error";
        EXPECT_EQ(wrong.process().exitCode(), 1);
        EXPECT_TRUE(wrong.process().readAll().contains("Fout: Onjuist wachtwoord."));
    }

    DesktopProcess window(viewerX, relay, viewerDir.path(), false,
                          {"view", id, password, "--window", "--fullscreen"});
    // Full screen: the Host's picture fills the Viewer's screen, the right
    // way up (and one screen into the other at the same size leaves no
    // letterbox).
    double red = 0, blue = 0;
    EXPECT_TRUE(waitUntil(
        [&] {
            red = shareIn(viewerX, QRect(0, 0, 1280, 400), 0xff0000);
            blue = shareIn(viewerX, QRect(0, 400, 1280, 400), 0x0000ff);
            return red > 0.95 && blue > 0.95;
        },
        30s))
        << "share of red above: " << red << ", of blue below: " << blue << "\n"
        << window.transcript().toStdString();

    headless.process().terminate();
    ASSERT_TRUE(window.process().waitForFinished(20'000)) << "the window outlived its session";
    EXPECT_EQ(window.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(window.process().exitCode(), 0) << window.process().readAll().toStdString();

    // The same application sharing from its window, on the screen the
    // Viewer's window left.
    DesktopProcess desktop(viewerX, relay, hostDir.filePath("desktop"));
    ASSERT_TRUE(desktop.waitForWindow()) << "no window; " << desktop.transcript().toStdString();

    const auto [shared, copied] = startSharing(desktop);
    ASSERT_FALSE(shared.isEmpty() || copied.isEmpty()) << desktop.transcript().toStdString();

    // Longer than the test waits for it: only the Host's stop ends it early.
    QProcess view;
    view.setProcessEnvironment(desktop.environment());
    view.start(VELMARIN_BINARY, {"view", shared, copied, "--seconds", "60"});
    QString out;
    const bool pictures = waitUntil(
        [&] {
            out += QString::fromUtf8(view.readAllStandardOutput());
            // Printed once a second from the first received frame on.
            return out.contains("\nVideo: ") || view.state() == QProcess::NotRunning;
        },
        30s);
    ASSERT_TRUE(pictures && out.contains("Status: Verbonden\n"))
        << out.toStdString() << view.readAllStandardError().toStdString()
        << desktop.transcript().toStdString();

    ASSERT_TRUE(desktop.click(kShareButton)); // now "Stop delen"
    ASSERT_TRUE(view.waitForFinished(20'000)) << "the Viewer stayed connected";
    out += QString::fromUtf8(view.readAllStandardOutput());
    EXPECT_EQ(view.exitCode(), 1);
    EXPECT_TRUE(view.readAllStandardError().contains("De host heeft de verbinding verbroken."))
        << out.toStdString();
    EXPECT_TRUE(out.contains("Status: Niet verbonden\n")) << out.toStdString();

    // The ID is given up: the same credentials no longer reach anyone.
    const auto unreachable =
        runVelmarin(desktop.environment(), {"view", shared, copied, "--seconds", "10"});
    EXPECT_EQ(unreachable.exitCode, 1);
    EXPECT_FALSE(unreachable.out.contains("Status: Verbonden"));

    // The button is "Start delen" again and shares anew, with a new password.
    const auto [sharedAgain, renewed] = startSharing(desktop, copied);
    EXPECT_FALSE(sharedAgain.isEmpty() || renewed.isEmpty()) << desktop.transcript().toStdString();
    EXPECT_EQ(desktop.process().state(), QProcess::Running);
}
