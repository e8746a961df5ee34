// Remote control as users get it: `velmarin host` sharing a private X server,
// or a private headless GNOME Wayland session (mutter, with wev the client on
// its screen), through the real relay, and a Viewer coordinator whose display
// bridge is fed the events a display view delivers. What the Host's desktop
// did is read back from it.

#include "app/AppCoordinator.h"
#include "capture/wayland/WaylandScreenSource.h"
#include "program/ProductInput.h"
#include "protocol/CryptoHelper.h"
#include "support/WaitUntil.h"
#include "support/host/HostProcess.h"
#include "support/relay/RelayProcess.h"
#include "support/relay/RelayTestClient.h"
#include "support/wayland/HeadlessWayland.h"
#include "support/x11/XTestClient.h"
#include "support/x11/XvfbProcess.h"
#include "ui/viewer/RemoteDisplayBridge.h"
#include "wayland/MutterRemoteDesktop.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>

using namespace velmarin;
using namespace velmarin::testing;
using namespace std::chrono_literals;

namespace {

// A Viewer coordinator in this process.
struct Viewer {
    Viewer(const RelayProcess& relay, const QString& settingsFile)
        : settings(settingsFile, nullptr) {
        // It reaches the relay too.
        ::setenv("VELMARIN_RELAY_HOST", relay.hostPort().c_str(), 1);
        ::setenv("VELMARIN_RELAY_CA", relay.caFile().c_str(), 1);
        SessionComponents components;
        components.makeViewerInput = [this](transport::WebSocketManager& webSocket,
                                            std::function<QSizeF()> hostScreenSize) {
            return input::makeViewerInput(webSocket, std::move(hostScreenSize), bridge);
        };
        coordinator = std::make_unique<AppCoordinator>(commands, std::move(components));
        coordinator->setup(state, settings, nullptr);
    }
    // Whether it connects to the Host `id` and learns its screen.
    bool connect(QString id, const QString& password) {
        state.setMode(Mode::viewer);
        state.setRemoteID(id.remove(QLatin1Char('-')));
        state.setRemotePassword(password);
        commands.post(Command::startViewing);
        return waitUntil([&] { return state.remoteScreenSize().width() > 0; }) &&
               bridge.onMouseEvent;
    }
    void mouse(QEvent::Type type, QPointF at, const QRectF& view,
               Qt::MouseButton button = Qt::NoButton, Qt::MouseButtons buttons = Qt::NoButton) {
        const QMouseEvent event(type, at, at, button, buttons, Qt::NoModifier);
        bridge.onMouseEvent(event, view);
    }

    ui::RemoteDisplayBridge bridge;
    ConnectionState state;
    CommandBus commands;
    AppSettings settings;
    std::unique_ptr<AppCoordinator> coordinator;
};

// The centre of wev's window (its light grey squares) in a picture of the
// screen cast through a session of our own.
std::optional<QPoint> wevCentre() {
    auto remote = wayland::MutterRemoteDesktop::open();
    if (!remote)
        return std::nullopt;
    auto source = capture::WaylandScreenSource::open(std::move(*remote));
    if (!source || (*source)->displays().empty() ||
        !(*source)->start((*source)->displays().front()) ||
        !(*source)->waitForChange(std::chrono::steady_clock::now() + 2s))
        return std::nullopt;
    const auto image = (*source)->grab();
    if (!image)
        return std::nullopt;
    int left = image->width, top = image->height, right = -1, bottom = -1;
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x) {
            const std::uint8_t* p = image->data + std::ptrdiff_t(y) * image->stride + x * 4;
            if (p[0] == 0xEE && p[1] == 0xEE && p[2] == 0xEE) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
        }
    if (right - left < 100 || bottom - top < 100)
        return std::nullopt;
    return QPoint((left + right) / 2, (top + bottom) / 2);
}

} // namespace

TEST(RemoteControlEndToEnd, ViewerInputMovesClicksAndTypesOnTheMonitorItWatches) {
    // A `velmarin host` on two 1280 x 800 monitors side by side (the left one
    // primary, a window over it).
    XvfbProcess hostDisplay{2560, 800};
    XTestClient hostClient{hostDisplay.display()};
    hostClient.setMonitor("LEFT", 0, 0, 1280, 800);
    hostClient.setMonitor("RIGHT", 1280, 0, 1280, 800);
    hostClient.openWindow(0, 0, 1280, 800);
    RelayProcess relay;
    QTemporaryDir dir;
    Viewer viewer(relay, dir.filePath("viewer.conf"));
    // The last made: the Host ends before the Viewer coordinator goes.
    HostProcess host(hostDisplay.display(), relay, dir.filePath("host-config"));
    const auto [id, password] = host.readCredentials();
    ASSERT_TRUE(!password.isEmpty() && viewer.connect(id, password))
        << host.transcript().toStdString();
    EXPECT_EQ(viewer.state.remoteScreenSize(), QSizeF(1280, 800));

    // A 640 x 500 view: the 1280 x 800 picture has bars of 50 above and below.
    const QRectF view(0, 0, 640, 500);
    viewer.mouse(QEvent::MouseMove, {160, 350}, view);
    EXPECT_TRUE(waitUntil([&] {
        const auto pointer = hostClient.pointer();
        return pointer.x == 320 && pointer.y == 600;
    })) << hostClient.pointer().x
        << "," << hostClient.pointer().y;

    viewer.mouse(QEvent::MouseButtonPress, {480, 150}, view, Qt::LeftButton, Qt::LeftButton);
    viewer.mouse(QEvent::MouseButtonRelease, {480, 150}, view, Qt::LeftButton);
    const auto& clicks = hostClient.waitForEvents(2, 10s);
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_EQ(clicks[0].kind, ReceivedEvent::Kind::buttonPress);
    EXPECT_EQ(clicks[0].detail, 1);
    EXPECT_EQ(clicks[0].x, 960);
    EXPECT_EQ(clicks[0].y, 200);

    // Shift pressed on the Viewer's keyboard is held on the Host for now
    // (what keys and flags become there is the capture and injection tests').
    const QKeyEvent shift(QEvent::KeyPress, 0, Qt::ShiftModifier, 50, 0, 0);
    viewer.bridge.onKeyEvent(shift);
    ASSERT_TRUE(waitUntil([&] { return hostClient.pressedKeys() == std::vector<int>{50}; }));

    // Once the Host captures the right monitor, the view's centre lands in
    // its middle.
    ASSERT_TRUE(waitUntil([&] { return viewer.state.availableMonitors().size() >= 2; }));
    std::optional<protocol::MonitorInfo> right;
    for (const auto& monitor : viewer.state.availableMonitors())
        if (monitor.x == 1280 && monitor.width == 1280)
            right = monitor;
    ASSERT_TRUE(right);
    viewer.commands.post(Command::selectMonitor,
                         {{QStringLiteral("monitorId"), QVariant::fromValue(right->id)}});
    EXPECT_TRUE(waitUntil([&] {
        viewer.mouse(QEvent::MouseMove, {320, 250}, view);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 30);
        const auto pointer = hostClient.pointer();
        return pointer.x == 1920 && pointer.y == 400;
    })) << hostClient.pointer().x;

    // The connection drops before the Viewer could let go of Shift: the Host
    // lets go of it itself.
    relay.stop();
    EXPECT_TRUE(waitUntil([&] { return hostClient.pressedKeys().empty(); }))
        << "held: " << ::testing::PrintToString(hostClient.pressedKeys()) << "\n"
        << (host.transcript() + host.process().readAll() + host.process().readAllStandardError())
               .toStdString();
}

// The same on a GNOME Wayland desktop, whose compositor may go away.
TEST(RemoteControlEndToEnd, OnWaylandTheViewerSeesTheMonitorAndItsClicksReachTheClient) {
    HeadlessWayland desktop(1280, 800);
    desktop.startWev();
    const auto centre = wevCentre();
    ASSERT_TRUE(centre);

    // The Host finds the session as a Wayland desktop announces itself.
    ::setenv("XDG_SESSION_TYPE", "wayland", 1);
    ::setenv("WAYLAND_DISPLAY", "wl-velmarin", 1);
    RelayProcess relay;
    QTemporaryDir dir;
    HostProcess host("", relay, dir.filePath("host"), {"--password", "k7m2pq"});
    ::unsetenv("XDG_SESSION_TYPE");
    ::unsetenv("WAYLAND_DISPLAY");
    QString id = host.readUntil("ID: "); // a fixed password is not printed
    ASSERT_FALSE(id.isEmpty()) << host.transcript().toStdString();

    const VelmarinRun view = runVelmarin(velmarinEnvironment("", relay, dir.filePath("view")),
                                         {"view", id, "k7m2pq", "--seconds", "4"});
    EXPECT_EQ(view.exitCode, 0) << view.err.toStdString();
    // The ID is the stream's, whatever number the compositor gave it.
    EXPECT_TRUE(view.out.contains(
        QRegularExpression(QStringLiteral("Monitoren: [0-9]+: Scherm 1 1280x800 \\(primair\\)\n"))))
        << view.out.toStdString();
    // Frames came: some second's report is not 0.
    EXPECT_TRUE(view.out.contains(
        QRegularExpression(QStringLiteral("^Video: (?!0(\\.0+)? )[0-9.]+ beelden/s"),
                           QRegularExpression::MultilineOption)))
        << view.out.toStdString();

    // A Viewer in this process clicks where the picture shows wev.
    Viewer viewer(relay, dir.filePath("viewer.conf"));
    ASSERT_TRUE(viewer.connect(id, QStringLiteral("k7m2pq"))) << host.transcript().toStdString();
    EXPECT_EQ(viewer.state.remoteScreenSize(), QSizeF(1280, 800));
    const QRectF whole(0, 0, 1280, 800);
    viewer.mouse(QEvent::MouseMove, *centre, whole);
    viewer.mouse(QEvent::MouseButtonPress, *centre, whole, Qt::LeftButton, Qt::LeftButton);
    viewer.mouse(QEvent::MouseButtonRelease, *centre, whole, Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] {
        return desktop.wevLog().find("button: 272 (left), state: 1 (pressed)") != std::string::npos;
    })) << desktop.wevLog();

    // The compositor goes away mid-share: the Host stops sharing and says
    // why, instead of showing the Viewer a frozen picture.
    desktop.killMutter();
    ASSERT_TRUE(host.process().waitForFinished(20'000)) << "the Host kept sharing nothing";
    EXPECT_EQ(host.process().exitCode(), 1);
    EXPECT_TRUE(host.process().readAllStandardError().contains("de schermopname is weggevallen"));
    viewer.commands.post(Command::stopViewing);
    waitUntil([&] { return !viewer.state.isViewing(); }, 5s);

    // Without the compositor there is nothing to share through, and a Host
    // started then says so.
    const VelmarinRun refused = runVelmarin(host.environment(), {"host"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains("geen dienst voor schermdelen")) << refused.err.toStdString();
}

// The other direction must not exist: a Host (here one written only from the
// protocol, as a hostile one would be) sends input to a real `velmarin view`
// whose process has an X display of its own. That desktop stays untouched.
TEST(RemoteControlEndToEnd, AHostCannotDriveTheViewersDesktop) {
    XvfbProcess viewerDisplay(1024, 768);
    XTestClient viewerDesktop(viewerDisplay.display());
    RelayProcess relay;
    RelayTestClient host(relay.port(), relay.caFile());
    ASSERT_TRUE(host.send(
        protocol::RegisterMessage{.passwordHash = protocol::CryptoHelper::sha256hex("k7m2pq")}));
    const auto registered = host.receiveAs<protocol::RegisteredMessage>();
    ASSERT_TRUE(registered);

    QProcess viewer;
    viewer.setProcessEnvironment(velmarinEnvironment(viewerDisplay.display(), relay));
    viewer.start(VELMARIN_BINARY,
                 {"view", QString::fromStdString(registered->id), "k7m2pq", "--seconds", "20"});
    ASSERT_EQ(host.receiveType(15s), "viewer_connected");
    const auto before = viewerDesktop.pointer();

    using protocol::KeyEventMessage;
    using protocol::MouseEventMessage;
    host.send(MouseEventMessage{.action = "move", .x = 0.3125, .y = 1.0});
    host.send(MouseEventMessage{.action = "down", .x = 0.3125, .y = 1.0});
    host.send(MouseEventMessage{.action = "up", .x = 0.3125, .y = 1.0});
    host.send(KeyEventMessage{.action = "down", .keyCode = 57}); // Caps Lock
    host.send(KeyEventMessage{.action = "up", .keyCode = 57});
    host.send(KeyEventMessage{.action = "down", .keyCode = 0, .flags = 0x40000}); // Ctrl+A
    host.send(protocol::SpecialKeysMessage{.combo = "ctrl_alt_del"});
    // The Viewer handles messages in order: its pong says it has seen all.
    host.send(protocol::PingMessage{.timestamp = 42});
    std::optional<std::string> type;
    while ((type = host.receiveType(10s)) && *type != "pong") {
    }
    ASSERT_EQ(type, "pong");
    viewerDesktop.settle();

    const auto after = viewerDesktop.pointer();
    EXPECT_EQ(after.x, before.x);
    EXPECT_EQ(after.y, before.y);
    EXPECT_EQ(after.mask & XCB_MOD_MASK_LOCK, 0) << "Caps Lock turned on";
    EXPECT_TRUE(viewerDesktop.pressedKeys().empty());
    viewer.terminate();
    viewer.waitForFinished(10000);
}
