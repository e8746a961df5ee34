#include "app/HostSession.h"

#include "app/CancellableSleep.h"

#include <QCoreApplication>
#include "interfaces/Log.h"
#include "app/VideoSender.h"
#include "protocol/CryptoHelper.h"
#include "protocol/KeyCodes.h"
#include "video/QualityPreset.h"

namespace velmarin {

using namespace protocol;

namespace {

const QString kActivityReason =
    QStringLiteral("Screen sharing active — network I/O must not be throttled");

QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

HostSession::HostSession(SessionContext context, QObject* parent)
    : QObject(parent)
    , m_context(std::move(context))
    , m_webSocket(*m_context.webSocket)
    , m_state(m_context.state)
    , m_reconnection(m_context.options.reconnectJitter, m_context.options.reconnectSleeper) {}

HostSession::~HostSession() {
    m_reconnectTask.cancel();
    m_pingTask.cancel();
    m_systemInfoTask.cancel();
    m_qualityTask.cancel();
    if (m_context.components.clipboard)
        m_context.components.clipboard->stop();
    releaseViewer();
    finishFrameStream();
    if (m_overlay)
        m_overlay->hide();
}

RegisterMessage HostSession::registerMessage(bool reconnecting) const {
    RegisterMessage message{.passwordHash =
                                CryptoHelper::sha256hex(m_state.localPassword().toStdString())};
    if (const AppSettings* settings = m_context.settings) {
        // A reconnecting Host asks for the ID it had (the router stored it).
        if (reconnecting || (settings->useFixedCredentials() && !settings->fixedID().isEmpty()))
            message.requestedId = settings->fixedID().toStdString();
    }
    return message;
}

QCoro::Task<bool> HostSession::start() {
    const QPointer<HostSession> self(this);
    m_hostingActivity = HostingActivity::begin(kActivityReason);
    m_state.setStatus(Status::registering());
    m_state.log(QStringLiteral("Screen capture starten..."));

    co_await startScreenCapture();
    if (!self)
        co_return false;
    if (!m_capture) {
        m_state.setStatus(Status::error(kCaptureUnavailable, Status::Reason::captureUnavailable));
        m_state.setIsSharing(false);
        co_return false;
    }
    if (m_context.components.makeHostInput)
        m_input = m_context.components.makeHostInput();

    const auto url = transport::parseWebSocketURL(m_context.options.relayURL);
    m_state.log(QStringLiteral("Verbinden met ") + fromStd(url ? url->host : std::string()) +
                QStringLiteral("..."));
    auto result = co_await awaitConnect(m_webSocket);
    if (!self)
        co_return false;
    if (!result)
        co_return co_await failStart(fromStd(result.error().description()));
    m_state.log(QStringLiteral("WebSocket verbonden!"));
    m_context.router.startRouting();

    auto text = ProtocolEncoder::encode(registerMessage(false));
    if (!text) {
        m_state.log(QStringLiteral("FOUT: Kan register bericht niet encoderen"));
        co_return true;
    }
    m_state.log(QStringLiteral("Registratie versturen..."));
    result = co_await awaitSendText(m_webSocket, std::move(*text));
    if (!self)
        co_return false;
    if (!result)
        co_return co_await failStart(fromStd(result.error().description()));
    m_state.log(QStringLiteral("Registratie verstuurd, wacht op antwoord..."));
    registered();
    co_return true;
}

void HostSession::registered() {
    startPingTask(m_pingTask, m_context.webSocket, m_context.options.pingInterval);
    if (m_context.components.clipboard)
        m_context.components.clipboard->start();
}

QCoro::Task<bool> HostSession::failStart(const QString& description) {
    m_state.setStatus(Status::error(description));
    m_state.log(QStringLiteral("FOUT: ") + description);
    m_state.setIsSharing(false);
    if (m_context.settings && m_context.settings->isUnattended()) {
        startReconnectLoop();
        co_return true;
    }
    // Nobody will retry, and the window no longer shows a session to stop:
    // the session ends here instead of capturing unseen.
    m_hostingActivity.reset();
    m_input.reset();
    finishFrameStream();
    detachRouter(m_webSocket);
    m_webSocket.disconnect();
    if (m_overlay) {
        m_overlay->hide();
        m_overlay.reset();
    }
    if (const std::shared_ptr<HostCapture> capture = std::move(m_capture))
        co_await capture->stopCapture();
    co_return false;
}

QCoro::Task<void> HostSession::startScreenCapture() {
    const SessionComponents& components = m_context.components;
    if (!components.makeCapture) {
        qCCritical(Log::capture, "Failed to start capture: %s", "no capture backend");
        co_return;
    }
    const std::shared_ptr<HostCapture> capture = components.makeCapture();
    m_capture = capture;
    // From the capture thread; only this session's live capture counts.
    capture->setOnStopped([self = QPointer<HostSession>(this),
                           stopped = std::weak_ptr<HostCapture>(capture)] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, stopped] {
                const std::shared_ptr<HostCapture> capture = stopped.lock();
                if (self && capture && self->m_capture == capture && self->onCaptureEnded)
                    self->onCaptureEnded();
            },
            Qt::QueuedConnection);
    });
    if (AnnotationOverlay* target = overlay()) {
        target->ensureWindow();
        // Annotations are drawn here, never captured and sent back.
        if (const auto id = target->windowId(); id && *id > 0)
            capture->setExcludedWindowIds({*id});
    }
    startFrameStream();

    const QPointer<HostSession> self(this);
    const auto started = co_await capture->startCapture();
    if (!self || m_capture != capture)
        co_return;
    if (started) {
        m_state.log(QStringLiteral("Screen capture actief"));
        co_return;
    }
    qCCritical(Log::capture, "Failed to start capture: %s",
               qPrintable(started.error().description));
    m_state.log(QStringLiteral("FOUT: ") + started.error().description);
    finishFrameStream();
    m_capture.reset();
}

void HostSession::startFrameStream() {
    if (!m_capture)
        return;
    finishFrameStream();
    m_frameQueue = std::make_shared<FrameQueue>();
    // The encoder's thread pushes into this stream's queue only; a finished
    // queue ignores it. Video goes out only while a Viewer is there: nobody
    // would see it otherwise, and the relay drops video outside a pairing.
    m_capture->setOnEncodedFrame(
        [queue = m_frameQueue, viewer = m_viewerPresent](protocol::Bytes frame) {
            if (viewer->load())
                queue->push(std::move(frame));
        });
    VideoSender::startDetached(m_frameQueue, m_context.webSocket);
}

void HostSession::releaseViewer() {
    // However the Viewer went (the relay connection dropped, the session
    // stops), the keys it held are let go on this desktop.
    if (m_viewerPresent->exchange(false) && m_input)
        m_input->releaseAllModifiers();
}

void HostSession::finishFrameStream() {
    m_viewerPresent->store(false);
    if (m_frameQueue)
        m_frameQueue->finish();
    m_frameQueue.reset();
}

void HostSession::viewerConnected() {
    m_viewerPresent->store(true);
    greetViewer();
}

void HostSession::viewerDisconnected() {
    m_viewerPresent->store(false);
    m_systemInfoTask.cancel();
    if (m_input)
        m_input->releaseAllModifiers();
}

QCoro::Task<void> HostSession::greetViewer() {
    const QPointer<HostSession> self(this);
    m_state.log(QStringLiteral("Viewer verbonden!"));
    if (m_context.components.playViewerConnectedSound)
        m_context.components.playViewerConnectedSound();
    sendScreenInfo();
    co_await sendMonitorList();
    if (!self)
        co_return;
    startSystemInfoUpdates();
    if (m_clearOverlayOnGreeting && m_overlay)
        m_overlay->clearStrokes();
    if (m_capture)
        m_capture->forceNextKeyframe();
}

void HostSession::sendScreenInfo() {
    if (!m_capture)
        return;
    if (const auto info = m_capture->screenInfo())
        sendMessage(m_webSocket, ScreenInfoMessage{.width = info->width,
                                                   .height = info->height,
                                                   .scaleFactor = info->scaleFactor});
}

QCoro::Task<void> HostSession::sendMonitorList() {
    const std::shared_ptr<HostCapture> capture = m_capture;
    if (!capture)
        co_return;
    const QPointer<HostSession> self(this);
    co_await capture->refreshDisplays();
    if (!self)
        co_return;
    const auto monitors = capture->monitors();
    if (monitors.empty())
        co_return;
    qCInfo(Log::network, "Sending monitor list: %ld display(s)",
           static_cast<long>(monitors.size()));
    sendMessage(m_webSocket, MonitorListMessage{.monitors = monitors});
}

void HostSession::startSystemInfoUpdates() {
    const QPointer<HostSession> self(this);
    const auto interval = m_context.options.systemInfoInterval;
    m_systemInfoTask.start([self, interval](std::stop_token stop) -> QCoro::Task<void> {
        while (self && !stop.stop_requested()) {
            sendMessage(self->m_webSocket, self->m_systemInfoCollector.snapshot());
            co_await sleepFor(interval, stop);
        }
    });
}

void HostSession::injectMouseEvent(const MouseEventMessage& message) {
    if (m_input)
        m_input->injectMouseEvent(message);
    if (m_overlay) {
        m_overlay->ensureWindow();
        m_overlay->showRemoteCursor(message.x, message.y,
                                    m_state.connectedPeerName().value_or(QString()));
    }
}

void HostSession::injectKeyEvent(const KeyEventMessage& message) {
    if (m_input)
        m_input->injectKeyEvent(message);
}

void HostSession::injectSpecialKeys(const std::string& combo) {
    if (combo != "ctrl_alt_del" || !m_input)
        return;
    // Forward delete with control and option held.
    constexpr std::uint64_t flags = ModifierFlag::control | ModifierFlag::option;
    m_input->injectKeyEvent(
        KeyEventMessage{.action = "down", .keyCode = MacKey::forwardDelete, .flags = flags});
    m_input->injectKeyEvent(
        KeyEventMessage{.action = "up", .keyCode = MacKey::forwardDelete, .flags = flags});
}

QCoro::Task<void> HostSession::switchMonitor(std::int64_t monitorId) {
    const std::shared_ptr<HostCapture> capture = m_capture;
    if (!capture)
        co_return;
    const QPointer<HostSession> self(this);
    co_await capture->selectMonitor(monitorId);
    if (!self || m_capture != capture)
        co_return;
    sendScreenInfo();
    capture->forceNextKeyframe();
}

void HostSession::forceNextKeyframe() {
    if (m_capture)
        m_capture->forceNextKeyframe();
}

AnnotationOverlay* HostSession::overlay() {
    if (!m_overlay && m_context.components.makeOverlay)
        m_overlay = m_context.components.makeOverlay();
    return m_overlay.get();
}

void HostSession::draw(const DrawMessage& message) {
    if (AnnotationOverlay* target = overlay())
        target->apply(message);
}

void HostSession::clearDrawing() {
    if (m_overlay)
        m_overlay->clearStrokes();
}

void HostSession::applySpotlight(const SpotlightMessage& message) {
    AnnotationOverlay* const target = overlay();
    if (!target)
        return;
    if (message.active)
        target->ensureWindow();
    target->setSpotlight(message);
}

void HostSession::applyQuality(const std::string& level) {
    const auto preset = video::qualityPresetFromString(level);
    if (!preset)
        return;
    if (*preset == video::QualityPreset::automatic) {
        m_adaptiveQuality.reset();
        const QPointer<HostSession> self(this);
        m_qualityTask.start([self](std::stop_token stop) -> QCoro::Task<void> {
            if (self)
                co_await self->adaptiveQualityLoop(stop);
        });
        qCInfo(Log::capture, "Quality mode: auto (adaptive)");
        return;
    }
    m_qualityTask.cancel();
    const auto& rung = video::AdaptiveQuality::levels[static_cast<std::size_t>(
        video::levelIndex(*preset).value_or(video::AdaptiveQuality::kInitialLevelIndex))];
    if (m_capture)
        m_capture->updateQuality(rung.bitrate, rung.fps);
    m_adaptiveQuality.setManualLevel(*preset);
    qCInfo(Log::capture, "Quality set to: %s", rung.label.c_str());
}

QCoro::Task<void> HostSession::adaptiveQualityLoop(std::stop_token stop) {
    const QPointer<HostSession> self(this);
    while (!stop.stop_requested()) {
        co_await sleepFor(m_context.options.qualityInterval, stop);
        if (!self || stop.stop_requested())
            co_return;
        m_adaptiveQuality.recordLatency(m_state.latencyMs());
        if (const auto level = m_adaptiveQuality.evaluate(); level && m_capture)
            m_capture->updateQuality(level->bitrate, level->fps);
    }
}

void HostSession::connectionLost() {
    m_systemInfoTask.cancel();
    if (m_context.settings && m_context.settings->isUnattended())
        startReconnectLoop();
}

void HostSession::startReconnectLoop() {
    const QPointer<HostSession> self(this);
    m_reconnectTask.start([self](std::stop_token stop) -> QCoro::Task<void> {
        if (self)
            co_await self->reconnectLoop(stop);
    });
}

QCoro::Task<void> HostSession::reconnectLoop(std::stop_token stop) {
    const QPointer<HostSession> self(this);
    const auto ended = [&] { return !self || stop.stop_requested(); };

    // The network side goes; capture keeps running for the next Viewer.
    m_pingTask.cancel();
    if (m_context.components.clipboard)
        m_context.components.clipboard->stop();
    m_systemInfoTask.cancel();
    releaseViewer();
    finishFrameStream();
    detachRouter(m_webSocket);
    m_webSocket.disconnect();
    m_state.setStatus(Status::error(kReconnecting, Status::Reason::reconnecting));
    m_reconnection.reset();

    for (;;) {
        if (ended())
            co_return;
        const bool again = co_await m_reconnection.waitForNextAttempt(stop);
        if (ended())
            co_return;
        if (!again) {
            m_state.setStatus(Status::error(kReconnectGaveUp, Status::Reason::reconnectGaveUp));
            co_return;
        }
        auto result = co_await awaitConnect(m_webSocket);
        if (ended())
            co_return;
        if (result) {
            // A new connection: no Viewer is paired on it yet.
            m_context.router.setRole(MessageRouter::Role::host);
            m_context.router.startRouting();
            if (auto text = ProtocolEncoder::encode(registerMessage(true))) {
                result = co_await awaitSendText(m_webSocket, std::move(*text));
                if (ended())
                    co_return;
            }
        }
        if (!result) {
            m_state.log(QStringLiteral("Herverbinden poging mislukt: ") +
                        fromStd(result.error().description()));
            detachRouter(m_webSocket);
            m_webSocket.disconnect();
            continue;
        }
        m_clearOverlayOnGreeting = false;
        registered();
        startFrameStream();
        m_reconnection.reset();
        // Registered again: the Host shares, also when its first start
        // failed and this loop took over.
        m_state.setIsSharing(true);
        m_state.log(QStringLiteral("Herverbonden met server"));
        co_return;
    }
}

QCoro::Task<void> HostSession::stop() {
    const QPointer<HostSession> self(this);
    m_reconnectTask.cancel();
    m_pingTask.cancel();
    if (m_context.components.clipboard)
        m_context.components.clipboard->stop();
    m_systemInfoTask.cancel();
    m_qualityTask.cancel();
    m_hostingActivity.reset();
    // Keys a Viewer still holds are let go; the injector ends with hosting.
    releaseViewer();
    m_input.reset();
    finishFrameStream();
    detachRouter(m_webSocket);
    co_await sendMessageAwaited(m_webSocket, DisconnectMessage{});
    if (!self)
        co_return;
    if (const std::shared_ptr<HostCapture> capture = std::move(m_capture)) {
        co_await capture->stopCapture();
        if (!self)
            co_return;
    }
    if (m_overlay) {
        m_overlay->hide();
        m_overlay.reset();
    }
    m_webSocket.disconnect();
}

} // namespace velmarin
