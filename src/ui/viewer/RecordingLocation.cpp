#include "ui/viewer/RecordingLocation.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace velmarin::ui {

QString recordingFolder() {
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (!videos.isEmpty() && QDir().mkpath(videos))
        return videos;
    return QDir::tempPath();
}

QString recordingFileName(const QDateTime& localTime) {
    return QStringLiteral("Velmarin-") + localTime.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")) +
           QStringLiteral(".mp4");
}

namespace {

QString withSuffix(const QString& path, const QString& suffix) {
    const QFileInfo info(path);
    const QString extension = info.suffix().isEmpty() ? QString() : "." + info.suffix();
    return info.dir().filePath(info.completeBaseName() + suffix + extension);
}

} // namespace

QString freePath(const QString& path) {
    if (!QFileInfo::exists(path) && !QFileInfo::exists(unfinishedPath(path)))
        return path;
    for (int n = 2;; ++n) {
        const QString candidate = withSuffix(path, QStringLiteral("-%1").arg(n));
        if (!QFileInfo::exists(candidate) && !QFileInfo::exists(unfinishedPath(candidate)))
            return candidate;
    }
}

QString unfinishedPath(const QString& finalPath) {
    return withSuffix(finalPath, QStringLiteral("-onvoltooid"));
}

} // namespace velmarin::ui
