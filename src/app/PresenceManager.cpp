#include "app/PresenceManager.h"

#include "app/CancellableSleep.h"
#include "app/QtLogSink.h"
#include "app/WebSocketAwait.h"
#include "protocol/ProtocolEncoder.h"
#include "transport/RelayEndpoint.h"

#include <QCoreApplication>

namespace velmarin {

using protocol::PresenceMessage;
using protocol::PresenceResultMessage;
namespace ProtocolEncoder = protocol::ProtocolEncoder;

QString rawValue(DeviceStatus status) {
    switch (status) {
    case DeviceStatus::online:
        return QStringLiteral("online");
    case DeviceStatus::busy:
        return QStringLiteral("busy");
    case DeviceStatus::offline:
        break;
    }
    return QStringLiteral("offline");
}

std::optional<DeviceStatus> deviceStatusFromRawValue(const QString& raw) {
    for (const DeviceStatus status :
         {DeviceStatus::online, DeviceStatus::busy, DeviceStatus::offline}) {
        if (rawValue(status) == raw)
            return status;
    }
    return std::nullopt;
}

PresenceManager::PresenceManager(QObject* parent)
    : PresenceManager(transport::relayURL(), kPollInterval, parent) {}

PresenceManager::PresenceManager(const std::string& serverURL,
                                 std::chrono::milliseconds pollInterval, QObject* parent)
    : QObject(parent)
    , m_webSocket(std::make_unique<transport::WebSocketManager>(serverURL, qtLogSink()))
    , m_pollInterval(pollInterval) {}

PresenceManager::~PresenceManager() {
    m_pollStop.request_stop();
    m_webSocket->setOnMessage({});
    m_webSocket->setOnDisconnect({});
    m_webSocket.reset(); // closes and joins the transport thread
}

void PresenceManager::start(const QStringList& ids) {
    m_ids = ids;
    if (m_running)
        return;
    m_running = true;

    const QPointer<PresenceManager> self(this);
    m_webSocket->setOnMessage([self](transport::WebSocketMessage message) {
        if (!message.isText())
            return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, text = std::move(message.text)] {
                if (self)
                    self->handle(text);
            },
            Qt::QueuedConnection);
    });
    m_webSocket->setOnDisconnect([self](const transport::WebSocketError&) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self)
                    self->m_connected = false;
            },
            Qt::QueuedConnection);
    });
    m_pollStop = std::stop_source();
    pollLoop(self, m_pollStop.get_token());
}

void PresenceManager::stop() {
    m_running = false;
    m_connected = false;
    m_pollStop.request_stop();
    m_webSocket->setOnMessage({});
    m_webSocket->setOnDisconnect({});
    m_webSocket->disconnect();
    if (!m_statuses.isEmpty()) {
        m_statuses.clear();
        emit statusesChanged(m_statuses);
    }
}

// Runs on the GUI thread; the object may be gone after any suspension, so it
// is looked up again each time, and a stop request ends the loop.
QCoro::Task<void> PresenceManager::pollLoop(QPointer<PresenceManager> self, std::stop_token stop) {
    while (self && !stop.stop_requested()) {
        const QStringList ids = self->m_ids;
        const auto interval = self->m_pollInterval;
        if (!ids.isEmpty()) {
            bool ready = true;
            if (!self->m_connected) {
                const WebSocketResult connected = co_await awaitConnect(*self->m_webSocket);
                if (!self || stop.stop_requested())
                    co_return;
                self->m_connected = connected.hasValue();
                if (!connected) {
                    self->m_webSocket->disconnect();
                    ready = false;
                }
            }
            PresenceMessage query;
            for (const QString& id : ids)
                query.ids.push_back(id.toStdString());
            const auto text = ProtocolEncoder::encode(query);
            if (ready && text) {
                const WebSocketResult sent = co_await awaitSendText(*self->m_webSocket, *text);
                if (!self || stop.stop_requested())
                    co_return;
                if (!sent) {
                    self->m_connected = false;
                    self->m_webSocket->disconnect();
                }
            }
        }
        co_await sleepFor(interval, stop);
    }
}

void PresenceManager::handle(const std::string& text) {
    if (ProtocolEncoder::decodeType(text) != std::string(PresenceResultMessage::kType))
        return;
    const auto result = ProtocolEncoder::decode<PresenceResultMessage>(text);
    if (!result)
        return;
    QMap<QString, DeviceStatus> statuses;
    for (const QString& id : m_ids) {
        const auto it = result->statuses.find(id.toStdString());
        const auto status = it == result->statuses.end()
                                ? std::nullopt
                                : deviceStatusFromRawValue(QString::fromStdString(it->second));
        statuses.insert(id, status.value_or(DeviceStatus::offline));
    }
    m_statuses = statuses;
    emit statusesChanged(m_statuses);
}

} // namespace velmarin
