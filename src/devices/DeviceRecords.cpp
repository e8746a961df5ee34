#include "devices/DeviceRecords.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace velmarin::devices {

namespace {

// 2001-01-01 00:00:00 UTC in Unix seconds.
constexpr qint64 kReferenceEpoch = 978307200;

QString uuidText(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

// Reads one entry's fields; any wrong one spoils the whole list.
class Reader {
public:
    explicit Reader(const QJsonObject& object)
        : m_object(object) {}
    bool ok() const { return m_ok; }

    QString text(const char* key) {
        const QJsonValue value = m_object.value(QLatin1String(key));
        m_ok = m_ok && value.isString();
        return value.toString();
    }
    std::optional<QString> optionalText(const char* key) {
        if (absent(key))
            return std::nullopt;
        return text(key);
    }
    QUuid uuid(const char* key) {
        const QUuid id = QUuid::fromString(text(key));
        m_ok = m_ok && !id.isNull();
        return id;
    }
    QDateTime date(const char* key) {
        const QJsonValue value = m_object.value(QLatin1String(key));
        m_ok = m_ok && value.isDouble() && std::isfinite(value.toDouble());
        return m_ok ? fromReferenceSeconds(value.toDouble()) : QDateTime();
    }
    std::optional<QDateTime> optionalDate(const char* key) {
        if (absent(key))
            return std::nullopt;
        return date(key);
    }
    std::optional<QByteArray> optionalBytes(const char* key) {
        if (absent(key))
            return std::nullopt;
        const auto decoded = QByteArray::fromBase64Encoding(
            text(key).toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        m_ok = m_ok && decoded;
        return *decoded;
    }

private:
    bool absent(const char* key) const {
        const QJsonValue value = m_object.value(QLatin1String(key));
        return value.isUndefined() || value.isNull();
    }

    const QJsonObject& m_object;
    bool m_ok = true;
};

template <class Record, class Read>
std::optional<QList<Record>> decodeArray(const QByteArray& json, Read read) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<Record> records;
    for (const QJsonValue& value : document.array()) {
        if (!value.isObject())
            return std::nullopt;
        Reader reader(value.toObject());
        Record record = read(reader);
        if (!reader.ok())
            return std::nullopt;
        records << record;
    }
    return records;
}

} // namespace

double referenceSeconds(const QDateTime& time) {
    // From whole milliseconds, so that 0.752 s is written as .752.
    return double(time.toMSecsSinceEpoch() - kReferenceEpoch * 1000) / 1000.0;
}

QDateTime fromReferenceSeconds(double seconds) {
    const double ms = std::round((seconds + double(kReferenceEpoch)) * 1000.0);
    return QDateTime::fromMSecsSinceEpoch(qint64(ms), Qt::UTC);
}

QByteArray encodeDevices(const QList<SavedDevice>& devices) {
    QJsonArray array;
    for (const SavedDevice& device : devices) {
        QJsonObject object{{"id", uuidText(device.id)},
                           {"name", device.name},
                           {"hostID", device.hostID},
                           {"addedAt", referenceSeconds(device.addedAt)}};
        if (device.note)
            object.insert("note", *device.note);
        if (device.lastConnected)
            object.insert("lastConnected", referenceSeconds(*device.lastConnected));
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<SavedDevice>> decodeDevices(const QByteArray& json) {
    return decodeArray<SavedDevice>(json, [](Reader& r) {
        return SavedDevice{r.uuid("id"),         r.text("name"),
                           r.text("hostID"),     r.optionalText("note"),
                           r.optionalDate("lastConnected"), r.date("addedAt")};
    });
}

QByteArray encodeRecents(const QList<RecentConnection>& connections) {
    QJsonArray array;
    for (const RecentConnection& connection : connections) {
        QJsonObject object{{"id", uuidText(connection.id)},
                           {"hostID", connection.hostID},
                           {"lastConnected", referenceSeconds(connection.lastConnected)}};
        if (connection.thumbnail)
            object.insert("thumbnail", QString::fromLatin1(connection.thumbnail->toBase64()));
        if (connection.displayName)
            object.insert("displayName", *connection.displayName);
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<RecentConnection>> decodeRecents(const QByteArray& json) {
    return decodeArray<RecentConnection>(json, [](Reader& r) {
        return RecentConnection{r.uuid("id"), r.text("hostID"), r.date("lastConnected"),
                                r.optionalBytes("thumbnail"), r.optionalText("displayName")};
    });
}

} // namespace velmarin::devices
