// The Viewer's recording as users make it: `velmarin host` sharing a private
// X server, the real relay, and `velmarin view … --record FILE`; the file is
// checked with ffprobe and ffmpeg.

#include "FfprobeRunner.h"
#include "support/capture/X11Painter.h"
#include "support/host/HostProcess.h"
#include "support/relay/RelayProcess.h"
#include "support/x11/XvfbProcess.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <thread>

using namespace velmarin::testing;
using namespace velmarin::ui::fixtures;
using namespace std::chrono_literals;

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
    HostProcess host(x.display(), relay, dir.filePath("config"));
    const auto [id, password] = host.readCredentials();
    ASSERT_FALSE(password.isEmpty()) << host.transcript().toStdString();

    const QString file = dir.filePath("sessie.mp4");
    VelmarinRun view;
    {
        // Something moving on the boundary, away from the points read below,
        // so the Host keeps sending.
        const ScreenAnimation animation(x.display(), [](X11Painter& painter, int i) {
            const int left = 300 + (i * 8) % 600;
            painter.fill(left, 380, 40, 40, 0x00ff00);
            std::this_thread::sleep_for(30ms);
            painter.fill(left, 380, 40, 20, 0xff0000);
            painter.fill(left, 400, 40, 20, 0x0000ff);
        });
        view = runVelmarin(host.environment(),
                           {"view", id, password, "--seconds", "4", "--record", file});
    }
    const QString& out = view.out;
    EXPECT_EQ(view.exitCode, 0) << view.err.toStdString();
    EXPECT_TRUE(out.contains("Opname gestart: " + file)) << out.toStdString();
    EXPECT_TRUE(out.contains("Opname beëindigd: " + file)) << out.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("sessie-onvoltooid.mp4")));

    const auto facts = probeMovie(file);
    ASSERT_TRUE(facts) << out.toStdString();
    EXPECT_EQ(facts->size, QSize(1280, 800));
    // About three seconds of a moving screen, every picture decodable.
    EXPECT_GE(facts->frames, 20) << out.toStdString();
    EXPECT_GT(facts->duration, 1.5);
    EXPECT_LT(facts->duration, 5.0);

    const QByteArray luma = lumaOfFrame(file, 0);
    ASSERT_EQ(luma.size(), 1280 * 800);
    const auto at = [&](int x, int y) { return static_cast<unsigned char>(luma[y * 1280 + x]); };
    // Red and blue have distinct luma (about 76 and 29).
    EXPECT_NEAR(at(100, 100), 76, 15);
    EXPECT_NEAR(at(640, 200), 76, 15);
    EXPECT_NEAR(at(100, 700), 29, 15);
    EXPECT_NEAR(at(640, 600), 29, 15);

    host.process().waitForFinished(15'000);
}

TEST(RecordingEndToEnd, ARecordingIntoAMissingFolderIsRefusedBeforeConnecting) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    QTemporaryDir dir;
    const auto environment = QProcessEnvironment::systemEnvironment();
    const auto missing = runVelmarin(environment, {"view", "123-456-789", "geheim", "--record",
                                                   dir.filePath("bestaat-niet/sessie.mp4")});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.err.startsWith("De map voor de opname bestaat niet: " +
                                       dir.filePath("bestaat-niet")));
    const auto bare = runVelmarin(environment, {"view", "123-456-789", "geheim", "--record"});
    EXPECT_EQ(bare.exitCode, 2);
    EXPECT_TRUE(bare.err.startsWith("--record verwacht een bestandsnaam."));
}
