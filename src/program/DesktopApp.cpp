#include "program/DesktopApp.h"

#include "app/AppCoordinator.h"
#include "app/QtLogSink.h"
#include "capture/CaptureAccess.h"
#include "input/XTestInputSink.h"
#include "program/AppDelegate.h"
#include "program/BuildId.h"
#include "program/ProductComponents.h"
#include "program/UserDevices.h"
#include "app/PresenceManager.h"
#include "ui/common/Appearance.h"
#include "ui/devices/DevicesView.h"
#include "ui/permissions/PermissionManager.h"
#include "ui/viewer/ConnectView.h"
#include "ui/viewer/DisplayViewFactory.h"
#include "ui/viewer/RemoteDisplayBridge.h"
#include "ui/viewer/ViewerScreen.h"
#include "ui/window/MainWindow.h"
#include "ui/window/SharingIndicator.h"

#include <QApplication>
#include <QDesktopServices>
#include <QTimer>
#include <QUrl>

namespace velmarin {

namespace {

// The settings' relay, unless the environment names one (tests, scripts).
void useStoredRelay(const AppSettings& settings) {
    if (!qEnvironmentVariableIsSet("VELMARIN_RELAY_HOST") && !settings.relayHost().isEmpty())
        qputenv("VELMARIN_RELAY_HOST", settings.relayHost().toUtf8());
    if (!qEnvironmentVariableIsSet("VELMARIN_RELAY_CA") && !settings.relayCAFile().isEmpty())
        qputenv("VELMARIN_RELAY_CA", settings.relayCAFile().toUtf8());
}

// On X11: the screen can be grabbed, and XTEST takes input. A Wayland
// session without an X display cannot share at all yet.
ui::PermissionManager::Probes desktopProbes() {
    ui::PermissionManager::Probes probes;
    probes.screenRecording = [] { return capture::checkCaptureAccess().hasValue(); };
    probes.accessibility = [] { return input::XTestInputSink::open().hasValue(); };
    probes.unsupported = []() -> std::optional<QString> {
        if (qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
            (qEnvironmentVariableIsEmpty("DISPLAY") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")))
            return QStringLiteral(
                "Dit scherm delen kan nog niet in een Wayland-sessie. Kies bij het aanmelden "
                "een X11-sessie (bijvoorbeeld \"GNOME op Xorg\") om dit apparaat te delen. "
                "Verbinden met een ander apparaat werkt wel.");
        return std::nullopt;
    };
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

int runDesktop(int& argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tessamund"));
    QApplication::setApplicationName(QStringLiteral("Velmarin"));
    QApplication::setApplicationVersion(QStringLiteral(VELMARIN_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("velmarin"));
    routeLogsToQt();
    if (const auto scheme = ui::preferredColorScheme())
        ui::applyColorScheme(app, *scheme);

    AppSettings settings;
    useStoredRelay(settings);
    const QSettings store(settings.fileName(), QSettings::IniFormat);
    AppDelegate delegate;
    delegate.finishLaunching(QApplication::arguments(), store);

    ConnectionState state;
    CommandBus commands;
    UserDevices userDevices;
    ui::PermissionManager permissions(desktopProbes());
    // Outlives the coordinator and the window: both hold on to it.
    ui::RemoteDisplayBridge displayBridge;
    AppCoordinator coordinator(commands, productComponents(ProductMode::desktop, displayBridge));
    // Outlives the window, whose devices tab polls through it.
    PresenceManager presence;
    ui::MainWindow window(state, settings, permissions, commands,
                          ui::BuildInfo{QStringLiteral(VELMARIN_VERSION), buildId()});
    ui::SharingIndicator indicator(state, commands);
    window.setDevicesScreen(
        new ui::DevicesView(state, commands, userDevices.book, presence, userDevices.secrets));
    window.setConnectScreen(
        new ui::ConnectView(state, commands, userDevices.recents, userDevices.secrets));

    QObject::connect(&window, &ui::MainWindow::firstAppeared, &coordinator,
                     [&] { coordinator.setup(state, settings, &userDevices.recents); });
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
        if (shouldTerminateAfterLastWindowClosed(true, store))
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
