// The Viewer's recording as users make it: `velmarin host` sharing a private
// X server, the real relay, and `velmarin view … --record FILE`; the file is
// checked with ffprobe and ffmpeg.

#include "FfprobeRunner.h"
#include "capture/X11Painter.h"
#include "support/RelayProcess.h"
#include "support/XvfbProcess.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velmarin::testing;
using namespace velmarin::ui::fixtures;
using namespace std::chrono_literals;

namespace {

QProcessEnvironment environmentFor(const XvfbProcess& x, const RelayProcess& relay,
                                   const QString& home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromStdString(x.display()));
    environment.insert("VELMARIN_RELAY_HOST", QString::fromStdString(relay.hostPort()));
    environment.insert("VELMARIN_RELAY_CA", QString::fromStdString(relay.caFile()));
    environment.insert("XDG_CONFIG_HOME", home);
    return environment;
}

QString readUntil(QProcess& process, const QString& prefix, QString& transcript) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        while (process.canReadLine()) {
            const QString line = QString::fromUtf8(process.readLine()).trimmed();
            transcript += line + '\n';
            if (line.startsWith(prefix))
                return line.mid(prefix.size());
        }
        if (process.state() == QProcess::NotRunning)
            break;
        process.waitForReadyRead(200);
    }
    return {};
}

} // namespace

TEST(RecordingEndToEnd, TheRecordingShowsTheHostsScreen) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    XvfbProcess x(1280, 800);
    {
        // Red above, blue below: shows the content and its orientation.
        X11Painter painter(x.display());
        painter.fill(0, 0, 1280, 400, 0xff0000);
        painter.fill(0, 400, 1280, 400, 0x0000ff);
        painter.movePointer(1270, 790);
    }
    RelayProcess relay;
    QTemporaryDir dir;
    const auto environment = environmentFor(x, relay, dir.filePath("config"));

    QProcess host;
    host.setProcessEnvironment(environment);
    host.start(VELMARIN_BINARY, {"host"});
    QString hostOutput;
    const QString id = readUntil(host, "ID: ", hostOutput);
    const QString password = readUntil(host, "Wachtwoord: ", hostOutput);
    ASSERT_FALSE(password.isEmpty()) << hostOutput.toStdString();

    const QString file = dir.filePath("sessie.mp4");
    QProcess view;
    view.setProcessEnvironment(environment);
    view.start(VELMARIN_BINARY, {"view", id, password, "--seconds", "4", "--record", file});
    ASSERT_TRUE(view.waitForFinished(40'000));
    const QString out = QString::fromUtf8(view.readAllStandardOutput());
    EXPECT_EQ(view.exitCode(), 0) << view.readAllStandardError().toStdString();
    EXPECT_TRUE(out.contains("Opname beëindigd: " + file)) << out.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("sessie-onvoltooid.mp4")));

    const auto facts = probeMovie(file);
    ASSERT_TRUE(facts) << out.toStdString();
    EXPECT_EQ(facts->width, 1280);
    EXPECT_EQ(facts->height, 800);
    // The static screen gives the greeting's key frame and few others; the
    // stream must be there and decodable from start to end.
    EXPECT_GE(facts->frames, 1);

    const QByteArray luma = lumaOfFrame(file, 0);
    ASSERT_EQ(luma.size(), 1280 * 800);
    const auto at = [&](int px, int py) {
        return static_cast<unsigned char>(luma[py * 1280 + px]);
    };
    // Red and blue have distinct luma (about 76 and 29).
    EXPECT_NEAR(at(100, 100), 76, 15);
    EXPECT_NEAR(at(640, 200), 76, 15);
    EXPECT_NEAR(at(100, 700), 29, 15);
    EXPECT_NEAR(at(640, 600), 29, 15);

    host.waitForFinished(15'000);
}
