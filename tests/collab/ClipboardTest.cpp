// The clipboard on a real X display with xclip as the other program, and
// between a `velmarin host` and a `velmarin view` on two X servers through
// the real relay.

#include "collab/QtClipboard.h"
#include "support/WaitUntil.h"
#include "support/host/HostProcess.h"
#include "support/x11/XvfbProcess.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace velmarin::testing {
namespace {

using namespace std::chrono_literals;

// More than two polls.
constexpr auto kQuiet = 1200ms;

// xclip on `display`, this process's own when empty.
void onDisplay(QProcess& xclip, const std::string& display) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!display.empty())
        environment.insert(QStringLiteral("DISPLAY"), QString::fromStdString(display));
    xclip.setProcessEnvironment(environment);
}

void copyWithXclip(const QByteArray& data, const std::string& display = {},
                   const QString& type = QStringLiteral("UTF8_STRING")) {
    QProcess xclip;
    onDisplay(xclip, display);
    // xclip stays in the background serving the selection until someone
    // else takes it.
    xclip.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-t", type, "-i"});
    xclip.write(data);
    xclip.closeWriteChannel();
    ASSERT_TRUE(xclip.waitForFinished(10'000));
}

QString pasteWithXclip(const std::string& display = {}) {
    QProcess xclip;
    onDisplay(xclip, display);
    xclip.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-o"});
    // This process may own the selection: it answers from its event loop.
    waitUntil([&] { return xclip.state() == QProcess::NotRunning; }, 10s);
    return QString::fromUtf8(xclip.readAllStandardOutput());
}

TEST(Clipboard, SendsWhatOtherProgramsCopyOnceAndWritesThePeersTextWithoutEcho) {
    collab::QtClipboardSync clipboard;
    QStringList texts;
    clipboard.onClipboardChanged = [&](const QString& text) { texts << text; };
    copyWithXclip("schon vorher da");
    // The copy has reached this process before the session starts.
    pumpFor(300ms);
    clipboard.start();
    pumpFor(kQuiet);
    EXPECT_TRUE(texts.isEmpty());

    copyWithXclip("Hallo wereld");
    ASSERT_TRUE(waitUntil([&] { return !texts.isEmpty(); }, 5s));
    pumpFor(kQuiet);
    EXPECT_EQ(texts, QStringList{"Hallo wereld"});

    // An image carries no text; its change is taken over, not reconsidered.
    copyWithXclip(QByteArray("\x89PNG\r\n\x1a\n", 8), {}, QStringLiteral("image/png"));
    pumpFor(kQuiet);
    EXPECT_EQ(texts.size(), 1);

    // Stopped, a copy is not reported, also not after the next start.
    clipboard.stop();
    copyWithXclip("terwijl gestopt");
    pumpFor(kQuiet);
    clipboard.start();
    pumpFor(kQuiet);
    EXPECT_EQ(texts.size(), 1);

    // The peer's text is written and not sent back.
    clipboard.setClipboard(QStringLiteral("abc"), QStringLiteral("0a1b2c3d"));
    EXPECT_EQ(pasteWithXclip(), QStringLiteral("abc"));
    pumpFor(kQuiet);
    EXPECT_EQ(texts.size(), 1);
    // Other text is sent, and the peer's text stays remembered meanwhile:
    // only its first recopy is swallowed.
    copyWithXclip("iets anders");
    ASSERT_TRUE(waitUntil([&] { return texts.size() == 2; }, 5s));
    copyWithXclip("abc");
    pumpFor(kQuiet);
    EXPECT_EQ(texts, (QStringList{"Hallo wereld", "iets anders"}));
    copyWithXclip("abc");
    ASSERT_TRUE(waitUntil([&] { return texts.size() == 3; }, 5s));
    EXPECT_EQ(texts.last(), QStringLiteral("abc"));
}

TEST(ClipboardEndToEnd, CopiesCrossBothWaysAndAnOversizedCopyDoesNotEndTheSession) {
    const XvfbProcess hostScreen(640, 480);
    const XvfbProcess viewerScreen(640, 480);
    const RelayProcess relay;
    const QTemporaryDir dir;
    HostProcess host(hostScreen.display(), relay, dir.filePath("host"));
    const auto [id, password] = host.readCredentials();
    ASSERT_FALSE(password.isEmpty()) << host.transcript().toStdString();

    QProcess view;
    view.setProcessEnvironment(
        velmarinEnvironment(viewerScreen.display(), relay, dir.filePath("viewer")));
    view.start(QStringLiteral(VELMARIN_BINARY), {"view", id, password, "--seconds", "40"});
    // Paired once the Host's screen size arrives.
    QByteArray printed;
    ASSERT_TRUE(waitUntil(
        [&] {
            printed += view.readAllStandardOutput();
            return printed.contains("Scherm van de host");
        },
        20s))
        << printed.toStdString() << view.readAllStandardError().toStdString();

    copyWithXclip("van de Host", hostScreen.display());
    EXPECT_TRUE(
        waitUntil([&] { return pasteWithXclip(viewerScreen.display()) == "van de Host"; }, 10s));

    // Over the 4 MB limit: not sent, and the connection stays.
    copyWithXclip(QByteArray(5 * 1024 * 1024, 'x'), viewerScreen.display());
    pumpFor(kQuiet);
    copyWithXclip("van de Viewer", viewerScreen.display());
    EXPECT_TRUE(
        waitUntil([&] { return pasteWithXclip(hostScreen.display()) == "van de Viewer"; }, 10s));
    EXPECT_EQ(view.state(), QProcess::Running) << view.readAllStandardError().toStdString();
    view.terminate();
    view.waitForFinished(15'000);
}

} // namespace
} // namespace velmarin::testing
