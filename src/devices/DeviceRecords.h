#pragma once

// The saved devices and recent connections as they are stored: each list is
// one JSON array in the settings file. UUIDs are upper-case canonical text,
// dates are seconds (with fraction) since 2001-01-01 00:00:00 UTC, bytes are
// standard Base64, and an absent optional has no key at all. Passwords are
// never part of it.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace velmarin::devices {

struct SavedDevice {
    QUuid id;
    QString name;
    QString hostID; // nine digits
    std::optional<QString> note;
    std::optional<QDateTime> lastConnected;
    QDateTime addedAt;

    bool operator==(const SavedDevice&) const = default;
};

struct RecentConnection {
    QUuid id;
    QString hostID; // as the caller gave it
    QDateTime lastConnected;
    std::optional<QByteArray> thumbnail;
    std::optional<QString> displayName;

    bool operator==(const RecentConnection&) const = default;
};

// Seconds since 2001-01-01 00:00:00 UTC, and back (millisecond precision).
double referenceSeconds(const QDateTime& time);
QDateTime fromReferenceSeconds(double seconds);

QByteArray encodeDevices(const QList<SavedDevice>& devices);
// Nothing when the bytes are not such an array (any entry wrong: all of it).
std::optional<QList<SavedDevice>> decodeDevices(const QByteArray& json);

QByteArray encodeRecents(const QList<RecentConnection>& connections);
std::optional<QList<RecentConnection>> decodeRecents(const QByteArray& json);

} // namespace velmarin::devices
