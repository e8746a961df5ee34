#pragma once

// Runs the real ffprobe and ffmpeg on a recording.

#include <QByteArray>
#include <QSize>
#include <QString>

#include <optional>

namespace velmarin::ui::fixtures {

struct MovieFacts {
    QSize size;
    int frames = 0;        // decoded by ffprobe (-count_frames)
    double duration = 0.0; // seconds, of the container
};

// Nothing when ffprobe cannot read the file.
std::optional<MovieFacts> probeMovie(const QString& path);

// Luma plane (width × height bytes) of frame `index`, decoded by ffmpeg.
QByteArray lumaOfFrame(const QString& path, int index);

} // namespace velmarin::ui::fixtures
