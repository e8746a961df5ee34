#include "app/AppCoordinator.h"

#include "app/QtLogSink.h"
#include "collab/Chat.h"
#include "collab/ReceivedFileName.h"
#include "interfaces/Log.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace velmarin {

using namespace protocol;

AppCoordinator::AppCoordinator(CommandBus& commands, SessionComponents components,
                               CoordinatorOptions options, QObject* parent)
    : QObject(parent)
    , m_commands(commands)
    , m_options(std::move(options))
    , m_components(std::move(components)) {
    // The relay address is built in; one that does not parse is a build fault.
    if (!transport::parseWebSocketURL(m_options.relayURL))
        qFatal("Invalid relay URL: %s", m_options.relayURL.c_str());
    m_webSocket = std::make_shared<transport::WebSocketManager>(m_options.relayURL, qtLogSink());
}

AppCoordinator::~AppCoordinator() {
    m_host.reset();
    m_viewer.reset();
    detachRouter(*m_webSocket);
}

void AppCoordinator::setup(ConnectionState& connectionState, AppSettings& appSettings,
                           RecentConnectionsStore* recentConnections) {
    m_state = &connectionState;
    m_settings = &appSettings;
    m_recentConnections = recentConnections;
    m_router =
        std::make_unique<MessageRouter>(*m_webSocket, connectionState, &appSettings, m_commands);
    connect(&m_commands, &CommandBus::posted, this, &AppCoordinator::handleCommand);

    installSessionHandlers();
    installDisplayHandlers();
    installChatHandlers();
    installClipboardHandlers();
    installFileTransferHandlers();

    if (m_components.recorder) {
        const QPointer<AppCoordinator> self(this);
        m_components.recorder->onStateChange = [self](bool recording) {
            if (self && self->m_state)
                self->m_state->setIsRecording(recording);
        };
    }
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                &AppCoordinator::terminate);

    // Unattended start needs a password to register with.
    if (appSettings.isUnattended() && !appSettings.fixedPassword().isEmpty()) {
        connectionState.setLocalPassword(appSettings.fixedPassword());
        connectionState.setIsSharing(true);
        mainTask([this] { startHosting(); });
    }
}

void AppCoordinator::handleCommand(const QString& name, const QVariantMap& userInfo) {
    if (name == Command::startHosting) {
        mainTask([this] { startHosting(); });
    } else if (name == Command::stopHosting) {
        mainTask([this] { stopHosting(); });
    } else if (name == Command::startViewing) {
        mainTask([this] { startViewing(); });
    } else if (name == Command::stopViewing) {
        mainTask([this] { stopViewing(); });
    } else if (name == Command::sendChat) {
        if (const auto text = CommandBus::stringArgument(userInfo, QStringLiteral("text")))
            mainTask([this, text = *text] { sendChat(text); });
    } else if (name == Command::selectMonitor) {
        if (const auto id = CommandBus::integerArgument(userInfo, QStringLiteral("monitorId")))
            mainTask([this, id = *id] {
                if (m_viewer)
                    m_viewer->selectRemoteMonitor(id);
            });
    } else if (name == Command::sendQualitySetting) {
        if (const auto level = CommandBus::stringArgument(userInfo, QStringLiteral("level")))
            mainTask([this, level = level->toStdString()] {
                sendMessage(QualitySettingMessage{.level = level});
            });
    }
}

SessionContext AppCoordinator::sessionContext() {
    return SessionContext{.webSocket = m_webSocket,
                          .router = *m_router,
                          .state = *m_state,
                          .settings = m_settings,
                          .components = m_components,
                          .options = m_options};
}

void AppCoordinator::updateRole() {
    m_router->setRole(m_host     ? MessageRouter::Role::host
                      : m_viewer ? MessageRouter::Role::viewer
                                 : MessageRouter::Role::none);
}

QCoro::Task<void> AppCoordinator::startHosting() {
    if (!m_state)
        co_return;
    // A start while hosting replaces the session.
    m_host.reset();
    m_host = std::make_unique<HostSession>(sessionContext());
    m_host->onCaptureEnded = [this] { captureEnded(); };
    updateRole();
    const QPointer<HostSession> session(m_host.get());
    const bool kept = co_await session->start();
    // Stopped or replaced meanwhile: the stop did the rest.
    if (!session || kept)
        co_return;
    m_host.reset();
    updateRole();
}

QCoro::Task<void> AppCoordinator::stopHosting() {
    const QPointer<AppCoordinator> self(this);
    std::unique_ptr<HostSession> session = std::move(m_host);
    if (m_router)
        updateRole();
    if (session)
        co_await session->stop();
    session.reset();
    if (!self || !m_state)
        co_return;
    m_state->setStatus(Status::disconnected());
    m_state->setIsSharing(false);
    m_state->setConnectedPeerName(std::nullopt);
    if (!m_settings || !m_settings->useFixedCredentials()) {
        m_state->setLocalID(QString());
        m_state->setLocalPassword(ConnectionState::newSessionPassword());
    }
}

QCoro::Task<void> AppCoordinator::captureEnded() {
    const QPointer<AppCoordinator> self(this);
    const Status failed =
        Status::error(HostSession::kCaptureEnded, Status::Reason::captureUnavailable);
    qCWarning(Log::capture, "Screen capture ended by itself; sharing stops");
    m_state->log(QStringLiteral("FOUT: ") + HostSession::kCaptureEnded);
    // Said before the stop, so a headless Host ends with it, and after it,
    // so the window keeps saying why sharing stopped.
    m_state->setStatus(failed);
    co_await stopHosting();
    if (self && m_state)
        m_state->setStatus(failed);
}

QCoro::Task<void> AppCoordinator::startViewing() {
    if (!m_state)
        co_return;
    m_viewer.reset();
    m_viewer = std::make_unique<ViewerSession>(sessionContext(), m_decodedFrames);
    updateRole();
    co_await m_viewer->start();
}

QCoro::Task<void> AppCoordinator::stopViewing() {
    const QPointer<AppCoordinator> self(this);
    std::unique_ptr<ViewerSession> session = std::move(m_viewer);
    if (m_router)
        updateRole();
    if (session)
        co_await session->stop();
    session.reset();
    if (!self || !m_state)
        co_return;
    m_state->setStatus(Status::disconnected());
    m_state->setIsViewing(false);
    m_state->setConnectedPeerName(std::nullopt);
    m_state->setRemoteSystemInfo(std::nullopt);
}

void AppCoordinator::installSessionHandlers() {
    // The router has already chosen by role; these pass each message to the
    // live session of that role, in arrival order, on the GUI thread.
    MessageRouter& router = *m_router;
    const auto host = [this]<class F>(F&& act) {
        return [this, act = std::forward<F>(act)](const auto&... message) {
            if (m_host)
                act(*m_host, message...);
        };
    };
    const auto viewer = [this]<class F>(F&& act) {
        return [this, act = std::forward<F>(act)](const auto&... message) {
            if (m_viewer)
                act(*m_viewer, message...);
        };
    };
    router.onViewerConnected = host([](HostSession& s) { s.viewerConnected(); });
    router.onViewerDisconnected = host([](HostSession& s) { s.viewerDisconnected(); });
    router.onDisconnect = host([](HostSession& s) { s.connectionLost(); });
    router.onMouseEvent =
        host([](HostSession& s, const MouseEventMessage& m) { s.injectMouseEvent(m); });
    router.onKeyEvent = host([](HostSession& s, const KeyEventMessage& m) { s.injectKeyEvent(m); });
    router.onSpecialKeys =
        host([](HostSession& s, const std::string& combo) { s.injectSpecialKeys(combo); });
    router.onSelectMonitor = host([](HostSession& s, std::int64_t id) { s.switchMonitor(id); });
    router.onQualitySetting =
        host([](HostSession& s, const QualitySettingMessage& m) { s.applyQuality(m.level); });
    router.onRequestKeyframe = host([](HostSession& s) { s.forceNextKeyframe(); });
    router.onDraw = host([](HostSession& s, const DrawMessage& m) { s.draw(m); });
    router.onDrawClear = host([](HostSession& s) { s.clearDrawing(); });
    router.onSpotlight =
        host([](HostSession& s, const SpotlightMessage& m) { s.applySpotlight(m); });

    router.onChallenge =
        viewer([](ViewerSession& s, const std::string& nonce) { s.answerChallenge(nonce); });
    router.onVideoFrame =
        viewer([](ViewerSession& s, const std::vector<std::uint8_t>& f) { s.decode(f); });
    router.onScreenInfo =
        viewer([](ViewerSession& s, const ScreenInfoMessage& m) { s.setHostScreen(m); });
    router.onMonitorList = viewer(
        [](ViewerSession& s, const std::vector<MonitorInfo>& m) { s.storeMonitorList(m); });
    router.onSystemInfo = viewer([this](ViewerSession&, const SystemInfoMessage& m) {
        m_state->setRemoteSystemInfo(m);
    });
}

void AppCoordinator::installDisplayHandlers() {
    VideoDisplay* const display = m_components.display.get();
    if (!display)
        return;
    const QPointer<AppCoordinator> self(this);
    display->onFPSUpdate = [self](double fps) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, fps] {
                if (self && self->m_state)
                    self->m_state->setFps(fps);
            },
            Qt::QueuedConnection);
    };
    display->onFirstFrame = [self](QByteArray jpeg) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, jpeg = std::move(jpeg)] {
                if (!self || !self->m_state || !self->m_recentConnections)
                    return;
                if (self->m_state->isViewing())
                    self->m_recentConnections->save(self->m_state->remoteID(),
                                                    self->m_state->remotePassword(), jpeg);
            },
            Qt::QueuedConnection);
    };
}

void AppCoordinator::installChatHandlers() {
    m_router->onChatMessage = [this](const ChatMessage& message) {
        qCInfo(Log::network, "Chat message received from the %s (%zu bytes)",
               message.sender == "host" ? "host" : "viewer", message.text.size());
        auto messages = m_state->chatMessages();
        collab::appendChatMessage(messages, message);
        m_state->setChatMessages(messages);
        if (!m_state->showChat())
            m_state->setUnreadChatCount(m_state->unreadChatCount() + 1);
    };
}

QCoro::Task<void> AppCoordinator::sendChat(QString text) {
    if (!m_state || text.isEmpty())
        co_return;
    const char* sender = m_state->isSharing() ? "host" : "viewer";
    const ChatMessage message = ChatMessage::make(sender, text.toStdString());
    const auto encoded = ProtocolEncoder::encode(message);
    // Over the limit the peer would close the connection: refuse it here.
    if (!encoded || encoded->size() > collab::kMaxTextMessageBytes) {
        m_state->log(QStringLiteral("Chatbericht niet verstuurd: het is langer dan 4 MB."));
        co_return;
    }
    auto messages = m_state->chatMessages();
    collab::appendChatMessage(messages, message);
    m_state->setChatMessages(messages);
    m_webSocket->sendText(std::move(*encoded));
}

void AppCoordinator::installClipboardHandlers() {
    ClipboardSync* const clipboard = m_components.clipboard.get();
    if (!clipboard)
        return;
    clipboard->onClipboardChanged = [this](const QString& text) {
        mainTask([this, text] {
            const QString clipId =
                QUuid::createUuid().toString(QUuid::WithoutBraces).left(8).toLower();
            auto encoded = ProtocolEncoder::encode(
                ClipboardMessage{.content = text.toStdString(), .clipId = clipId.toStdString()});
            // The peer would close the connection over it: one big copy
            // must not end the session.
            if (encoded && encoded->size() > collab::kMaxTextMessageBytes) {
                qCWarning(Log::network, "Clipboard of %lld bytes not sent: over the 4 MB limit",
                          static_cast<long long>(encoded->size()));
                return;
            }
            if (encoded)
                m_webSocket->sendText(std::move(*encoded));
        });
    };
    m_router->onClipboard = [clipboard](const ClipboardMessage& message) {
        clipboard->setClipboard(QString::fromStdString(message.content),
                                QString::fromStdString(message.clipId));
    };
}

void AppCoordinator::installFileTransferHandlers() {
    FileTransferHandler* const files = m_components.fileTransfer.get();
    if (!files)
        return; // nothing to drive; the messages are dropped
    files->sendMessage = [this](std::string json) {
        mainTask(
            [this, json = std::move(json)]() mutable { m_webSocket->sendText(std::move(json)); });
    };
    files->onFinished = [this, files](const FileTransferHandler::Outcome& outcome) {
        using Kind = FileTransferHandler::Outcome::Kind;
        if (outcome.kind == Kind::received) {
            const std::string& path = outcome.savedPath;
            const QString name = QString::fromStdString(path.substr(path.rfind('/') + 1));
            m_state->log(QStringLiteral("Bestand ontvangen: ") + name);
            m_state->setFileTransferNotice(QStringLiteral("Bestand ontvangen: ") + name);
            // The name and 1.0 stay on screen until the next transfer.
            m_state->setFileTransferProgress(1.0);
            return;
        }
        if (outcome.kind == Kind::sent) {
            m_state->setFileTransferNotice(QStringLiteral("Bestand verstuurd: ") +
                                           QString::fromStdString(outcome.fileName));
        } else {
            const QString reason = outcome.reason.empty()
                                       ? QStringLiteral("Het bestand is niet verstuurd.")
                                       : QString::fromStdString(outcome.reason);
            m_state->log(reason);
            m_state->setFileTransferNotice(reason);
        }
        // A second file refused while one runs: the running one stays shown.
        if (files->isActive())
            return;
        m_state->setFileTransferProgress(std::nullopt);
        m_state->setFileTransferName(std::nullopt);
    };
    m_router->onFileOffer = [this, files](const FileOfferMessage& message) {
        // The peer's name as it would be stored: no paths or control characters on screen.
        m_state->setFileTransferNotice(std::nullopt);
        m_state->setFileTransferName(
            QString::fromStdString(collab::safeFileName(message.fileName)));
        files->handleOffer(message);
    };
    m_router->onFileAccept = [files](const FileAcceptMessage& message) {
        files->handleAccept(message.transferId);
    };
    m_router->onFileReject = [this, files](const FileRejectMessage& message) {
        files->handleReject(message.transferId);
        m_state->setFileTransferProgress(std::nullopt);
        m_state->setFileTransferName(std::nullopt);
    };
    m_router->onFileCancel = [this, files](const FileCancelMessage& message) {
        files->handleCancel(message.transferId);
        m_state->setFileTransferProgress(std::nullopt);
        m_state->setFileTransferName(std::nullopt);
    };
    m_router->onFileChunk = [this, files](const FileChunkMessage& message) {
        files->handleChunk(message);
        if (files->isActive())
            m_state->setFileTransferProgress(files->progress());
    };
    m_router->onFileAck = [this, files](const FileAckMessage& message) {
        files->handleAck(message.transferId, message.chunkIndex);
        if (files->isActive())
            m_state->setFileTransferProgress(files->progress());
    };
    m_router->onFileComplete = [this, files](const FileCompleteMessage& message) {
        m_state->setFileTransferProgress(std::nullopt);
        m_state->setFileTransferName(std::nullopt);
        files->handleComplete(message.transferId);
    };
    // A transfer lives as long as the pairing it started in: the peer
    // leaving, a lost connection or a stopped session ends it.
    connect(m_state, &ConnectionState::statusChanged, this, [files](const Status& status) {
        if (status.kind() != Status::Kind::connected)
            files->endSession();
    });
}

void AppCoordinator::sendDraw(const DrawMessage& message) {
    sendMessage(message);
}

void AppCoordinator::sendDrawClear() {
    sendMessage(DrawClearMessage{});
}

void AppCoordinator::sendSpotlight(const SpotlightMessage& message) {
    sendMessage(message);
}

void AppCoordinator::sendSpecialKeys(const QString& combo) {
    sendMessage(SpecialKeysMessage{.combo = combo.toStdString()});
}

bool AppCoordinator::sendFile(const QString& path) {
    FileTransferHandler* const files = m_components.fileTransfer.get();
    if (!files || !m_state || m_state->status().kind() != Status::Kind::connected)
        return false;
    m_state->setFileTransferNotice(std::nullopt);
    if (!files->startSending(QFile::encodeName(path).toStdString()))
        return false; // the outcome says why
    m_state->setFileTransferName(QFileInfo(path).fileName());
    m_state->setFileTransferProgress(0.0);
    return true;
}

void AppCoordinator::setRecording(bool on) {
    SessionRecorder* const recorder = m_components.recorder.get();
    if (!recorder)
        return;
    if (on && m_viewer)
        recorder->start({});
    else if (!on)
        recorder->stop();
}

void AppCoordinator::terminate() {
    if (m_host)
        m_host->cancelReconnect();
    m_webSocket->disconnect();
}

} // namespace velmarin
