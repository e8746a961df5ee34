#pragma once

// Nobody is watched without knowing it: while this computer is shared a tray
// icon says so (with "Stop delen"), and a desktop notification tells when a
// Viewer starts and stops watching.

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace velmarin {
class CommandBus;
class ConnectionState;
} // namespace velmarin

namespace velmarin::ui {

// Sends a desktop notification over org.freedesktop.Notifications on the
// session bus; does nothing where no notification service runs.
void sendDesktopNotification(const QString& summary, const QString& body);

class SharingIndicator : public QObject {
    Q_OBJECT

public:
    using Notify = std::function<void(const QString& summary, const QString& body)>;

    SharingIndicator(ConnectionState& state, CommandBus& commands,
                     Notify notify = sendDesktopNotification, QObject* parent = nullptr);
    ~SharingIndicator() override;

    QSystemTrayIcon& trayIcon() { return *m_tray; }
    QAction& stopAction() { return *m_stop; }
    // A Viewer is connected to this sharing computer.
    bool viewerWatching() const { return m_viewerWatching; }

signals:
    // "Venster tonen" in the tray menu, or a click on the icon.
    void showWindowRequested();

private:
    void update();

    ConnectionState& m_state;
    CommandBus& m_commands;
    Notify m_notify;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QAction* m_stop = nullptr;
    bool m_viewerWatching = false;
};

} // namespace velmarin::ui
