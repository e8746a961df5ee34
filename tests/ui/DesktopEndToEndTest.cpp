// The application as a user drives it, on private X servers through the
// real relay: a headless Host's screen recorded by `velmarin view --record`
// (the file checked with ffprobe and ffmpeg) and shown by
// `velmarin view --window` until that Host stops; then `velmarin` without
// arguments on that server, its "Start delen" button clicked with xdotool,
// the password taken from the clipboard through the copy button, a headless
// `velmarin view` connecting, and "Stop delen" ending that session.

#include "FfprobeRunner.h"
#include "support/WaitUntil.h"
#include "support/capture/X11Painter.h"
#include "support/host/DesktopProcess.h"
#include "support/relay/RelayProcess.h"
#include "support/x11/XvfbProcess.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

using namespace velmarin::testing;
using namespace velmarin::ui::fixtures;
using namespace std::chrono_literals;

namespace {

// The share of the pixels in `area` of `x`'s screen within 40 of `rgb` in
// each channel (the picture went through H.264); -1 when it cannot be read.
double shareIn(const XvfbProcess& x, const QRect& area, std::uint32_t rgb) {
    const QImage screen = screenImage(x, area);
    if (screen.isNull())
        return -1;
    int matching = 0;
    for (int y = 0; y < screen.height(); ++y)
        for (int x = 0; x < screen.width(); ++x) {
            const QRgb p = screen.pixel(x, y);
            matching += std::abs(qRed(p) - int(rgb >> 16 & 0xff)) <= 40 &&
                        std::abs(qGreen(p) - int(rgb >> 8 & 0xff)) <= 40 &&
                        std::abs(qBlue(p) - int(rgb & 0xff)) <= 40;
        }
    return double(matching) / (screen.width() * screen.height());
}

} // namespace

TEST(DesktopEndToEnd,
     AHostIsRecordedAndShownInAWindowUntilItStopsAndTheWindowSharesUntilStopDelen) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    XvfbProcess hostX(1280, 800);
    {
        // Red above, blue below: shows the content and its orientation.
        X11Painter painter(hostX.display());
        painter.fill(0, 0, 1280, 400, 0xff0000);
        painter.fill(0, 400, 1280, 400, 0x0000ff);
        painter.movePointer(1270, 790);
    }
    RelayProcess relay;
    QTemporaryDir dir;
    // A fixed password: the Host stays for the next Viewer.
    const QString password = QStringLiteral("k7m2pq");
    HostProcess host(hostX.display(), relay, dir.filePath("host"), {"--password", password});
    const QString id = host.readUntil(QStringLiteral("ID: "));
    ASSERT_FALSE(id.isEmpty()) << host.transcript().toStdString();

    const QString file = dir.filePath("sessie.mp4");
    VelmarinRun recording;
    {
        // Something moving on the boundary, away from the points read below,
        // so the Host keeps sending.
        const ScreenAnimation animation(hostX.display(), [](X11Painter& painter, int i) {
            const int left = 300 + (i * 8) % 600;
            painter.fill(left, 380, 40, 40, 0x00ff00);
            std::this_thread::sleep_for(30ms);
            painter.fill(left, 380, 40, 20, 0xff0000);
            painter.fill(left, 400, 40, 20, 0x0000ff);
        });
        recording = runVelmarin(host.environment(),
                                {"view", id, password, "--seconds", "4", "--record", file});
    }
    const std::string printed = recording.out.toStdString();
    EXPECT_EQ(recording.exitCode, 0) << recording.err.toStdString();
    EXPECT_TRUE(recording.out.contains("Opname gestart: " + file)) << printed;
    EXPECT_TRUE(recording.out.contains("Opname beëindigd: " + file)) << printed;
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("sessie-onvoltooid.mp4")));

    const auto facts = probeMovie(file);
    ASSERT_TRUE(facts) << printed;
    EXPECT_EQ(facts->size, QSize(1280, 800));
    // About three seconds of a moving screen, every picture decodable.
    EXPECT_GE(facts->frames, 20) << printed;
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

    XvfbProcess viewerX(1280, 800);
    {
        DesktopProcess wrong(viewerX, relay, dir.path(), false, {"view", id, "fout12", "--window"});
        ASSERT_TRUE(wrong.process().waitForFinished(20'000)) << "it stayed open on the error";
        EXPECT_EQ(wrong.process().exitCode(), 1);
        EXPECT_TRUE(wrong.process().readAll().contains("Fout: Onjuist wachtwoord."));
    }

    DesktopProcess viewer(viewerX, relay, dir.path(), false,
                          {"view", id, password, "--window", "--fullscreen"});
    // Full screen: the Host's picture fills the Viewer's screen, the right
    // way up (and one screen into the other at the same size leaves no
    // letterbox).
    double red = 0, blue = 0;
    EXPECT_TRUE(waitUntil(
        [&] {
            red = shareIn(viewerX, QRect(0, 0, 1280, 400), 0xff0000);
            blue = shareIn(viewerX, QRect(0, 400, 1280, 400), 0x0000ff);
            return red > 0.95 && blue > 0.95;
        },
        30s))
        << "share of red above: " << red << ", of blue below: " << blue << "\n"
        << viewer.transcript().toStdString();

    host.process().terminate();
    ASSERT_TRUE(viewer.process().waitForFinished(20'000)) << "the window outlived its session";
    EXPECT_EQ(viewer.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(viewer.process().exitCode(), 0) << viewer.process().readAll().toStdString();

    // The same application sharing from its window, on the screen the
    // Viewer's window left.
    DesktopProcess desktop(viewerX, relay, dir.filePath("desktop"));
    ASSERT_TRUE(desktop.waitForWindow()) << "no window; " << desktop.transcript().toStdString();

    ASSERT_TRUE(desktop.click(kShareButton));
    const QString shared = desktop.readAfter("Registered with ID ");
    ASSERT_FALSE(shared.isEmpty()) << "the window did not start sharing\n"
                                   << desktop.transcript().toStdString();
    ASSERT_TRUE(desktop.click(kCopyButton));
    QString copied;
    waitUntil([&] { return !(copied = clipboardText(desktop.environment())).isEmpty(); }, 10s);
    ASSERT_FALSE(copied.isEmpty()) << "nothing on the clipboard";

    // Longer than the test waits for it: only the Host's stop ends it early.
    QProcess view;
    view.setProcessEnvironment(desktop.environment());
    view.start(VELMARIN_BINARY, {"view", shared, copied, "--seconds", "60"});
    QString out;
    const bool pictures = waitUntil(
        [&] {
            out += QString::fromUtf8(view.readAllStandardOutput());
            // Printed once a second from the first received frame on.
            return out.contains("\nVideo: ") || view.state() == QProcess::NotRunning;
        },
        30s);
    ASSERT_TRUE(pictures && out.contains("Status: Verbonden\n"))
        << out.toStdString() << view.readAllStandardError().toStdString()
        << desktop.transcript().toStdString();

    ASSERT_TRUE(desktop.click(kShareButton)); // now "Stop delen"
    ASSERT_TRUE(view.waitForFinished(20'000)) << "the Viewer stayed connected";
    out += QString::fromUtf8(view.readAllStandardOutput());
    EXPECT_EQ(view.exitCode(), 1);
    EXPECT_TRUE(view.readAllStandardError().contains("De host heeft de verbinding verbroken."))
        << out.toStdString();
    EXPECT_TRUE(out.contains("Status: Niet verbonden\n")) << out.toStdString();

    // The ID is given up: the same credentials no longer reach anyone.
    QProcess again;
    again.setProcessEnvironment(desktop.environment());
    again.start(VELMARIN_BINARY, {"view", shared, copied, "--seconds", "10"});
    ASSERT_TRUE(again.waitForFinished(20'000));
    EXPECT_EQ(again.exitCode(), 1);
    EXPECT_FALSE(again.readAllStandardOutput().contains("Status: Verbonden"));

    // The button is "Start delen" again and shares anew, with a new password.
    ASSERT_TRUE(desktop.click(kShareButton));
    EXPECT_FALSE(desktop.readAfter("Registered with ID ").isEmpty())
        << desktop.transcript().toStdString();
    ASSERT_TRUE(desktop.click(kCopyButton));
    EXPECT_TRUE(waitUntil(
        [&] {
            const QString now = clipboardText(desktop.environment());
            return !now.isEmpty() && now != copied;
        },
        10s));
    EXPECT_EQ(desktop.process().state(), QProcess::Running);
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
