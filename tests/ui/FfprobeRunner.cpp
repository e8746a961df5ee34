#include "FfprobeRunner.h"

#include <QHash>
#include <QProcess>
#include <QStringList>

namespace velmarin::ui::fixtures {

namespace {

QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return {};
    return process.readAllStandardOutput();
}

} // namespace

std::optional<MovieFacts> probeMovie(const QString& path) {
    const QByteArray out =
        run(QStringLiteral("ffprobe"),
            {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
             "stream=width,height,nb_read_frames:format=duration", "-of",
             "default=noprint_wrappers=1", path});
    if (out.isEmpty())
        return std::nullopt;
    QHash<QString, QString> values;
    for (const QString& line : QString::fromLatin1(out).split('\n'))
        values.insert(line.section('=', 0, 0), line.section('=', 1));
    return MovieFacts{QSize(values["width"].toInt(), values["height"].toInt()),
                      values["nb_read_frames"].toInt(), values["duration"].toDouble()};
}

QByteArray lumaOfFrame(const QString& path, int index) {
    return run(QStringLiteral("ffmpeg"),
               {"-v", "error", "-i", path, "-vf", QStringLiteral("select=eq(n\\,%1)").arg(index),
                "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "gray", "-"});
}

} // namespace velmarin::ui::fixtures
