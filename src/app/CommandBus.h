#pragma once

// The in-process command notifications: the screens (and the router) post a
// name with optional user info; the coordinator listens. GUI thread only.

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace velmarin {

namespace Command {
inline const QString startHosting = QStringLiteral("startHosting");
inline const QString stopHosting = QStringLiteral("stopHosting");
inline const QString startViewing = QStringLiteral("startViewing");
inline const QString stopViewing = QStringLiteral("stopViewing");
inline const QString sendChat = QStringLiteral("sendChat");           // "text": string
inline const QString selectMonitor = QStringLiteral("selectMonitor"); // "monitorId": integer
inline const QString sendQualitySetting = QStringLiteral("sendQualitySetting"); // "level": string
} // namespace Command

class CommandBus : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Delivered synchronously to every listener of `posted`.
    void post(const QString& name, const QVariantMap& userInfo = {});

    // User-info readers: nothing when the key is missing or holds another
    // type, so a malformed notification is ignored by its listener.
    static std::optional<QString> stringArgument(const QVariantMap& userInfo, const QString& key);
    static std::optional<qint64> integerArgument(const QVariantMap& userInfo, const QString& key);

signals:
    void posted(const QString& name, const QVariantMap& userInfo);
};

} // namespace velmarin
