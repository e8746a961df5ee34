// The Host side of the coordinator: sharing this machine, greeting Viewers,
// answering their control messages, and reconnecting an unattended Host.

#include "app/AppCoordinator.h"
#include "app/CancellableSleep.h"
#include "app/Log.h"
#include "app/VideoSender.h"
#include "protocol/CryptoHelper.h"
#include "protocol/PasswordGenerator.h"
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

RegisterMessage AppCoordinator::registerMessage(bool reconnecting) const {
    RegisterMessage message{.passwordHash =
                                CryptoHelper::sha256hex(m_state->localPassword().toStdString())};
    if (m_settings) {
        // A reconnecting Host asks for the ID it had (the router stored it).
        if (reconnecting || (m_settings->useFixedCredentials() && !m_settings->fixedID().isEmpty()))
            message.requestedId = m_settings->fixedID().toStdString();
    }
    return message;
}

QCoro::Task<void> AppCoordinator::startHosting() {
    if (!m_state)
        co_return;
    const QPointer<AppCoordinator> self(this);
    const std::uint64_t epoch = ++m_hostEpoch;
    const auto stillHosting = [&] { return self && m_hostEpoch == epoch; };

    m_router->setRole(MessageRouter::Role::host);
    m_hostingActivity = HostingActivity::begin(kActivityReason);
    m_state->setStatus(Status::registering());
    m_state->log(QStringLiteral("Screen capture starten..."));

    co_await startScreenCapture();
    if (!stillHosting())
        co_return;
    if (!m_capture) {
        m_state->setStatus(Status::error(kCaptureUnavailable));
        m_state->setIsSharing(false);
        m_router->setRole(MessageRouter::Role::none);
        // Nothing is shared: do not keep the desktop awake for it.
        m_hostingActivity.reset();
        co_return;
    }
    if (m_components.makeHostInput)
        m_hostInput = m_components.makeHostInput();

    const auto url = transport::parseWebSocketURL(m_options.relayURL);
    m_state->log(QStringLiteral("Verbinden met ") + fromStd(url ? url->host : std::string()) +
                 QStringLiteral("..."));
    auto error = co_await awaitConnect(*m_webSocket);
    if (!stillHosting())
        co_return;
    if (error) {
        failHostingStart(fromStd(error->description()));
        co_return;
    }
    m_state->log(QStringLiteral("WebSocket verbonden!"));
    m_router->startRouting();

    auto text = ProtocolEncoder::encode(registerMessage(false));
    if (!text) {
        m_state->log(QStringLiteral("FOUT: Kan register bericht niet encoderen"));
        co_return;
    }
    m_state->log(QStringLiteral("Registratie versturen..."));
    error = co_await awaitSendText(*m_webSocket, std::move(*text));
    if (!stillHosting())
        co_return;
    if (error) {
        failHostingStart(fromStd(error->description()));
        co_return;
    }
    m_state->log(QStringLiteral("Registratie verstuurd, wacht op antwoord..."));
    installHostSessionHandlers(true);
}

void AppCoordinator::installHostSessionHandlers(bool clearOverlayOnGreeting) {
    m_router->onRequestKeyframe = [this] {
        if (m_capture)
            m_capture->forceNextKeyframe();
    };
    m_router->onViewerConnected = [this, clearOverlayOnGreeting] {
        m_viewerPresent->store(true);
        mainTask([this, clearOverlayOnGreeting] { greetViewer(clearOverlayOnGreeting); });
    };
    m_router->onDisconnect = [this] { mainTask([this] { onHostConnectionLost(); }); };
    startPingTask();
    if (m_components.clipboard)
        m_components.clipboard->start();
    m_router->onViewerDisconnected = [this] {
        m_viewerPresent->store(false);
        m_systemInfoTask.cancel();
        if (m_hostInput)
            m_hostInput->releaseAllModifiers();
    };
}

QCoro::Task<void> AppCoordinator::startScreenCapture() {
    m_capture.reset();
    if (!m_components.makeCapture) {
        qCCritical(Log::capture, "Failed to start capture: %s", "no capture backend");
        co_return;
    }
    const std::shared_ptr<HostCapture> capture = m_components.makeCapture();
    m_capture = capture;
    if (!m_overlay && m_components.makeOverlay)
        m_overlay = m_components.makeOverlay();
    if (m_overlay) {
        m_overlay->ensureWindow();
        // Annotations are drawn here, never captured and sent back.
        if (const auto id = m_overlay->windowId(); id && *id > 0)
            capture->setExcludedWindowIds({*id});
    }
    startFrameStream();

    const QPointer<AppCoordinator> self(this);
    const auto error = co_await capture->startCapture();
    if (!self || m_capture != capture)
        co_return;
    if (!error) {
        m_state->log(QStringLiteral("Screen capture actief"));
        co_return;
    }
    qCCritical(Log::capture, "Failed to start capture: %s", qPrintable(*error));
    finishFrameStream();
    m_capture.reset();
}

void AppCoordinator::startFrameStream() {
    if (!m_capture)
        return;
    finishFrameStream();
    m_frameQueue = std::make_shared<FrameQueue>();
    // The encoder's thread pushes into this session's queue only; a finished
    // queue ignores it. Video goes out only while a Viewer is there: nobody
    // would see it otherwise, and the relay answers video from a Host that
    // has not registered yet with an error that ends the session.
    m_capture->setOnEncodedFrame(
        [queue = m_frameQueue, viewer = m_viewerPresent](protocol::Bytes frame) {
            if (viewer->load())
                queue->push(std::move(frame));
        });
    VideoSender::startDetached(m_frameQueue, m_webSocket);
}

void AppCoordinator::finishFrameStream() {
    m_viewerPresent->store(false);
    if (m_frameQueue)
        m_frameQueue->finish();
    m_frameQueue.reset();
}

QCoro::Task<void> AppCoordinator::greetViewer(bool clearOverlay) {
    if (!m_state)
        co_return;
    const QPointer<AppCoordinator> self(this);
    m_state->log(QStringLiteral("Viewer verbonden!"));
    if (m_components.playViewerConnectedSound)
        m_components.playViewerConnectedSound();
    if (m_capture) {
        if (const auto info = m_capture->screenInfo())
            sendMessage(ScreenInfoMessage{
                .width = info->width, .height = info->height, .scaleFactor = info->scaleFactor});
    }
    co_await sendMonitorList();
    if (!self)
        co_return;
    startSystemInfoUpdates();
    if (clearOverlay && m_overlay)
        m_overlay->clearStrokes();
    if (m_capture)
        m_capture->forceNextKeyframe();
}

QCoro::Task<void> AppCoordinator::sendMonitorList() {
    const std::shared_ptr<HostCapture> capture = m_capture;
    if (!capture)
        co_return;
    const QPointer<AppCoordinator> self(this);
    co_await capture->refreshDisplays();
    if (!self)
        co_return;
    const auto monitors = capture->monitors();
    if (monitors.empty())
        co_return;
    qCInfo(Log::network, "Sending monitor list: %ld display(s)",
           static_cast<long>(monitors.size()));
    sendMessage(MonitorListMessage{.monitors = monitors});
}

QCoro::Task<void> AppCoordinator::switchMonitor(std::int64_t monitorId) {
    const std::shared_ptr<HostCapture> capture = m_capture;
    if (!capture)
        co_return;
    const QPointer<AppCoordinator> self(this);
    co_await capture->selectMonitor(monitorId);
    if (!self)
        co_return;
    if (const auto info = capture->screenInfo())
        sendMessage(ScreenInfoMessage{
            .width = info->width, .height = info->height, .scaleFactor = info->scaleFactor});
    capture->forceNextKeyframe();
}

void AppCoordinator::injectSpecialKeys(const std::string& combo) {
    if (combo != "ctrl_alt_del" || !m_hostInput)
        return;
    // Forward delete with control and option held.
    constexpr std::uint16_t kForwardDelete = 117;
    constexpr std::uint64_t kControlOption = 0xC0000;
    m_hostInput->injectKeyEvent(
        KeyEventMessage{.action = "down", .keyCode = kForwardDelete, .flags = kControlOption});
    m_hostInput->injectKeyEvent(
        KeyEventMessage{.action = "up", .keyCode = kForwardDelete, .flags = kControlOption});
}

AnnotationOverlay* AppCoordinator::overlay() {
    if (!m_overlay && m_components.makeOverlay)
        m_overlay = m_components.makeOverlay();
    return m_overlay.get();
}

void AppCoordinator::applySpotlight(const SpotlightMessage& message) {
    AnnotationOverlay* const target = overlay();
    if (!target)
        return;
    if (message.active)
        target->ensureWindow();
    target->setSpotlight(message);
}

void AppCoordinator::applyQuality(const std::string& level) {
    const auto preset = video::qualityPresetFromString(level);
    if (!preset)
        return;
    if (*preset == video::QualityPreset::automatic) {
        m_adaptiveQuality.reset();
        const QPointer<AppCoordinator> self(this);
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

QCoro::Task<void> AppCoordinator::adaptiveQualityLoop(std::stop_token stop) {
    const QPointer<AppCoordinator> self(this);
    while (!stop.stop_requested()) {
        co_await sleepFor(m_options.qualityInterval, stop);
        if (!self || stop.stop_requested())
            co_return;
        m_adaptiveQuality.recordLatency(m_state ? m_state->latencyMs() : 0.0);
        if (const auto level = m_adaptiveQuality.evaluate(); level && m_capture)
            m_capture->updateQuality(level->bitrate, level->fps);
    }
}

void AppCoordinator::failHostingStart(const QString& description) {
    m_state->setStatus(Status::error(description));
    m_state->log(QStringLiteral("FOUT: ") + description);
    m_state->setIsSharing(false);
    if (m_settings && m_settings->isUnattended()) {
        startReconnectLoop();
        return;
    }
    // Nobody will retry, and the window no longer shows a session to stop:
    // end the capture and the idle inhibition now instead of leaving them
    // running unseen.
    releaseCapture();
}

QCoro::Task<void> AppCoordinator::releaseCapture() {
    m_pingTask.cancel();
    m_router->setRole(MessageRouter::Role::none);
    m_hostInput.reset();
    finishFrameStream();
    m_hostingActivity.reset();
    detachRouter();
    m_webSocket->disconnect();
    const std::shared_ptr<HostCapture> capture = std::move(m_capture);
    if (capture)
        co_await capture->stopCapture();
}

void AppCoordinator::onHostConnectionLost() {
    m_systemInfoTask.cancel();
    if (m_settings && m_settings->isUnattended())
        startReconnectLoop();
}

void AppCoordinator::startReconnectLoop() {
    const QPointer<AppCoordinator> self(this);
    m_reconnectTask.start([self](std::stop_token stop) -> QCoro::Task<void> {
        if (self)
            co_await self->reconnectLoop(stop);
    });
}

QCoro::Task<void> AppCoordinator::reconnectLoop(std::stop_token stop) {
    const QPointer<AppCoordinator> self(this);
    const auto ended = [&] { return !self || stop.stop_requested(); };

    // The network side goes; capture keeps running for the next Viewer.
    m_pingTask.cancel();
    if (m_components.clipboard)
        m_components.clipboard->stop();
    m_systemInfoTask.cancel();
    finishFrameStream();
    detachRouter();
    m_webSocket->disconnect();
    m_state->setStatus(Status::error(kReconnecting));
    m_reconnection.reset();

    for (;;) {
        if (ended())
            co_return;
        const bool again = co_await m_reconnection.waitForNextAttempt(stop);
        if (ended())
            co_return;
        if (!again) {
            m_state->setStatus(Status::error(kReconnectGaveUp));
            co_return;
        }
        auto error = co_await awaitConnect(*m_webSocket);
        if (ended())
            co_return;
        if (!error) {
            // A new connection: no Viewer is paired on it yet.
            m_router->setRole(MessageRouter::Role::host);
            m_router->startRouting();
            if (auto text = ProtocolEncoder::encode(registerMessage(true))) {
                error = co_await awaitSendText(*m_webSocket, std::move(*text));
                if (ended())
                    co_return;
            }
        }
        if (error) {
            m_state->log(QStringLiteral("Herverbinden poging mislukt: ") +
                         fromStd(error->description()));
            detachRouter();
            m_webSocket->disconnect();
            continue;
        }
        installHostSessionHandlers(false);
        startFrameStream();
        m_reconnection.reset();
        // Registered again: the Host shares, also when its first start
        // failed and this loop took over.
        m_state->setIsSharing(true);
        m_state->log(QStringLiteral("Herverbonden met server"));
        co_return;
    }
}

QCoro::Task<void> AppCoordinator::stopHosting() {
    const QPointer<AppCoordinator> self(this);
    ++m_hostEpoch;
    m_reconnectTask.cancel();
    m_pingTask.cancel();
    if (m_components.clipboard)
        m_components.clipboard->stop();
    m_systemInfoTask.cancel();
    m_hostingActivity.reset();
    // Keys a Viewer still holds are let go; the injector ends with hosting.
    if (m_hostInput && m_viewerPresent->load())
        m_hostInput->releaseAllModifiers();
    m_hostInput.reset();
    finishFrameStream();
    detachRouter();
    // Host-only handlers must not act on a later viewing session.
    if (m_router) {
        m_router->setRole(MessageRouter::Role::none);
        m_router->onRequestKeyframe = {};
        m_router->onViewerConnected = {};
        m_router->onViewerDisconnected = {};
        m_router->onDisconnect = {};
    }
    co_await sendMessageAwaited(DisconnectMessage{});
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
    m_webSocket->disconnect();
    if (!m_state)
        co_return;
    m_state->setStatus(Status::disconnected());
    m_state->setIsSharing(false);
    m_state->setConnectedPeerName(std::nullopt);
    if (!m_settings || !m_settings->useFixedCredentials()) {
        m_state->setLocalID(QString());
        m_state->setLocalPassword(QString::fromStdString(
            PasswordGenerator::generate(PasswordGenerator::kSessionPasswordLength)));
    }
}

} // namespace velmarin
