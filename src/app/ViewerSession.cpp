// The Viewer side of the coordinator: connecting to a Host through the
// relay's challenge, following its monitors, and disconnecting.

#include "app/AppCoordinator.h"
#include "app/CancellableSleep.h"
#include "protocol/CryptoHelper.h"

namespace velmarin {

using namespace protocol;

namespace {

// The transport's own text for a failed connect already says so.
QString connectFailure(const transport::WebSocketError& error) {
    const QString prefix = QStringLiteral("Verbinding mislukt: ");
    const QString description = QString::fromStdString(error.description());
    return description.startsWith(prefix) ? description : prefix + description;
}

} // namespace

QCoro::Task<void> AppCoordinator::startViewing() {
    if (!m_state)
        co_return;
    const QPointer<AppCoordinator> self(this);
    const std::uint64_t epoch = ++m_viewEpoch;
    const auto stillViewing = [&] { return self && m_viewEpoch == epoch; };

    m_router->setRole(MessageRouter::Role::viewer);
    m_state->setIsViewing(true);
    m_state->setStatus(Status::connecting());
    m_state->setRemoteSystemInfo(std::nullopt);

    auto error = co_await awaitConnect(*m_webSocket);
    if (!stillViewing())
        co_return;
    if (error) {
        m_state->setStatus(Status::error(connectFailure(*error)));
        co_return;
    }
    m_router->startRouting();

    // The password of this attempt: editing the field later changes nothing.
    const std::string password = m_state->remotePassword().toStdString();
    m_router->onChallenge = [this, password](const std::string& nonce) {
        mainTask([this, password, nonce] { answerChallenge(password, nonce); });
    };

    auto text =
        ProtocolEncoder::encode(ConnectMessage{.targetId = m_state->remoteID().toStdString()});
    if (!text)
        co_return;
    error = co_await awaitSendText(*m_webSocket, std::move(*text));
    if (!stillViewing())
        co_return;
    if (error) {
        m_state->setStatus(Status::error(connectFailure(*error)));
        co_return;
    }

    if (m_components.makeViewerInput) {
        m_viewerInput = m_components.makeViewerInput(
            *m_webSocket, [self] { return self ? self->m_hostScreenSize : QSizeF(); });
        if (m_viewerInput)
            m_viewerInput->startCapturing();
    }
    startPingTask();
    if (m_components.clipboard)
        m_components.clipboard->start();
}

void AppCoordinator::answerChallenge(const std::string& password, const std::string& nonce) {
    sendMessage(
        ChallengeResponseMessage{.response = CryptoHelper::challengeResponse(password, nonce)});
}

void AppCoordinator::storeMonitorList(const std::vector<MonitorInfo>& monitors) {
    m_state->setAvailableMonitors(QList<MonitorInfo>(monitors.begin(), monitors.end()));
    for (const MonitorInfo& monitor : monitors) {
        if (monitor.primary) {
            m_state->setSelectedMonitorId(monitor.id);
            break;
        }
    }
}

QCoro::Task<void> AppCoordinator::selectRemoteMonitor(std::int64_t monitorId) {
    const QPointer<AppCoordinator> self(this);
    sendMessage(SelectMonitorMessage{.monitorId = monitorId});
    // The new display should start with a key frame.
    co_await sleepFor(m_options.keyframeAfterMonitorSwitch);
    if (self)
        sendMessage(RequestKeyframeMessage{});
}

QCoro::Task<void> AppCoordinator::stopViewing() {
    const QPointer<AppCoordinator> self(this);
    ++m_viewEpoch;
    if (m_components.recorder)
        m_components.recorder->stop();
    m_pingTask.cancel();
    if (m_components.clipboard)
        m_components.clipboard->stop();
    if (m_viewerInput) {
        m_viewerInput->stopCapturing();
        m_viewerInput.reset();
    }
    // Pictures of this session still in the decoder would otherwise reach
    // the display after its reset: a stale picture for the next session's
    // view, and a first-frame report spent on the session that ended.
    m_decoder->teardown();
    if (m_components.display)
        m_components.display->resetSession();
    detachRouter();
    if (m_router) {
        m_router->setRole(MessageRouter::Role::none);
        m_router->onChallenge = {};
    }
    co_await sendMessageAwaited(DisconnectMessage{});
    if (!self)
        co_return;
    m_webSocket->disconnect();
    if (!m_state)
        co_return;
    m_state->setStatus(Status::disconnected());
    m_state->setIsViewing(false);
    m_state->setConnectedPeerName(std::nullopt);
    m_state->setRemoteSystemInfo(std::nullopt);
}

} // namespace velmarin
