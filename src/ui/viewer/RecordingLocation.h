#pragma once

// Where recordings go and what they are called.

#include <QDateTime>
#include <QString>

namespace velmarin::ui {

// The user's Videos folder (created when missing), else the home folder.
QString recordingFolder();

// "Velmarin-yyyy-MM-dd_HH-mm-ss.mp4" for that local time.
QString recordingFileName(const QDateTime& localTime);

// `path` when no file has that name yet, else the first free "NAME-2.mp4",
// "NAME-3.mp4", ...: an earlier recording is never overwritten.
QString freePath(const QString& path);

// The name a recording has while it is written (and keeps when it could not
// be finished): "NAME-onvoltooid.mp4" next to the final one.
QString unfinishedPath(const QString& finalPath);

} // namespace velmarin::ui
