#include "program/ProductComponents.h"

#include "app/AppSettings.h"
#include "capture/HostScreenCapture.h"
#include "capture/wayland/WaylandScreenSource.h"
#include "collab/FileTransferManager.h"
#include "collab/QtClipboard.h"
#include "interfaces/Log.h"
#include "program/ProductInput.h"
#include "ui/host/AnnotationOverlayWindow.h"
#include "ui/viewer/RecordingManager.h"
#include "ui/viewer/RemoteDisplayBridge.h"
#include "ui/viewer/VideoRenderer.h"
#include "wayland/RemoteDesktopProvider.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

#include <mutex>

namespace velmarin {

namespace {

// On a Wayland desktop a hosting session opens one remote-desktop session,
// which its capture and its input share. The coordinator makes the capture
// first and, once that started, the input: the input takes the session the
// latest capture opened. Neither keeps it here: it ends with both of them.
class WaylandHosting {
public:
    struct Slot {
        std::mutex mutex;
        std::weak_ptr<wayland::RemoteDesktopSession> session;
    };

    // For a new capture.
    std::shared_ptr<Slot> begin() {
        const std::lock_guard lock(m_mutex);
        m_current = std::make_shared<Slot>();
        return m_current;
    }

    // The capture's source: opens the session (capture's control thread).
    static capture::ScreenCaptureManager::SourceFactory sourceFactory(std::shared_ptr<Slot> slot) {
        return [slot]() -> Expected<std::unique_ptr<capture::ScreenSource>, capture::CaptureError> {
            const std::lock_guard lock(slot->mutex);
            auto session = slot->session.lock();
            if (!session) {
                auto opened = wayland::openRemoteDesktop(waylandRestoreTokens());
                if (!opened) {
                    qCWarning(Log::capture, "No Wayland remote-desktop session: %s",
                              opened.error().message.c_str());
                    return unexpected(
                        capture::CaptureError{capture::CaptureError::Kind::captureNotAvailable});
                }
                session = std::move(*opened);
                slot->session = session;
            }
            auto source = capture::WaylandScreenSource::open(std::move(session));
            if (!source)
                return unexpected(source.error());
            return std::unique_ptr<capture::ScreenSource>(std::move(*source));
        };
    }

    // The session of the latest capture, while it lives.
    std::shared_ptr<wayland::RemoteDesktopSession> current() {
        std::shared_ptr<Slot> slot;
        {
            const std::lock_guard lock(m_mutex);
            slot = m_current;
        }
        if (!slot)
            return nullptr;
        const std::lock_guard lock(slot->mutex);
        return slot->session.lock();
    }

private:
    std::mutex m_mutex;
    std::shared_ptr<Slot> m_current;
};

} // namespace

wayland::RestoreTokenStore waylandRestoreTokens() {
    const auto settings = [] {
        return std::make_unique<QSettings>(AppSettings::userFile(), QSettings::IniFormat);
    };
    return {[settings] {
                return settings()->value(QStringLiteral("waylandRestoreToken")).toString().toStdString();
            },
            [settings](const std::string& token) {
                settings()->setValue(QStringLiteral("waylandRestoreToken"),
                                     QString::fromStdString(token));
            }};
}

SessionComponents productComponents(ProductMode mode, ui::RemoteDisplayBridge& displayBridge) {
    SessionComponents components;
    // The capture says where the shared monitor lies; input lands there.
    auto capturedArea = std::make_shared<capture::CapturedArea>();
    // A Wayland desktop shares through its compositor; X11 through the
    // X server.
    const auto onWayland =
        wayland::isWaylandSession() ? std::make_shared<WaylandHosting>() : nullptr;
    components.makeCapture = [capturedArea, onWayland] {
        capture::ScreenCaptureManager::Options options;
        options.capturedArea = capturedArea;
        if (onWayland)
            options.makeSource = WaylandHosting::sourceFactory(onWayland->begin());
        return std::make_unique<capture::HostScreenCapture>(std::move(options));
    };
    components.makeHostInput = [capturedArea, onWayland] {
        return onWayland ? input::makeWaylandHostInput(onWayland->current(), capturedArea)
                         : input::makeHostInput(capturedArea);
    };
    components.makeViewerInput = [&displayBridge](transport::WebSocketManager& webSocket,
                                                  std::function<QSizeF()> hostScreenSize) {
        return input::makeViewerInput(webSocket, std::move(hostScreenSize), displayBridge);
    };
    // The clipboard needs a GUI application: the desktop, or a headless
    // session on a display.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        components.clipboard = std::make_unique<collab::QtClipboardSync>();
    // Received files go to the user's Downloads folder.
    collab::FileTransferManager::Options transfer{
        .downloads =
            QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation))
                .toStdString()};
    // The benchmark compares the window with one chunk per acknowledgement.
    if (const int window = qEnvironmentVariableIntValue("VELMARIN_FILE_WINDOW"); window > 0)
        transfer.window = std::min(window, 64);
    components.fileTransfer = std::make_unique<collab::FileTransferManager>(std::move(transfer));
    // A window needs the desktop application, and only an X11 window (also
    // on a Wayland desktop's Xwayland) can lie over the shared monitor,
    // above everything and never focused: elsewhere the Host shows none.
    const bool overlayPossible =
        mode == ProductMode::desktop && QGuiApplication::platformName() == QLatin1String("xcb");
    if (mode == ProductMode::desktop && !overlayPossible)
        qCInfo(Log::capture, "Annotations are not shown on this desktop (window system %s)",
               qPrintable(QGuiApplication::platformName()));
    if (overlayPossible)
        components.makeOverlay = [capturedArea] {
            return std::make_unique<ui::AnnotationOverlayWindow>([capturedArea] {
                const auto area = capturedArea->get();
                return area ? std::optional<QRect>(
                                  QRect(area->x, area->y, area->width, area->height))
                            : std::nullopt;
            });
        };
    components.display = std::make_unique<ui::VideoRenderer>(displayBridge);
    ui::RecordingManager::Options recording;
    // Only a desktop user has a file manager to look at the recording in.
    recording.revealInFileManager = mode == ProductMode::desktop;
    components.recorder = std::make_unique<ui::RecordingManager>(std::move(recording));
    if (mode == ProductMode::desktop)
        components.playViewerConnectedSound = playCompleteSound;
    return components;
}

std::optional<QString> waylandSharingUnavailable() {
    if (!wayland::isWaylandSession() || wayland::reachableRemoteDesktop())
        return std::nullopt;
    return QStringLiteral(
        "Dit scherm delen kan niet in deze Wayland-sessie: er is geen dienst voor schermdelen "
        "bereikbaar (GNOME's org.gnome.Mutter.RemoteDesktop en de desktop-portal "
        "(xdg-desktop-portal) draaien niet). Installeer xdg-desktop-portal voor deze desktop, of "
        "kies bij het aanmelden een X11-sessie (bijvoorbeeld \"GNOME op Xorg\") om dit apparaat "
        "te delen. Verbinden met een ander apparaat werkt wel.");
}

void playCompleteSound() {
    if (const QString player = QStandardPaths::findExecutable(QStringLiteral("canberra-gtk-play"));
        !player.isEmpty()) {
        QProcess::startDetached(player, {QStringLiteral("-i"), QStringLiteral("complete")});
        return;
    }
    const QString file = QStringLiteral("/usr/share/sounds/freedesktop/stereo/complete.oga");
    const QString player = QStandardPaths::findExecutable(QStringLiteral("paplay"));
    if (!player.isEmpty() && QFileInfo::exists(file))
        QProcess::startDetached(player, {file});
}

} // namespace velmarin
