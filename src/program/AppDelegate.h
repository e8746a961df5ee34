#pragma once

// The application's launch and window rules, kept as plain data and
// functions so that the desktop window can apply them and tests can check
// them without a display.

#include <QRect>
#include <QSettings>
#include <QStringList>

namespace velmarin {

// The command-line flag of the XDG autostart entry.
inline const QString kLoginItemArgument = QStringLiteral("--login-item");

struct AppDelegate {
    // The main window shows a running viewing session.
    bool isViewerActive = false;
    // Start with the window minimised.
    bool launchedAsLoginItem = false;

    // At launch: started by the login item, or an unattended Host (both
    // stored switches on), starts minimised. `store` is the settings file,
    // read directly because the window does not exist yet.
    void finishLaunching(const QStringList& arguments, const QSettings& store);

    enum class CloseAction { close, stopViewingAndStayOpen };
    // The first close of a window that shows a session ends the session.
    CloseAction windowShouldClose() const {
        return isViewerActive ? CloseAction::stopViewingAndStayOpen : CloseAction::close;
    }
};

// Whether closing the last window ends the process: never without a normal
// window, and not for an unattended Host, which keeps serving.
bool shouldTerminateAfterLastWindowClosed(bool hasNormalWindow, const QSettings& store);

// The frame the main window gets 0.5 s after launch: unchanged when wide
// enough, otherwise 820 × 550 centred on `screen` (the available area).
QRect initialWindowFrame(const QRect& current, const QRect& screen);

} // namespace velmarin
