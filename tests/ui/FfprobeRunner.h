#pragma once

// Runs the real ffprobe and ffmpeg on a recording.

#include <QByteArray>
#include <QString>

#include <optional>

namespace velmarin::ui::fixtures {

struct MovieFacts {
    int width = 0;
    int height = 0;
    int frames = 0;        // decoded by ffprobe (-count_frames)
    double duration = 0.0; // seconds, of the container
};

// Nothing when ffprobe cannot read the file.
std::optional<MovieFacts> probeMovie(const QString& path);

// Luma plane (width × height bytes) of frame `index`, decoded by ffmpeg.
QByteArray lumaOfFrame(const QString& path, int index);

} // namespace velmarin::ui::fixtures
