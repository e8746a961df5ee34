#include "app/ProductComponents.h"

#include "capture/HostScreenCapture.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace velmarin {

SessionComponents productComponents(ProductMode mode) {
    SessionComponents components;
    components.makeCapture = [] { return std::make_unique<capture::HostScreenCapture>(); };
    // Input, clipboard, file transfer, the overlay, the display and the
    // recorder are not built yet: a Viewer counts decoded pictures only.
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
