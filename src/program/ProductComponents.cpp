#include "program/ProductComponents.h"

#include "capture/HostScreenCapture.h"
#include "collab/FileTransferManager.h"
#include "collab/QtClipboard.h"
#include "program/ProductInput.h"
#include "ui/host/AnnotationOverlayWindow.h"
#include "ui/viewer/RecordingManager.h"
#include "ui/viewer/RemoteDisplayBridge.h"
#include "ui/viewer/VideoRenderer.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>

namespace velmarin {

SessionComponents productComponents(ProductMode mode, ui::RemoteDisplayBridge& displayBridge) {
    SessionComponents components;
    // The capture says where the shared monitor lies; input lands there.
    auto capturedArea = std::make_shared<capture::CapturedArea>();
    components.makeCapture = [capturedArea] {
        capture::ScreenCaptureManager::Options options;
        options.capturedArea = capturedArea;
        return std::make_unique<capture::HostScreenCapture>(std::move(options));
    };
    components.makeHostInput = [capturedArea] { return input::makeHostInput(capturedArea); };
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
    if (mode == ProductMode::desktop) // a window needs the desktop application
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
