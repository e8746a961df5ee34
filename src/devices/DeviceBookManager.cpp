#include "devices/DeviceBookManager.h"

#include "app/IDFormatter.h"
#include "devices/Keychain.h"

#include <QFile>

#include <algorithm>

namespace velmarin::devices {

namespace {

// The name shown: the given one without surrounding blanks, else the ID.
QString displayName(const QString& name, const QString& hostID) {
    const QString trimmed = name.trimmed();
    return trimmed.isEmpty() ? IDFormatter::format(hostID) : trimmed;
}

} // namespace

DeviceBookManager::DeviceBookManager(QSettings& store, secrets::SecretStore& secrets, Clock now,
                                     QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_secrets(secrets)
    , m_now(now ? std::move(now) : [] { return QDateTime::currentDateTimeUtc(); }) {
    // Stored data this version cannot read leaves the book empty; the value
    // stays until the next change replaces it.
    if (const auto stored = decodeDevices(m_store.value(kKey).toByteArray()))
        m_devices = *stored;
}

QStringList DeviceBookManager::hostIDs() const {
    QStringList ids;
    for (const SavedDevice& device : m_devices)
        ids << device.hostID;
    return ids;
}

const SavedDevice* DeviceBookManager::find(const QString& nameOrID) const {
    const QString id = IDFormatter::normalize(nameOrID);
    for (const SavedDevice& device : m_devices) {
        if (device.name == nameOrID || (IDFormatter::isComplete(nameOrID) && device.hostID == id))
            return &device;
    }
    return nullptr;
}

void DeviceBookManager::add(const QString& name, const QString& hostID, const QString& password,
                            const std::optional<QString>& note) {
    const QString id = IDFormatter::normalize(hostID);
    const QString shown = displayName(name, id);
    // Without a stored password the device still connects; the password is
    // asked for then.
    static_cast<void>(Keychain::save(m_secrets, password, id, Keychain::devicesService));
    const auto existing = std::find_if(m_devices.begin(), m_devices.end(),
                                       [&](const SavedDevice& d) { return d.hostID == id; });
    if (existing != m_devices.end()) {
        existing->name = shown;
        existing->note = note;
    } else {
        m_devices << SavedDevice{QUuid::createUuid(), shown, id, note, std::nullopt, m_now()};
    }
    sortAndPersist();
}

void DeviceBookManager::rename(const QUuid& id, const QString& name) {
    for (SavedDevice& device : m_devices) {
        if (device.id != id)
            continue;
        device.name = displayName(name, device.hostID);
        sortAndPersist();
        return;
    }
}

void DeviceBookManager::markConnected(const QString& hostID) {
    const QString id = IDFormatter::normalize(hostID);
    for (SavedDevice& device : m_devices) {
        if (device.hostID != id)
            continue;
        device.lastConnected = m_now();
        sortAndPersist();
        return;
    }
}

void DeviceBookManager::remove(const QUuid& id) {
    const auto found = std::find_if(m_devices.begin(), m_devices.end(),
                                    [&](const SavedDevice& d) { return d.id == id; });
    if (found == m_devices.end())
        return;
    const QString hostID = found->hostID;
    m_devices.erase(found);
    static_cast<void>(Keychain::remove(m_secrets, hostID, Keychain::devicesService));
    persist();
}

void DeviceBookManager::sortAndPersist() {
    std::stable_sort(m_devices.begin(), m_devices.end(),
                     [](const SavedDevice& a, const SavedDevice& b) {
                         if (a.lastConnected && b.lastConnected)
                             return *a.lastConnected > *b.lastConnected;
                         if (a.lastConnected || b.lastConnected)
                             return a.lastConnected.has_value();
                         return a.addedAt < b.addedAt;
                     });
    persist();
}

void DeviceBookManager::persist() {
    m_store.setValue(kKey, encodeDevices(m_devices));
    m_store.sync();
    // Like every write to the settings file: readable by the owner only.
    QFile::setPermissions(m_store.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    emit devicesChanged();
}

} // namespace velmarin::devices
