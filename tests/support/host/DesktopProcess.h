#pragma once

// `velmarin` without arguments, the desktop application, for end-to-end
// tests on a private X server: settings, runtime files and home of its own
// under `dir` (received files land in dir/home/Downloads), its network log
// lines on its output. Without `sessionBus` it gets none, so a desktop
// notification cannot reach the developer's desktop; with it, it keeps the
// test's bus (the private keyring of a KEYRING suite).
//
// Also: clicks and typing with xdotool into its window, and what a display
// shows, read back from the X server.

#include "support/host/HostProcess.h"
#include "support/x11/XvfbProcess.h"

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QRect>

namespace velmarin::testing {

// Without a window manager the 820×550 window sits at the screen's top left
// and the Host screen stacks its controls from the bottom of the tab area
// (x 240–820): the share button spans y 467–503, the copy button beside the
// password is 24 px wide around x 764, the switches' knobs sit at x 775. A
// click that misses shows up as a Host that never registers.
constexpr QPoint kShareButton{530, 485};
constexpr QPoint kCopyButton{764, 346};
constexpr QPoint kFixedCredentials{775, 396};
constexpr QPoint kAutomaticStart{775, 420};

class DesktopProcess {
public:
    // `arguments` follow `velmarin` ("view", ID, password, "--window").
    DesktopProcess(const XvfbProcess& x, const RelayProcess& relay, const QString& dir,
                   bool sessionBus = false, const QStringList& arguments = {});
    ~DesktopProcess() {
        m_process.terminate();
        m_process.waitForFinished(15'000);
    }
    DesktopProcess(const DesktopProcess&) = delete;
    DesktopProcess& operator=(const DesktopProcess&) = delete;

    // Waits (20 s at most) for the window "Velmarin" to be mapped.
    bool waitForWindow();
    // Where the window is on its screen now.
    QRect windowFrame() const;
    // Moves the pointer to `at` in the window and clicks the left button.
    bool click(QPoint at) const;
    // Types `text` into whatever has the keyboard focus; `key` names an X
    // key ("Return", "Tab").
    bool type(const QString& text) const;
    bool key(const QString& name) const;

    // The rest of the first line from now on that contains `marker` (20 s
    // at most; empty when the program ended first).
    QString readAfter(const QString& marker) {
        return readLineWith(m_process, m_transcript, marker, false);
    }

    const QString& transcript() const { return m_transcript; }
    const QProcessEnvironment& environment() const { return m_environment; }
    QProcess& process() const { return m_process; }
    // The folder received files go to.
    QString downloads() const { return m_home + QStringLiteral("/Downloads"); }

private:
    const XvfbProcess& m_x;
    QString m_home;
    QProcessEnvironment m_environment;
    mutable QProcess m_process;
    QString m_transcript;
};

// What the screen of `x` shows in `area`.
QImage screenImage(const XvfbProcess& x, const QRect& area);

// What `velmarin` put on the CLIPBOARD selection (empty until it answers).
QString clipboardText(const QProcessEnvironment& environment);

} // namespace velmarin::testing
