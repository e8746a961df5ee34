#pragma once

// Which saved devices are reachable: while started, asks the relay every 20 s
// over its own connection for the status of the listed IDs and publishes the
// answer as one map. GUI thread only.

#include "transport/WebSocketManager.h"

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <memory>
#include <optional>
#include <stop_token>

namespace velmarin {

enum class DeviceStatus { online, busy, offline };

// "online", "busy", "offline"; any other text gives no status.
QString rawValue(DeviceStatus status);
std::optional<DeviceStatus> deviceStatusFromRawValue(const QString& raw);

class PresenceManager : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::seconds kPollInterval{20};

    // Polls the relay of relayURL(); `serverURL` and `pollInterval` are for
    // tests and tools.
    explicit PresenceManager(QObject* parent = nullptr);
    PresenceManager(const std::string& serverURL, std::chrono::milliseconds pollInterval,
                    QObject* parent = nullptr);
    ~PresenceManager() override;

    // Replaces the IDs to ask about. Starts polling when it is not running;
    // otherwise the next poll uses the new list.
    void start(const QStringList& ids);
    // Stops polling, closes the connection and forgets every status.
    void stop();

    bool isRunning() const { return m_running; }
    const QMap<QString, DeviceStatus>& statuses() const { return m_statuses; }
    // The IDs asked about.
    const QStringList& ids() const { return m_ids; }

    // The presence connection (tests observe it).
    transport::WebSocketManager& webSocket() { return *m_webSocket; }

signals:
    // Once per answer, with the whole map.
    void statusesChanged(const QMap<QString, DeviceStatus>& statuses);

private:
    void handle(const std::string& text);
    static QCoro::Task<void> pollLoop(QPointer<PresenceManager> self, std::stop_token stop);

    std::unique_ptr<transport::WebSocketManager> m_webSocket;
    std::chrono::milliseconds m_pollInterval;
    QMap<QString, DeviceStatus> m_statuses;
    QStringList m_ids;
    std::stop_source m_pollStop;
    bool m_connected = false;
    bool m_running = false;
};

} // namespace velmarin
