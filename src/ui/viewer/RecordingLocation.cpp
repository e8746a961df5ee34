#include "ui/viewer/RecordingLocation.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace velmarin::ui {

QString recordingFolder() {
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (!videos.isEmpty() && QDir().mkpath(videos))
        return videos;
    // Like the desktop's own screen recorder: the home folder. A shared
    // temporary folder would show the recording's predictable name to every
    // user, who could take that name first.
    return QDir::homePath();
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

// A link counts, also one that leads nowhere: creating the file would
// follow it.
bool taken(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

QString freePath(const QString& path) {
    if (!taken(path) && !taken(unfinishedPath(path)))
        return path;
    for (int n = 2;; ++n) {
        const QString candidate = withSuffix(path, QStringLiteral("-%1").arg(n));
        if (!taken(candidate) && !taken(unfinishedPath(candidate)))
            return candidate;
    }
}

QString unfinishedPath(const QString& finalPath) {
    return withSuffix(finalPath, QStringLiteral("-onvoltooid"));
}

} // namespace velmarin::ui
