#pragma once

// Keeps the desktop from idling or suspending while this machine is shared:
// an inhibition through org.freedesktop.ScreenSaver on the session bus, or
// through logind on the system bus. Where neither is available the activity
// still exists and has no effect. Held while hosting; released when dropped.

#include <QString>

#include <memory>

namespace velmarin {

class HostingActivity {
public:
    // Begins the activity; logs "App Nap prevention active".
    static std::unique_ptr<HostingActivity> begin(const QString& reason);
    // Ends it; logs "App Nap prevention ended".
    ~HostingActivity();
    HostingActivity(const HostingActivity&) = delete;
    HostingActivity& operator=(const HostingActivity&) = delete;

    // Which service holds the inhibition: "screensaver", "logind" or "none".
    QString mechanism() const;

private:
    HostingActivity() = default;

    unsigned m_screenSaverCookie = 0;
    bool m_screenSaver = false;
    int m_logindFd = -1;
};

} // namespace velmarin
