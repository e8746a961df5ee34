// Sharing a GNOME Wayland desktop as users run it: `velmarin host` in a
// private headless mutter session (no X display), the real relay, a
// `velmarin view` reporting what arrives, and a Viewer coordinator whose
// clicks wev, the client on the Host's screen, receives.

#include "app/AppCoordinator.h"
#include "capture/wayland/WaylandScreenSource.h"
#include "program/ProductInput.h"
#include "support/WaitUntil.h"
#include "support/host/HostProcess.h"
#include "support/relay/RelayProcess.h"
#include "support/wayland/HeadlessWayland.h"
#include "ui/viewer/RemoteDisplayBridge.h"
#include "wayland/MutterRemoteDesktop.h"

#include <QMouseEvent>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

using namespace velmarin;
using namespace velmarin::testing;
using namespace std::chrono_literals;

namespace {

constexpr int screenWidth = 1280;
constexpr int screenHeight = 800;

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

TEST(WaylandHostEndToEnd, ViewerSeesTheMonitorAndItsClicksReachTheClient) {
    HeadlessWayland desktop(screenWidth, screenHeight);
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
    EXPECT_TRUE(view.out.contains(QRegularExpression(
        QStringLiteral("Monitoren: [0-9]+: Scherm 1 1280x800 \\(primair\\)\n"))))
        << view.out.toStdString();
    double frames = 0;
    const QRegularExpression report(QStringLiteral("^Video: ([0-9.]+) beelden/s"),
                                    QRegularExpression::MultilineOption);
    for (auto it = report.globalMatch(view.out); it.hasNext();)
        frames += it.next().captured(1).toDouble();
    EXPECT_GT(frames, 0.0) << view.out.toStdString();

    // A Viewer in this process clicks where the picture shows wev.
    ::setenv("VELMARIN_RELAY_HOST", relay.hostPort().c_str(), 1);
    ::setenv("VELMARIN_RELAY_CA", relay.caFile().c_str(), 1);
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
    state.setMode(Mode::viewer);
    state.setRemoteID(id.remove(QLatin1Char('-')));
    state.setRemotePassword(QStringLiteral("k7m2pq"));
    commands.post(Command::startViewing);
    ASSERT_TRUE(waitUntil([&] { return state.remoteScreenSize().width() > 0; }) &&
                bridge.onMouseEvent)
        << host.transcript().toStdString();
    EXPECT_EQ(state.remoteScreenSize(), QSizeF(screenWidth, screenHeight));

    const QRectF viewRect(0, 0, screenWidth, screenHeight);
    const QPointF at(*centre);
    for (const auto& [type, button] : {std::pair{QEvent::MouseMove, Qt::NoButton},
                                       {QEvent::MouseButtonPress, Qt::LeftButton},
                                       {QEvent::MouseButtonRelease, Qt::LeftButton}}) {
        const QMouseEvent event(type, at, at, button,
                                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                Qt::NoModifier);
        bridge.onMouseEvent(event, viewRect);
    }
    EXPECT_TRUE(waitUntil([&] {
        return desktop.wevLog().find("button: 272 (left), state: 1 (pressed)") != std::string::npos;
    })) << desktop.wevLog();

    // The compositor goes away mid-share: the Host stops sharing and says
    // why, instead of showing the Viewer a frozen picture.
    desktop.killMutter();
    ASSERT_TRUE(host.process().waitForFinished(20'000)) << "the Host kept sharing nothing";
    EXPECT_EQ(host.process().exitCode(), 1);
    EXPECT_TRUE(host.process().readAllStandardError().contains("de schermopname is weggevallen"));
    commands.post(Command::stopViewing);
    waitUntil([&] { return !state.isViewing(); }, 5s);

    // Without the compositor there is nothing to share through, and a Host
    // started then says so.
    QProcessEnvironment environment = host.environment();
    const VelmarinRun refused = runVelmarin(environment, {"host"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains("geen dienst voor schermdelen")) << refused.err.toStdString();
}
