#include "app/AppCoordinator.h"

#include "app/CancellableSleep.h"
#include "app/Log.h"
#include "app/QtLogSink.h"
#include "app/WebSocketAwait.h"
#include "protocol/ProtocolEncoder.h"

#include <QCoreApplication>
#include <QUuid>

namespace velmarin {

using namespace protocol;

AppCoordinator::AppCoordinator(CommandBus& commands, SessionComponents components,
                               CoordinatorOptions options, QObject* parent)
    : QObject(parent)
    , m_commands(commands)
    , m_options(std::move(options))
    , m_reconnection(m_options.reconnectJitter, m_options.reconnectSleeper)
    , m_components(std::move(components))
    , m_decoder(std::make_unique<video::H264Decoder>()) {
    // The relay address is built in; one that does not parse is a build fault.
    if (!transport::parseWebSocketURL(m_options.relayURL))
        qFatal("Invalid relay URL: %s", m_options.relayURL.c_str());
    m_webSocket = std::make_shared<transport::WebSocketManager>(m_options.relayURL, qtLogSink());
}

AppCoordinator::~AppCoordinator() {
    m_reconnectTask.cancel();
    m_pingTask.cancel();
    m_systemInfoTask.cancel();
    m_qualityTask.cancel();
    finishFrameStream();
    m_webSocket->setOnMessage({});
    m_webSocket->setOnDisconnect({});
    // The decoder's thread calls into the display and the recorder: stop it
    // before they go.
    m_decoder.reset();
}

void AppCoordinator::setup(ConnectionState& connectionState, AppSettings& appSettings,
                           RecentConnectionsStore* recentConnections) {
    m_state = &connectionState;
    m_settings = &appSettings;
    m_recentConnections = recentConnections;
    m_router =
        std::make_unique<MessageRouter>(*m_webSocket, connectionState, &appSettings, m_commands);
    connect(&m_commands, &CommandBus::posted, this, &AppCoordinator::handleCommand);

    installVideoHandlers();
    installInputHandlers();
    installChatHandlers();
    installClipboardHandlers();
    installMonitorHandlers();
    installSystemInfoHandler();
    installFileTransferHandlers();
    installQualityHandler();
    installHostControlHandlers();

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
            mainTask([this, id = *id] { selectRemoteMonitor(id); });
    } else if (name == Command::sendQualitySetting) {
        if (const auto level = CommandBus::stringArgument(userInfo, QStringLiteral("level")))
            mainTask([this, level = level->toStdString()] {
                sendMessage(QualitySettingMessage{.level = level});
            });
    }
}

void AppCoordinator::installVideoHandlers() {
    m_router->onVideoFrame = [this](const std::vector<std::uint8_t>& frame) {
        m_decoder->decode(frame);
    };
    VideoDisplay* const display = m_components.display.get();
    SessionRecorder* const recorder = m_components.recorder.get();
    m_decoder->setOnDecodedFrame(
        [display, recorder, counter = m_decodedFrames](video::Picture picture, std::uint32_t) {
            counter->fetch_add(1);
            if (display)
                display->render(picture);
            if (recorder)
                recorder->append(picture);
        });
    if (display) {
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
    m_router->onScreenInfo = [this](const ScreenInfoMessage& message) {
        mainTask([this, message] {
            m_hostScreenSize =
                QSizeF(static_cast<double>(message.width), static_cast<double>(message.height));
        });
    };
}

void AppCoordinator::installInputHandlers() {
    m_router->onMouseEvent = [this](const MouseEventMessage& message) {
        if (m_components.input)
            m_components.input->injectMouseEvent(message);
        if (m_overlay) {
            m_overlay->ensureWindow();
            m_overlay->showRemoteCursor(message.x, message.y,
                                        m_state->connectedPeerName().value_or(QString()));
        }
    };
    m_router->onKeyEvent = [this](const KeyEventMessage& message) {
        if (m_components.input)
            m_components.input->injectKeyEvent(message);
    };
}

void AppCoordinator::installChatHandlers() {
    m_router->onChatMessage = [this](const ChatMessage& message) {
        mainTask([this, message] {
            auto messages = m_state->chatMessages();
            messages.append(message);
            m_state->setChatMessages(messages);
            if (!m_state->showChat())
                m_state->setUnreadChatCount(m_state->unreadChatCount() + 1);
        });
    };
}

QCoro::Task<void> AppCoordinator::sendChat(QString text) {
    if (!m_state || text.isEmpty())
        co_return;
    const char* sender = m_state->isSharing() ? "host" : "viewer";
    const ChatMessage message = ChatMessage::make(sender, text.toStdString());
    auto messages = m_state->chatMessages();
    messages.append(message);
    m_state->setChatMessages(messages);
    sendMessage(message);
}

void AppCoordinator::installClipboardHandlers() {
    if (m_components.clipboard) {
        m_components.clipboard->onClipboardChanged = [this](const QString& text) {
            mainTask([this, text] {
                const QString clipId =
                    QUuid::createUuid().toString(QUuid::WithoutBraces).left(8).toLower();
                sendMessage(ClipboardMessage{.content = text.toStdString(),
                                             .clipId = clipId.toStdString()});
            });
        };
    }
    m_router->onClipboard = [this](const ClipboardMessage& message) {
        mainTask([this, message] {
            if (m_components.clipboard)
                m_components.clipboard->setClipboard(QString::fromStdString(message.content),
                                                     QString::fromStdString(message.clipId));
        });
    };
}

void AppCoordinator::installMonitorHandlers() {
    m_router->onMonitorList = [this](const std::vector<MonitorInfo>& monitors) {
        mainTask([this, monitors] { storeMonitorList(monitors); });
    };
}

void AppCoordinator::installSystemInfoHandler() {
    m_router->onSystemInfo = [this](const SystemInfoMessage& message) {
        m_state->setRemoteSystemInfo(message);
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
    m_router->onFileOffer = [this, files](const FileOfferMessage& message) {
        mainTask([this, files, message] {
            m_state->setFileTransferName(QString::fromStdString(message.fileName));
            files->handleOffer(message);
        });
    };
    m_router->onFileAccept = [this, files](const FileAcceptMessage& message) {
        mainTask([files, id = message.transferId] { files->handleAccept(id); });
    };
    const auto cancelled = [this, files](const std::string& transferId) {
        mainTask([this, files, transferId] {
            files->handleCancel(transferId);
            m_state->setFileTransferProgress(std::nullopt);
            m_state->setFileTransferName(std::nullopt);
        });
    };
    m_router->onFileReject = [cancelled](const FileRejectMessage& m) { cancelled(m.transferId); };
    m_router->onFileCancel = [cancelled](const FileCancelMessage& m) { cancelled(m.transferId); };
    m_router->onFileChunk = [this, files](const FileChunkMessage& message) {
        mainTask([this, files, message] {
            files->handleChunk(message);
            m_state->setFileTransferProgress(files->progress());
        });
    };
    m_router->onFileAck = [this, files](const FileAckMessage& message) {
        mainTask([this, files, message] {
            files->handleAck(message.transferId, message.chunkIndex);
            m_state->setFileTransferProgress(files->progress());
        });
    };
    m_router->onFileComplete = [this, files](const FileCompleteMessage&) {
        mainTask([this, files] {
            m_state->setFileTransferProgress(std::nullopt);
            m_state->setFileTransferName(std::nullopt);
            files->clearActiveTransfer();
        });
    };
}

void AppCoordinator::installQualityHandler() {
    m_router->onQualitySetting = [this](const QualitySettingMessage& message) {
        mainTask([this, level = message.level] { applyQuality(level); });
    };
}

void AppCoordinator::installHostControlHandlers() {
    m_router->onSelectMonitor = [this](std::int64_t monitorId) {
        mainTask([this, monitorId] { switchMonitor(monitorId); });
    };
    m_router->onSpecialKeys = [this](const std::string& combo) {
        mainTask([this, combo] { injectSpecialKeys(combo); });
    };
    m_router->onDraw = [this](const DrawMessage& message) {
        mainTask([this, message] {
            if (AnnotationOverlay* target = overlay())
                target->apply(message);
        });
    };
    m_router->onDrawClear = [this] {
        mainTask([this] {
            if (m_overlay)
                m_overlay->clearStrokes();
        });
    };
    m_router->onSpotlight = [this](const SpotlightMessage& message) {
        mainTask([this, message] { applySpotlight(message); });
    };
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

void AppCoordinator::startPingTask() {
    const QPointer<AppCoordinator> self(this);
    const auto interval = m_options.pingInterval;
    m_pingTask.start([self, interval](std::stop_token stop) -> QCoro::Task<void> {
        while (!stop.stop_requested()) {
            co_await sleepFor(interval, stop);
            if (!self || stop.stop_requested())
                co_return;
            self->sendMessage(PingMessage{.timestamp = currentTimestampMs()});
        }
    });
}

void AppCoordinator::startSystemInfoUpdates() {
    const QPointer<AppCoordinator> self(this);
    const auto interval = m_options.systemInfoInterval;
    m_systemInfoTask.start([self, interval](std::stop_token stop) -> QCoro::Task<void> {
        while (self && !stop.stop_requested()) {
            self->sendMessage(self->m_systemInfoCollector.snapshot());
            co_await sleepFor(interval, stop);
        }
    });
}

void AppCoordinator::detachRouter() {
    m_webSocket->setOnMessage({});
    m_webSocket->setOnDisconnect({});
}

void AppCoordinator::terminate() {
    m_reconnectTask.cancel();
    m_webSocket->disconnect();
}

} // namespace velmarin
