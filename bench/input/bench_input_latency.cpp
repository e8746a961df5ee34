// Input latency: from a mouse event handed to the Viewer's display bridge to
// the button event arriving at a window on the Host's X server, through the
// real relay over TLS on loopback and a `velmarin host` process injecting
// with XTEST. Prints p50, p99 and the maximum over alternating presses and
// releases (never throttled).
//
//     build/bench/input/bench_input_latency [iterations]
//
// GAP=ms sets the pause between events (default 5).

#include "Percentile.h"
#include "support/x11/XTestClient.h"
#include "app/AppCoordinator.h"
#include "program/ProductInput.h"
#include "support/host/HostProcess.h"
#include "support/relay/RelayProcess.h"
#include "support/x11/XvfbProcess.h"
#include "ui/viewer/RemoteDisplayBridge.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

using namespace velmarin;
using namespace velmarin::testing;
using Clock = std::chrono::steady_clock;

namespace {

using velmarin::bench::percentile;

bool pumpUntil(const std::function<bool()>& done, std::chrono::seconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::max(10, std::atoi(argv[1])) : 400;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);

    XvfbProcess hostDisplay(1280, 800);
    XTestClient hostClient(hostDisplay.display());
    hostClient.openWindow(0, 0, 1280, 800);
    RelayProcess relay;
    ::setenv("VELMARIN_RELAY_HOST", relay.hostPort().c_str(), 1);
    ::setenv("VELMARIN_RELAY_CA", relay.caFile().c_str(), 1);
    QTemporaryDir dir;

    HostProcess host(hostDisplay.display(), relay, dir.filePath("host-config"));
    const auto credentials = host.readCredentials();
    const QString id = QString(credentials.id).remove(QLatin1Char('-'));
    const QString& password = credentials.password;
    if (password.isEmpty()) {
        std::fprintf(stderr, "the Host did not start\n");
        return 1;
    }

    ConnectionState state;
    CommandBus commands;
    AppSettings settings(dir.filePath("viewer.conf"), nullptr);
    ui::RemoteDisplayBridge bridge;
    SessionComponents components;
    components.makeViewerInput = [&bridge](transport::WebSocketManager& webSocket,
                                           std::function<QSizeF()> hostScreenSize) {
        return input::makeViewerInput(webSocket, std::move(hostScreenSize), bridge);
    };
    AppCoordinator viewer(commands, std::move(components));
    viewer.setup(state, settings, nullptr);
    state.setMode(Mode::viewer);
    state.setRemoteID(id);
    state.setRemotePassword(password);
    commands.post(Command::startViewing);
    if (!pumpUntil([&] { return state.remoteScreenSize() == QSizeF(1280, 800); },
                   std::chrono::seconds(20))) {
        std::fprintf(stderr, "the Viewer did not connect\n");
        return 1;
    }

    const QRectF view(0, 0, 1280, 800);
    std::vector<double> latencies;
    for (int i = 0; i < iterations + 10; ++i) {
        const bool press = i % 2 == 0;
        const QPointF at(100 + (i % 50) * 20, 400);
        const QMouseEvent event(press ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease, at,
                                at, Qt::LeftButton, press ? Qt::LeftButton : Qt::NoButton,
                                Qt::NoModifier);
        hostClient.clearEvents();
        const auto start = Clock::now();
        bridge.onMouseEvent(event, view);
        if (hostClient.waitForEvents(1, std::chrono::seconds(5)).empty()) {
            std::fprintf(stderr, "event %d did not arrive\n", i);
            return 1;
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (i >= 10) // the first few warm up the connections
            latencies.push_back(ms);
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::getenv("GAP") ? std::atoi(std::getenv("GAP")) : 5));
    }

    std::printf("input latency Viewer event -> Host X event over %zu events: p50 %.2f ms, "
                "p99 %.2f ms, max %.2f ms\n",
                latencies.size(), percentile(latencies, 0.5), percentile(latencies, 0.99),
                *std::max_element(latencies.begin(), latencies.end()));
    commands.post(Command::stopViewing);
    pumpUntil([] { return false; }, std::chrono::seconds(1));
    return 0;
}
