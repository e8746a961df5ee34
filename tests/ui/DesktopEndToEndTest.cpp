// The desktop application as a user drives it: `velmarin view --window`
// showing a headless Host's screen on a private X server until that Host
// stops; then `velmarin` without arguments on that server, its "Start delen"
// button clicked with xdotool, the password taken from the clipboard through
// the copy button, a headless `velmarin view` connecting through the real
// relay, and "Stop delen" ending that session.

#include "support/WaitUntil.h"
#include "support/capture/X11Painter.h"
#include "support/host/DesktopProcess.h"
#include "support/relay/RelayProcess.h"
#include "support/x11/XvfbProcess.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

using namespace velmarin::testing;
using namespace std::chrono_literals;

namespace {

// The share of the pixels on `x`'s screen within 40 of `rgb` in each channel
// (the picture went through H.264); -1 when the screen cannot be read.
double shareOfScreenIn(const XvfbProcess& x, std::uint32_t rgb) {
    const QImage screen = screenImage(x, QRect(0, 0, 1280, 800));
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

TEST(DesktopEndToEnd, TheWindowShowsAHostUntilItStopsAndSharesWithAViewerUntilStopDelen) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    constexpr std::uint32_t kHostColour = 0xd04010; // appears nowhere in the window itself
    XvfbProcess hostX(1280, 800);
    X11Painter(hostX.display()).fill(0, 0, 1280, 800, kHostColour);
    RelayProcess relay;
    QTemporaryDir dir;
    HostProcess host(hostX.display(), relay, dir.filePath("host"));
    const auto credentials = host.readCredentials();
    ASSERT_FALSE(credentials.password.isEmpty()) << host.transcript().toStdString();

    XvfbProcess viewerX(1280, 800);
    {
        DesktopProcess wrong(viewerX, relay, dir.path(), false,
                             {"view", credentials.id, "fout12", "--window"});
        ASSERT_TRUE(wrong.process().waitForFinished(20'000)) << "it stayed open on the error";
        EXPECT_EQ(wrong.process().exitCode(), 1);
        EXPECT_TRUE(wrong.process().readAll().contains("Fout: Onjuist wachtwoord."));
    }

    DesktopProcess viewer(
        viewerX, relay, dir.path(), false,
        {"view", credentials.id, credentials.password, "--window", "--fullscreen"});
    // Full screen: the Host's picture fills the Viewer's screen (and one
    // screen into the other at the same size leaves no letterbox).
    double share = 0;
    EXPECT_TRUE(
        waitUntil([&] { return (share = shareOfScreenIn(viewerX, kHostColour)) > 0.95; }, 30s))
        << "share of the Host's colour: " << share << "\n"
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
    const QString id = desktop.readAfter("Registered with ID ");
    ASSERT_FALSE(id.isEmpty()) << "the window did not start sharing\n"
                               << desktop.transcript().toStdString();
    ASSERT_TRUE(desktop.click(kCopyButton));
    QString password;
    waitUntil([&] { return !(password = clipboardText(desktop.environment())).isEmpty(); }, 10s);
    ASSERT_FALSE(password.isEmpty()) << "nothing on the clipboard";

    // Longer than the test waits for it: only the Host's stop ends it early.
    QProcess view;
    view.setProcessEnvironment(desktop.environment());
    view.start(VELMARIN_BINARY, {"view", id, password, "--seconds", "60"});
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
    again.start(VELMARIN_BINARY, {"view", id, password, "--seconds", "10"});
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
            return !now.isEmpty() && now != password;
        },
        10s));
    EXPECT_EQ(desktop.process().state(), QProcess::Running);
}
