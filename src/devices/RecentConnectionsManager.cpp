#include "devices/RecentConnectionsManager.h"

#include "devices/Keychain.h"

#include <QFile>

#include <algorithm>

namespace velmarin::devices {

RecentConnectionsManager::RecentConnectionsManager(QSettings& store, secrets::SecretStore& secrets,
                                                   Clock now, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_secrets(secrets)
    , m_now(now ? std::move(now) : [] { return QDateTime::currentDateTimeUtc(); }) {
    if (const auto stored = decodeRecents(m_store.value(kKey).toByteArray()))
        m_connections = *stored;
}

void RecentConnectionsManager::save(const QString& hostID, const QString& password,
                                    const QByteArray& thumbnail) {
    static_cast<void>(Keychain::save(m_secrets, password, hostID, Keychain::connectionsService));
    const auto existing = std::find_if(m_connections.begin(), m_connections.end(),
                                       [&](const RecentConnection& c) { return c.hostID == hostID; });
    if (existing != m_connections.end()) {
        existing->lastConnected = m_now();
        if (!thumbnail.isEmpty())
            existing->thumbnail = thumbnail;
    } else {
        m_connections.prepend(RecentConnection{
            QUuid::createUuid(), hostID, m_now(),
            thumbnail.isEmpty() ? std::nullopt : std::optional<QByteArray>(thumbnail), std::nullopt});
    }
    std::stable_sort(m_connections.begin(), m_connections.end(),
                     [](const RecentConnection& a, const RecentConnection& b) {
                         return a.lastConnected > b.lastConnected;
                     });
    while (m_connections.size() > kMaxEntries) {
        static_cast<void>(
            Keychain::remove(m_secrets, m_connections.last().hostID, Keychain::connectionsService));
        m_connections.removeLast();
    }
    persist();
}

void RecentConnectionsManager::remove(const QUuid& id) {
    const auto found = std::find_if(m_connections.begin(), m_connections.end(),
                                    [&](const RecentConnection& c) { return c.id == id; });
    if (found == m_connections.end())
        return;
    const QString hostID = found->hostID;
    m_connections.erase(found);
    static_cast<void>(Keychain::remove(m_secrets, hostID, Keychain::connectionsService));
    persist();
}

void RecentConnectionsManager::persist() {
    m_store.setValue(kKey, encodeRecents(m_connections));
    m_store.sync();
    // Like every write to the settings file: readable by the owner only.
    QFile::setPermissions(m_store.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    emit connectionsChanged();
}

} // namespace velmarin::devices
