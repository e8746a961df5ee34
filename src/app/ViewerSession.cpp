#include "app/ViewerSession.h"

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

ViewerSession::ViewerSession(SessionContext context,
                             std::shared_ptr<std::atomic<std::uint64_t>> decodedFrames,
                             QObject* parent)
    : QObject(parent)
    , m_context(std::move(context))
    , m_webSocket(*m_context.webSocket)
    , m_state(m_context.state)
    , m_password(m_state.remotePassword().toStdString())
    , m_decoder(std::make_unique<video::H264Decoder>()) {
    VideoDisplay* const display = m_context.components.display.get();
    SessionRecorder* const recorder = m_context.components.recorder.get();
    m_decoder->setOnDecodedFrame(
        [display, recorder, counter = std::move(decodedFrames)](video::Picture picture,
                                                                 std::uint32_t) {
            counter->fetch_add(1);
            if (display)
                display->render(picture);
            if (recorder)
                recorder->append(picture);
        });
}

ViewerSession::~ViewerSession() {
    tearDown();
}

void ViewerSession::tearDown() {
    const SessionComponents& components = m_context.components;
    if (components.recorder)
        components.recorder->stop();
    m_pingTask.cancel();
    if (components.clipboard)
        components.clipboard->stop();
    // Keys still held are released to the Host while the pairing lasts.
    if (m_input)
        m_input->stopCapturing();
    m_input.reset();
    // Pictures of this session still in the decoder would otherwise reach
    // the display after its reset: a stale picture for the next session's
    // view, and a first-frame report spent on the session that ended.
    if (m_decoder) {
        m_decoder.reset();
        if (components.display)
            components.display->resetSession();
    }
}

QCoro::Task<void> ViewerSession::start() {
    const QPointer<ViewerSession> self(this);
    m_state.setIsViewing(true);
    m_state.setStatus(Status::connecting());
    m_state.setRemoteSystemInfo(std::nullopt);

    auto result = co_await awaitConnect(m_webSocket);
    if (!self)
        co_return;
    if (!result) {
        m_state.setStatus(Status::error(connectFailure(result.error())));
        co_return;
    }
    m_context.router.startRouting();

    auto text = ProtocolEncoder::encode(ConnectMessage{.targetId = m_state.remoteID().toStdString()});
    if (!text)
        co_return;
    result = co_await awaitSendText(m_webSocket, std::move(*text));
    if (!self)
        co_return;
    if (!result) {
        m_state.setStatus(Status::error(connectFailure(result.error())));
        co_return;
    }

    if (m_context.components.makeViewerInput) {
        m_input = m_context.components.makeViewerInput(
            m_webSocket, [self] { return self ? self->m_hostScreenSize : QSizeF(); });
        if (m_input)
            m_input->startCapturing();
    }
    startPingTask(m_pingTask, m_context.webSocket, m_context.options.pingInterval);
    if (m_context.components.clipboard)
        m_context.components.clipboard->start();
}

void ViewerSession::answerChallenge(const std::string& nonce) {
    sendMessage(m_webSocket, ChallengeResponseMessage{
                                 .response = CryptoHelper::challengeResponse(m_password, nonce)});
}

void ViewerSession::decode(const std::vector<std::uint8_t>& frame) {
    if (m_decoder)
        m_decoder->decode(frame);
}

void ViewerSession::setHostScreen(const ScreenInfoMessage& message) {
    m_hostScreenSize =
        QSizeF(static_cast<double>(message.width), static_cast<double>(message.height));
}

void ViewerSession::storeMonitorList(const std::vector<MonitorInfo>& monitors) {
    m_state.setAvailableMonitors(QList<MonitorInfo>(monitors.begin(), monitors.end()));
    for (const MonitorInfo& monitor : monitors) {
        if (monitor.primary) {
            m_state.setSelectedMonitorId(monitor.id);
            break;
        }
    }
}

QCoro::Task<void> ViewerSession::selectRemoteMonitor(std::int64_t monitorId) {
    const QPointer<ViewerSession> self(this);
    sendMessage(m_webSocket, SelectMonitorMessage{.monitorId = monitorId});
    // The new display should start with a key frame.
    co_await sleepFor(m_context.options.keyframeAfterMonitorSwitch);
    if (self)
        sendMessage(m_webSocket, RequestKeyframeMessage{});
}

QCoro::Task<void> ViewerSession::stop() {
    const QPointer<ViewerSession> self(this);
    tearDown();
    detachRouter(m_webSocket);
    co_await sendMessageAwaited(m_webSocket, DisconnectMessage{});
    if (self)
        m_webSocket.disconnect();
}

} // namespace velmarin
