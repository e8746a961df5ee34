#include "ui/window/SharingIndicator.h"

#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "ui/common/Symbols.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMenu>
#include <QSystemTrayIcon>

namespace velmarin::ui {

void sendDesktopNotification(const QString& summary, const QString& body) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("velmarin")}};
    call << QStringLiteral("Velmarin") << 0u << QStringLiteral("velmarin") << summary << body
         << QStringList() << hints << -1;
    // Fire and forget: no notification service is no reason to wait.
    QDBusConnection::sessionBus().call(call, QDBus::NoBlock);
}

SharingIndicator::SharingIndicator(ConnectionState& state, CommandBus& commands, Notify notify,
                                   QObject* parent)
    : QObject(parent)
    , m_state(state)
    , m_commands(commands)
    , m_notify(std::move(notify))
    , m_menu(std::make_unique<QMenu>())
    , m_tray(std::make_unique<QSystemTrayIcon>()) {
    m_tray->setIcon(bundledSymbolIcon(Symbol::logo, QColor(0xff, 0x3b, 0x30)));
    QAction* showWindow = m_menu->addAction(QStringLiteral("Venster tonen"));
    connect(showWindow, &QAction::triggered, this, &SharingIndicator::showWindowRequested);
    m_stop = m_menu->addAction(bundledSymbolIcon(Symbol::stop), QStringLiteral("Stop delen"));
    connect(m_stop, &QAction::triggered, this, [this] {
        if (!m_state.isSharing())
            return;
        m_state.setIsSharing(false);
        m_commands.post(Command::stopHosting);
    });
    m_tray->setContextMenu(m_menu.get());
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    emit showWindowRequested();
            });
    connect(&state, &ConnectionState::isSharingChanged, this, &SharingIndicator::update);
    connect(&state, &ConnectionState::statusChanged, this, &SharingIndicator::update);
    update();
}

SharingIndicator::~SharingIndicator() = default;

void SharingIndicator::update() {
    const bool sharing = m_state.isSharing();
    const bool watching = sharing && m_state.status().kind() == Status::Kind::connected;
    m_tray->setToolTip(watching ? QStringLiteral("Velmarin: een Viewer kijkt mee en kan dit "
                                                 "apparaat bedienen")
                                : QStringLiteral("Velmarin: dit apparaat wordt gedeeld"));
    m_tray->setVisible(sharing);
    if (watching == m_viewerWatching)
        return;
    m_viewerWatching = watching;
    if (watching)
        m_notify(QStringLiteral("Een Viewer kijkt mee"),
                 QStringLiteral("Iemand is verbonden met dit apparaat en kan je scherm zien en "
                                "bedienen. Stop delen om de verbinding te verbreken."));
    else
        m_notify(QStringLiteral("Viewer vertrokken"),
                 QStringLiteral("Er kijkt niemand meer mee op dit apparaat."));
}

} // namespace velmarin::ui
