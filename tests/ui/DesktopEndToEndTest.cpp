// The desktop application as a user drives it: `velmarin` without arguments
// on a private X server, its "Start delen" button clicked with xdotool, the
// password taken from the clipboard through the copy button, a headless
// `velmarin view` connecting through the real relay, and "Stop delen"
// ending that session; and `velmarin view --window` showing a headless
// Host's screen on a second X server until that Host stops.

#include "support/WaitUntil.h"
#include "support/capture/X11Painter.h"
#include "support/host/HostProcess.h"
#include "support/relay/RelayProcess.h"
#include "support/x11/XvfbProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

using namespace velmarin::testing;
using namespace std::chrono_literals;

namespace {

// Without a window manager the 820×550 window sits at the screen's top left
// and the Host screen stacks its controls from the bottom of the tab area
// (x 240–820): the share button spans y 467–503, the copy button beside the
// password is 24 px wide around x 764. A click that misses shows up as a
// Host that never registers.
constexpr QPoint kShareButton{530, 485};
constexpr QPoint kCopyButton{764, 346};

// `velmarin` without arguments, with settings, runtime files and session bus
// of its own (a desktop notification must not reach the developer's
// desktop), its network lines on stderr.
class DesktopProcess {
public:
    DesktopProcess(const XvfbProcess& x, const RelayProcess& relay, const QTemporaryDir& dir,
                   const QStringList& arguments = {})
        : m_environment(velmarinEnvironment(x.display(), relay, dir.filePath("config"))) {
        const QString runtime = dir.filePath("runtime");
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_environment.insert("XDG_RUNTIME_DIR", runtime);
        m_environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir.filePath("no-bus"));
        m_environment.insert("QT_QPA_PLATFORM", "xcb");
        m_environment.insert("QT_LOGGING_RULES", "com.tessamund.velmarin.network.info=true");
        m_process.setProcessEnvironment(m_environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(VELMARIN_BINARY, arguments);
    }
    ~DesktopProcess() {
        m_process.terminate();
        m_process.waitForFinished(15'000);
    }

    // The rest of the first line from now on that contains `marker` (20 s
    // at most; empty when the program ended first).
    QString readAfter(const QString& marker) {
        QString found;
        waitUntil(
            [&] {
                while (found.isEmpty() && m_process.canReadLine()) {
                    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
                    m_transcript += line + '\n';
                    if (const auto at = line.indexOf(marker); at >= 0)
                        found = line.mid(at + marker.size());
                }
                return !found.isEmpty() || m_process.state() == QProcess::NotRunning;
            },
            20s);
        return found;
    }

    const QString& transcript() const { return m_transcript; }
    const QProcessEnvironment& environment() const { return m_environment; }
    QProcess& process() { return m_process; }

private:
    QProcessEnvironment m_environment;
    QProcess m_process;
    QString m_transcript;
};

bool click(const XvfbProcess& x, QPoint at) {
    return x.run("xdotool search --onlyvisible --name '^Velmarin$' mousemove --window %1 " +
                 std::to_string(at.x()) + " " + std::to_string(at.y()) + " click 1") == 0;
}

// What `velmarin` put on the clipboard (empty until it answers).
QString clipboardText(const QProcessEnvironment& environment) {
    QProcess xclip;
    xclip.setProcessEnvironment(environment);
    xclip.start("xclip", {"-selection", "clipboard", "-o"});
    if (!xclip.waitForFinished(5'000) || xclip.exitCode() != 0)
        return {};
    return QString::fromUtf8(xclip.readAllStandardOutput()).trimmed();
}

// The share of the pixels on `x`'s screen within 40 of `rgb` in each channel
// (the picture went through H.264); -1 when the screen cannot be read.
double shareOfScreenIn(const XvfbProcess& x, std::uint32_t rgb) {
    const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(
        xcb_connect(x.display().c_str(), nullptr), xcb_disconnect);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection.get())).data;
    const std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> image(
        xcb_get_image_reply(connection.get(),
                            xcb_get_image(connection.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root,
                                          0, 0, screen->width_in_pixels, screen->height_in_pixels,
                                          ~0u),
                            nullptr),
        std::free);
    if (!image)
        return -1;
    const std::uint8_t* pixels = xcb_get_image_data(image.get()); // B, G, R, X
    const int count = xcb_get_image_data_length(image.get()) / 4;
    int matching = 0;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t* p = pixels + 4 * i;
        matching += std::abs(p[2] - int(rgb >> 16 & 0xff)) <= 40 &&
                    std::abs(p[1] - int(rgb >> 8 & 0xff)) <= 40 &&
                    std::abs(p[0] - int(rgb & 0xff)) <= 40;
    }
    return count ? double(matching) / count : -1;
}

} // namespace

TEST(DesktopEndToEnd, TheWindowShowsAHostFullScreenUntilTheHostStops) {
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
        DesktopProcess wrong(viewerX, relay, dir, {"view", credentials.id, "fout12", "--window"});
        ASSERT_TRUE(wrong.process().waitForFinished(20'000)) << "it stayed open on the error";
        EXPECT_EQ(wrong.process().exitCode(), 1);
        EXPECT_TRUE(wrong.process().readAll().contains("Fout: Onjuist wachtwoord."));
    }

    DesktopProcess viewer(
        viewerX, relay, dir,
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
}

TEST(DesktopEndToEnd, TheWindowSharesWithAViewerUntilStopDelenIsClicked) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    XvfbProcess x(1280, 800);
    RelayProcess relay;
    QTemporaryDir dir;
    DesktopProcess desktop(x, relay, dir);
    ASSERT_EQ(x.run("timeout 20 xdotool search --sync --onlyvisible --name '^Velmarin$' "
                    ">/dev/null"),
              0)
        << "no window; " << desktop.transcript().toStdString();

    ASSERT_TRUE(click(x, kShareButton));
    const QString id = desktop.readAfter("Registered with ID ");
    ASSERT_FALSE(id.isEmpty()) << "the window did not start sharing\n"
                               << desktop.transcript().toStdString();
    ASSERT_TRUE(click(x, kCopyButton));
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

    ASSERT_TRUE(click(x, kShareButton)); // now "Stop delen"
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
    ASSERT_TRUE(click(x, kShareButton));
    EXPECT_FALSE(desktop.readAfter("Registered with ID ").isEmpty())
        << desktop.transcript().toStdString();
    ASSERT_TRUE(click(x, kCopyButton));
    EXPECT_TRUE(waitUntil(
        [&] {
            const QString now = clipboardText(desktop.environment());
            return !now.isEmpty() && now != password;
        },
        10s));
    EXPECT_EQ(desktop.process().state(), QProcess::Running);
}
