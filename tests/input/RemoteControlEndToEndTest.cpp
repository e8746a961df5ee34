// Remote control as users get it: `velmarin host` sharing a private X server
// through the real relay, and a Viewer coordinator whose display bridge is
// fed the events a display view delivers. What the Host's X server did is
// read back from it.

#include "app/AppCoordinator.h"
#include "program/ProductInput.h"
#include "protocol/CryptoHelper.h"
#include "support/WaitUntil.h"
#include "support/host/HostProcess.h"
#include "support/relay/RelayProcess.h"
#include "support/relay/RelayTestClient.h"
#include "support/x11/XTestClient.h"
#include "support/x11/XvfbProcess.h"
#include "ui/viewer/RemoteDisplayBridge.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>

using namespace velmarin;
using namespace velmarin::testing;
using namespace std::chrono_literals;

TEST(RemoteControlEndToEnd, ViewerInputMovesClicksAndTypesOnTheMonitorItWatches) {
    // A `velmarin host` on two 1280 x 800 monitors side by side (the left one
    // primary, a window over it) and a Viewer coordinator connected to it.
    XvfbProcess hostDisplay{2560, 800};
    XTestClient hostClient{hostDisplay.display()};
    hostClient.setMonitor("LEFT", 0, 0, 1280, 800);
    hostClient.setMonitor("RIGHT", 1280, 0, 1280, 800);
    hostClient.openWindow(0, 0, 1280, 800);
    RelayProcess relay;
    // The Viewer coordinator in this process reaches the relay too.
    ::setenv("VELMARIN_RELAY_HOST", relay.hostPort().c_str(), 1);
    ::setenv("VELMARIN_RELAY_CA", relay.caFile().c_str(), 1);
    QTemporaryDir dir;
    ui::RemoteDisplayBridge bridge;
    ConnectionState state;
    CommandBus commands;
    AppSettings settings{dir.filePath("viewer.conf"), nullptr};
    SessionComponents components;
    components.makeViewerInput = [&bridge](transport::WebSocketManager& webSocket,
                                           std::function<QSizeF()> hostScreenSize) {
        return input::makeViewerInput(webSocket, std::move(hostScreenSize), bridge);
    };
    AppCoordinator viewer(commands, std::move(components));
    viewer.setup(state, settings, nullptr);
    // The last made: the Host ends before the Viewer coordinator goes.
    HostProcess host(hostDisplay.display(), relay, dir.filePath("host-config"));
    auto [id, password] = host.readCredentials();
    ASSERT_FALSE(password.isEmpty()) << host.transcript().toStdString();
    state.setMode(Mode::viewer);
    state.setRemoteID(id.remove(QLatin1Char('-')));
    state.setRemotePassword(password);
    commands.post(Command::startViewing);
    ASSERT_TRUE(waitUntil([&] { return state.remoteScreenSize().width() > 0; }) &&
                bridge.onMouseEvent)
        << host.transcript().toStdString();
    EXPECT_EQ(state.remoteScreenSize(), QSizeF(1280, 800));

    // A 640 x 500 view: the 1280 x 800 picture has bars of 50 above and below.
    const auto mouse = [&](QEvent::Type type, QPointF at, Qt::MouseButton button = Qt::NoButton,
                           Qt::MouseButtons buttons = Qt::NoButton) {
        const QMouseEvent event(type, at, at, button, buttons, Qt::NoModifier);
        bridge.onMouseEvent(event, QRectF(0, 0, 640, 500));
    };
    mouse(QEvent::MouseMove, {160, 350});
    EXPECT_TRUE(waitUntil([&] {
        const auto pointer = hostClient.pointer();
        return pointer.x == 320 && pointer.y == 600;
    })) << hostClient.pointer().x
        << "," << hostClient.pointer().y;

    mouse(QEvent::MouseButtonPress, {480, 150}, Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, {480, 150}, Qt::LeftButton);
    const auto& clicks = hostClient.waitForEvents(2, 10s);
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_EQ(clicks[0].kind, ReceivedEvent::Kind::buttonPress);
    EXPECT_EQ(clicks[0].detail, 1);
    EXPECT_EQ(clicks[0].x, 960);
    EXPECT_EQ(clicks[0].y, 200);

    // Shift pressed on the Viewer's keyboard is held on the Host for now
    // (what keys and flags become there is the capture and injection tests').
    const QKeyEvent shift(QEvent::KeyPress, 0, Qt::ShiftModifier, 50, 0, 0);
    bridge.onKeyEvent(shift);
    ASSERT_TRUE(waitUntil([&] { return hostClient.pressedKeys() == std::vector<int>{50}; }));

    // Once the Host captures the right monitor, the view's centre lands in
    // its middle.
    ASSERT_TRUE(waitUntil([&] { return state.availableMonitors().size() >= 2; }));
    std::optional<protocol::MonitorInfo> right;
    for (const auto& monitor : state.availableMonitors())
        if (monitor.x == 1280 && monitor.width == 1280)
            right = monitor;
    ASSERT_TRUE(right);
    commands.post(Command::selectMonitor,
                  {{QStringLiteral("monitorId"), QVariant::fromValue(right->id)}});
    EXPECT_TRUE(waitUntil([&] {
        mouse(QEvent::MouseMove, {320, 250});
        QCoreApplication::processEvents(QEventLoop::AllEvents, 30);
        const auto pointer = hostClient.pointer();
        return pointer.x == 1920 && pointer.y == 400;
    })) << hostClient.pointer().x;

    // The Viewer leaves: the Host lets go of the Shift it still held.
    commands.post(Command::stopViewing);
    EXPECT_TRUE(waitUntil([&] { return hostClient.pressedKeys().empty(); }))
        << "held: " << ::testing::PrintToString(hostClient.pressedKeys()) << "\n"
        << (host.transcript() + host.process().readAll() + host.process().readAllStandardError())
               .toStdString();
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
