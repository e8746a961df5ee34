// Remote control as users get it: `velmarin host` sharing a private X server
// through the real relay, and a Viewer coordinator whose display bridge is
// fed the events a display view delivers. What the Host's X server did is
// read back from it.

#include "XTestClient.h"
#include "app/AppCoordinator.h"
#include "input/ProductInput.h"
#include "support/RelayProcess.h"
#include "support/XvfbProcess.h"
#include "ui/viewer/RemoteDisplayBridge.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using namespace velmarin;
using namespace velmarin::testing;
using namespace std::chrono_literals;

namespace {

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 15s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

QString readUntil(QProcess& process, const QString& prefix, QString& transcript) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        while (process.canReadLine()) {
            const QString line = QString::fromUtf8(process.readLine()).trimmed();
            transcript += line + '\n';
            if (line.startsWith(prefix))
                return line.mid(prefix.size());
        }
        if (process.state() == QProcess::NotRunning)
            break;
        process.waitForReadyRead(200);
    }
    return {};
}

} // namespace

TEST(RemoteControlEndToEnd, ViewerInputMovesClicksAndTypesOnTheHost) {
    XvfbProcess hostDisplay(1280, 800);
    XTestClient hostClient(hostDisplay.display());
    hostClient.openWindow(0, 0, 1280, 800);
    RelayProcess relay;
    ::setenv("VELMARIN_RELAY_HOST", relay.hostPort().c_str(), 1);
    ::setenv("VELMARIN_RELAY_CA", relay.caFile().c_str(), 1);
    QTemporaryDir dir;

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromStdString(hostDisplay.display()));
    environment.insert("XDG_CONFIG_HOME", dir.filePath("host-config"));
    QProcess host;
    host.setProcessEnvironment(environment);
    host.start(VELMARIN_BINARY, {"host"});
    QString transcript;
    const QString id = readUntil(host, "ID: ", transcript);
    const QString password = readUntil(host, "Wachtwoord: ", transcript);
    ASSERT_FALSE(password.isEmpty()) << transcript.toStdString();

    // The Viewer: the shipped input capture on the shared display bridge.
    ConnectionState state;
    CommandBus commands;
    AppSettings settings(dir.filePath("viewer.conf"), nullptr);
    SessionComponents components;
    components.makeViewerInput = input::makeViewerInput;
    AppCoordinator viewer(commands, std::move(components));
    viewer.setup(state, settings, nullptr);
    state.setMode(Mode::viewer);
    state.setRemoteID(QString(id).remove(QLatin1Char('-')));
    state.setRemotePassword(password);
    commands.post(Command::startViewing);
    ASSERT_TRUE(waitUntil([&] { return state.remoteScreenSize() == QSizeF(1280, 800); }))
        << transcript.toStdString();

    auto& bridge = ui::RemoteDisplayBridge::shared();
    ASSERT_TRUE(bridge.onMouseEvent);
    // A 640 x 500 view: the 1280 x 800 picture has bars of 50 above and below.
    const QRectF view(0, 0, 640, 500);
    const auto mouse = [&](QEvent::Type type, QPointF at, Qt::MouseButton button,
                           Qt::MouseButtons buttons) {
        const QMouseEvent event(type, at, at, button, buttons, Qt::NoModifier);
        bridge.onMouseEvent(event, view);
    };
    const auto key = [&](QEvent::Type type, int keycode, Qt::KeyboardModifiers modifiers,
                         quint32 nativeModifiers) {
        const QKeyEvent event(type, 0, modifiers, keycode, 0, nativeModifiers);
        bridge.onKeyEvent(event);
    };

    mouse(QEvent::MouseMove, {160, 350}, Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(waitUntil([&] {
        const auto pointer = hostClient.pointer();
        return pointer.x == 320 && pointer.y == 600;
    })) << hostClient.pointer().x
        << "," << hostClient.pointer().y;

    mouse(QEvent::MouseButtonPress, {480, 150}, Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, {480, 150}, Qt::LeftButton, Qt::NoButton);
    const auto& clicks = hostClient.waitForEvents(2, 10s);
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_EQ(clicks[0].kind, ReceivedEvent::Kind::buttonPress);
    EXPECT_EQ(clicks[0].detail, 1);
    EXPECT_EQ(clicks[0].x, 960);
    EXPECT_EQ(clicks[0].y, 200);
    hostClient.clearEvents();

    // Shift+A typed on the Viewer's keyboard; Shift is still held when the
    // Viewer leaves.
    key(QEvent::KeyPress, 50, Qt::ShiftModifier, 0);
    key(QEvent::KeyPress, 38, Qt::ShiftModifier, 0x1);
    key(QEvent::KeyRelease, 38, Qt::ShiftModifier, 0x1);
    const auto& typed = hostClient.waitForEvents(3, 10s);
    ASSERT_GE(typed.size(), 3u);
    EXPECT_EQ(typed[1].kind, ReceivedEvent::Kind::keyPress);
    EXPECT_EQ(typed[1].keysym, static_cast<std::uint32_t>('A'));
    ASSERT_FALSE(hostClient.pressedKeys().empty());

    commands.post(Command::stopViewing);
    EXPECT_TRUE(waitUntil([&] { return hostClient.pressedKeys().empty(); }));

    host.terminate();
    host.waitForFinished(15'000);
}
