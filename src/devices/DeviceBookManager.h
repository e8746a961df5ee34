#pragma once

// The saved devices: Hosts the Viewer reaches again with one action. The
// list lives under "savedDevices" in the settings file, each password in the
// secret store; every change is written through at once. Display order:
// connected devices first, most recent first, then the others in the order
// they were added (a stable sort). GUI thread only.

#include "devices/DeviceRecords.h"

#include <QObject>
#include <QSettings>
#include <QStringList>

#include <functional>

namespace velmarin::secrets {
class SecretStore;
}

namespace velmarin::devices {

class DeviceBookManager : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    // Loads the stored list at once; `now` is for tests.
    DeviceBookManager(QSettings& store, secrets::SecretStore& secrets, Clock now = {},
                      QObject* parent = nullptr);

    const QList<SavedDevice>& devices() const { return m_devices; }
    // In display order, for presence.
    QStringList hostIDs() const;
    // The first device whose name or ID (in any notation) is `nameOrID`.
    const SavedDevice* find(const QString& nameOrID) const;

    // Adds a device, or renames the one with the same ID (keeping when it
    // was added and last connected) and replaces its note and password.
    void add(const QString& name, const QString& hostID, const QString& password,
             const std::optional<QString>& note = std::nullopt);
    void rename(const QUuid& id, const QString& name);
    void markConnected(const QString& hostID);
    // Removes the device and its password.
    void remove(const QUuid& id);

    static inline const QString kKey = QStringLiteral("savedDevices");

signals:
    void devicesChanged();

private:
    void sortAndPersist();
    void persist();

    QSettings& m_store;
    secrets::SecretStore& m_secrets;
    Clock m_now;
    QList<SavedDevice> m_devices;
};

} // namespace velmarin::devices
