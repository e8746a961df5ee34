#include "program/DesktopApp.h"

#include "app/AppCoordinator.h"
#include "app/PresenceManager.h"
#include "app/QtLogSink.h"
#include "capture/CaptureAccess.h"
#include "devices/DeviceConnect.h"
#include "interfaces/Log.h"
#include "input/XTestInputSink.h"
#include "program/AppDelegate.h"
#include "program/BuildId.h"
#include "program/HeadlessOptions.h"
#include "program/HeadlessRunner.h"
#include "program/ProductComponents.h"
#include "program/UserDevices.h"
#include "ui/common/Appearance.h"
#include "ui/devices/DevicesView.h"
#include "ui/permissions/PermissionManager.h"
#include "ui/viewer/ConnectView.h"
#include "ui/viewer/DisplayViewFactory.h"
#include "ui/viewer/RemoteDisplayBridge.h"
#include "ui/viewer/ViewerScreen.h"
#include "ui/window/MainWindow.h"
#include "ui/window/SharingIndicator.h"
#include "wayland/RemoteDesktopProvider.h"

#include <QApplication>
#include <QDesktopServices>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

namespace velmarin {

namespace {

// The settings' relay, unless the environment names one (tests, scripts).
void useStoredRelay(const QString& host, const QString& caFile) {
    if (!qEnvironmentVariableIsSet("VELMARIN_RELAY_HOST") && !host.isEmpty())
        qputenv("VELMARIN_RELAY_HOST", host.toUtf8());
    if (!qEnvironmentVariableIsSet("VELMARIN_RELAY_CA") && !caFile.isEmpty())
        qputenv("VELMARIN_RELAY_CA", caFile.toUtf8());
}

// Ends the event loop with `code` once it runs (the session may fail while
// the window first appears, before it does).
void exitSoon(int code) {
    QMetaObject::invokeMethod(
        qApp, [code] { QApplication::exit(code); }, Qt::QueuedConnection);
}

// A window opened on one session ends the process with it: 0 when it ends
// as the user or the Host wanted, 1 with the reason on stderr when it
// fails. An alert would wait for a click nobody makes in a script.
class ViewingRun {
public:
    ViewingRun(ConnectionState& state, CommandBus& commands, ui::MainWindow& window,
               const ViewOptions& options)
        : m_commands(commands) {
        QObject::connect(&state, &ConnectionState::statusChanged, &window,
                         [this](const Status& status) {
                             if (status.kind() == Status::Kind::error) {
                                 std::fprintf(stderr, "%s\n", qPrintable(status.displayText()));
                                 finish(1);
                             } else if (status.kind() == Status::Kind::disconnected) {
                                 if (m_started)
                                     exitSoon(m_exitCode);
                             } else {
                                 m_started = true;
                             }
                         });
        if (options.fullscreen) {
            QObject::connect(&window, &ui::MainWindow::viewerConnectedChanged, &window,
                             [&window](bool connected) {
                                 // After whatever the window itself does on connecting.
                                 if (connected)
                                     QTimer::singleShot(0, &window,
                                                        [&window] {
                                                            if (!window.isFullScreen())
                                                                window.toggleFullScreen();
                                                        });
                             });
        }
        if (options.seconds)
            QTimer::singleShot(std::chrono::seconds(*options.seconds), &window,
                               [this] { finish(0); });
    }

private:
    void finish(int code) {
        if (m_finishing)
            return;
        m_finishing = true;
        m_exitCode = code;
        if (!m_started) {
            exitSoon(code);
            return;
        }
        m_commands.post(Command::stopViewing);
        // The stop ends in "disconnected"; should it not, the run ends anyway.
        QTimer::singleShot(std::chrono::seconds(5), [code] { exitSoon(code); });
    }

    CommandBus& m_commands;
    bool m_started = false;
    bool m_finishing = false;
    int m_exitCode = 0;
};

// On X11: the screen can be grabbed, and XTEST takes input. On a Wayland
// desktop both go through the compositor's remote-desktop session: granted
// when it starts without asking (GNOME's own interface, or the portal with a
// kept restore token); "Toestaan" asks the portal. Without a service this
// desktop cannot share.
ui::PermissionManager::Probes desktopProbes() {
    ui::PermissionManager::Probes probes;
    if (wayland::isWaylandSession()) {
        const auto granted = [] { return wayland::remoteDesktopGranted(waylandRestoreTokens()); };
        probes.screenRecording = granted;
        probes.accessibility = granted;
        probes.unsupported = [] { return waylandSharingUnavailable(); };
        // The portal's dialog waits for the person: on a thread of its own,
        // one at a time. The permission poll sees the kept token.
        probes.request = [] {
            static std::atomic_bool asking = false;
            if (asking.exchange(true))
                return;
            std::thread([] {
                if (auto granted = wayland::requestRemoteDesktopGrant(waylandRestoreTokens());
                    !granted)
                    qCWarning(Log::permissions, "Screen sharing not granted: %s",
                              granted.error().message.c_str());
                asking = false;
            }).detach();
        };
    } else {
        probes.screenRecording = [] { return capture::checkCaptureAccess().hasValue(); };
        probes.accessibility = [] { return input::XTestInputSink::open().hasValue(); };
    }
    probes.openPage = [](const QString& page) { QDesktopServices::openUrl(QUrl(page)); };
    return probes;
}

ui::ViewerScreen* makeViewerScreen(ConnectionState& state, CommandBus& commands,
                                   AppCoordinator& coordinator, ui::RemoteDisplayBridge& bridge,
                                   ui::MainWindow& window) {
    ui::ViewerActions actions{
        .sendDraw = [&](const protocol::DrawMessage& message) { coordinator.sendDraw(message); },
        .sendDrawClear = [&] { coordinator.sendDrawClear(); },
        .sendSpotlight =
            [&](const protocol::SpotlightMessage& message) { coordinator.sendSpotlight(message); },
        .sendSpecialKeys = [&](const QString& combo) { coordinator.sendSpecialKeys(combo); },
        .setRecording = [&](bool on) { coordinator.setRecording(on); },
        .sendFile = [&](const QString& path) { return coordinator.sendFile(path); },
    };
    auto* screen = new ui::ViewerScreen(state, commands, std::move(actions),
                                        ui::makeRemoteDisplayView(bridge).release(),
                                        [&] { return coordinator.hostScreenSize(); });
    screen->toggleFullScreen = [&window] { window.toggleFullScreen(); };
    bridge.onFilesDropped = [screen](const QStringList& paths) { screen->dropFiles(paths); };
    return screen;
}

} // namespace

int runDesktop(int& argc, char** argv, const ViewOptions* viewing) {
    // On a Wayland desktop the window goes to its Xwayland where there is
    // one: only an X11 window can lie over the shared monitor, above the
    // rest and never focused, as the annotation overlay must. A platform the
    // user chose stands.
    if (wayland::isWaylandSession() && !qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tessamund"));
    QApplication::setApplicationName(QStringLiteral("Velmarin"));
    QApplication::setApplicationVersion(QStringLiteral(VELMARIN_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("velmarin"));
    routeLogsToQt();
    if (const auto scheme = ui::preferredColorScheme())
        ui::applyColorScheme(app, *scheme);

    // A run opened on one session keeps its settings to itself: it never
    // hosts by itself, never starts minimised, and stores nothing.
    QTemporaryDir runDir;
    const auto ownSettings =
        viewing ? std::make_unique<AppSettings>(runDir.filePath(QStringLiteral("velmarin.conf")),
                                                nullptr)
                : std::make_unique<AppSettings>();
    AppSettings& settings = *ownSettings;
    const QSettings store(viewing ? AppSettings::userFile() : settings.fileName(),
                          QSettings::IniFormat);
    useStoredRelay(store.value(QStringLiteral("relayHost")).toString(),
                   store.value(QStringLiteral("relayCAFile")).toString());
    AppDelegate delegate;
    if (!viewing)
        delegate.finishLaunching(QApplication::arguments(), store);

    ConnectionState state;
    CommandBus commands;
    // The user's devices and recent connections: the desktop's, and those
    // of a run that connects to a saved device.
    std::optional<UserDevices> userDevices;
    const devices::SavedDevice* device = nullptr;
    if (!viewing || viewing->device) {
        userDevices.emplace();
        if (viewing && !(device = savedDeviceToView(*viewing->device, *userDevices)))
            return 1;
    }
    ui::PermissionManager permissions(desktopProbes());
    // Outlives the coordinator and the window: both hold on to it.
    ui::RemoteDisplayBridge displayBridge;
    AppCoordinator coordinator(commands, productComponents(ProductMode::desktop, displayBridge));
    // Outlives the window, whose devices tab polls through it.
    PresenceManager presence;
    ui::MainWindow window(state, settings, permissions, commands,
                          ui::BuildInfo{QStringLiteral(VELMARIN_VERSION), buildId()});
    ui::SharingIndicator indicator(state, commands);
    if (!viewing) {
        window.setDevicesScreen(new ui::DevicesView(state, commands, userDevices->book, presence,
                                                    userDevices->secrets));
        window.setConnectScreen(
            new ui::ConnectView(state, commands, userDevices->recents, userDevices->secrets));
    }
    std::optional<ViewingRun> viewingRun;
    if (viewing) {
        window.selectTab(ui::MainWindow::Tab::connecting);
        viewingRun.emplace(state, commands, window, *viewing);
    }

    QObject::connect(&window, &ui::MainWindow::firstAppeared, &coordinator, [&] {
        coordinator.setup(state, settings, userDevices ? &userDevices->recents : nullptr);
        if (device) {
            devices::connectToDevice(*device, state, commands, userDevices->book,
                                     userDevices->secrets);
        } else if (viewing) {
            state.setRemoteID(viewing->id);
            state.setRemotePassword(viewing->password);
            commands.post(Command::startViewing);
        }
    });
    QObject::connect(&window, &ui::MainWindow::viewerConnectedChanged, &window,
                     [&](bool connected) { delegate.isViewerActive = connected; });
    // The Viewer's screen is made when the first viewing session starts, so
    // a Host never pays for an OpenGL context.
    QObject::connect(&state, &ConnectionState::isViewingChanged, &window, [&](bool viewing) {
        if (viewing && !displayBridge.displayView())
            window.setRemoteScreen(makeViewerScreen(state, commands, coordinator, displayBridge,
                                                    window));
    });
    window.shouldClose = [&] {
        if (delegate.windowShouldClose() == AppDelegate::CloseAction::close)
            return true;
        commands.post(Command::stopViewing);
        return false;
    };
    QObject::connect(&indicator, &ui::SharingIndicator::showWindowRequested, &window, [&] {
        window.showNormal();
        window.raise();
        window.activateWindow();
    });
    // An unattended Host keeps serving with its window closed (the tray
    // brings it back); anyone else quits with the window.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, [&] {
        if (viewing || shouldTerminateAfterLastWindowClosed(true, store))
            QApplication::quit();
    });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &coordinator,
                     [&] { coordinator.terminate(); });

    window.show();
    QTimer::singleShot(500, &window, [&] {
        window.setGeometry(initialWindowFrame(window.geometry(), window.availableArea()));
        if (delegate.launchedAsLoginItem)
            window.showMinimized();
    });
    return QApplication::exec();
}

} // namespace velmarin
