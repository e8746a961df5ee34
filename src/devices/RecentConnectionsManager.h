#pragma once

// The Hosts this Viewer connected to last, most recent first, at most 20,
// each with a small picture of its screen; their passwords live in the
// secret store. Filled by the Viewer session when the first frame arrives.
// The list lives under "recentConnections" in the settings file. GUI thread
// only.

#include "devices/DeviceRecords.h"
#include "interfaces/SessionComponents.h"

#include <QObject>
#include <QSettings>

#include <functional>

namespace velmarin::secrets {
class SecretStore;
}

namespace velmarin::devices {

class RecentConnectionsManager : public QObject, public RecentConnectionsStore {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    static constexpr int kMaxEntries = 20;
    static inline const QString kKey = QStringLiteral("recentConnections");

    RecentConnectionsManager(QSettings& store, secrets::SecretStore& secrets, Clock now = {},
                             QObject* parent = nullptr);

    const QList<RecentConnection>& connections() const { return m_connections; }

    // A connection that has just started: to the front, with its password;
    // an empty thumbnail keeps the one there was. The 21st entry goes, with
    // its password.
    void save(const QString& hostID, const QString& password, const QByteArray& thumbnail) override;
    void remove(const QUuid& id);

signals:
    void connectionsChanged();

private:
    void persist();

    QSettings& m_store;
    secrets::SecretStore& m_secrets;
    Clock m_now;
    QList<RecentConnection> m_connections;
};

} // namespace velmarin::devices
