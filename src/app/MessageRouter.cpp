#include "app/MessageRouter.h"

#include "app/IDFormatter.h"
#include "interfaces/Log.h"
#include "protocol/ProtocolEncoder.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>

namespace velmarin {

using namespace protocol;

namespace {

template <class F, class... Args> void call(const F& callback, Args&&... args) {
    if (callback)
        callback(std::forward<Args>(args)...);
}

// Reads `parsed` as M and runs `effect`; a message that does not decode is
// dropped silently.
template <class M, class Effect> void decoded(const ParsedMessage& parsed, Effect&& effect) {
    if (auto message = ProtocolEncoder::decode<M>(parsed))
        effect(*message);
}

QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

// What only a paired Viewer may ask of a Host.
bool isForHostFromViewer(const std::string& type) {
    constexpr std::array types{
        MouseEventMessage::kType,  KeyEventMessage::kType,        SpecialKeysMessage::kType,
        SelectMonitorMessage::kType, QualitySettingMessage::kType, RequestKeyframeMessage::kType,
        DrawMessage::kType,        DrawClearMessage::kType,       SpotlightMessage::kType};
    return std::ranges::find(types, std::string_view(type)) != types.end();
}

// What the relay tells a Host about its registration and its Viewer.
bool isForHost(const std::string& type) {
    return type == RegisteredMessage::kType || type == ViewerConnectedMessage::kType ||
           type == ViewerDisconnectedMessage::kType;
}

// What the relay and the Host tell a Viewer.
bool isForViewer(const std::string& type) {
    constexpr std::array types{
        ChallengeMessage::kType,  ConnectedMessage::kType,   HostDisconnectedMessage::kType,
        ScreenInfoMessage::kType, MonitorListMessage::kType, SystemInfoMessage::kType};
    return std::ranges::find(types, std::string_view(type)) != types.end();
}

} // namespace

MessageRouter::MessageRouter(transport::WebSocketManager& webSocket,
                             ConnectionState& connectionState, AppSettings* appSettings,
                             CommandBus& commands, QObject* parent)
    : QObject(parent)
    , currentTimeMs(currentTimestampMs)
    , m_webSocket(webSocket)
    , m_state(connectionState)
    , m_settings(appSettings)
    , m_commands(commands) {}

MessageRouter::~MessageRouter() {
    m_backlog->close();
}

void MessageRouter::setRole(Role role) {
    m_role = role;
    m_viewerPaired = false;
}

bool MessageRouter::acceptedInRole(const std::string& type) const {
    if (isForHostFromViewer(type))
        return m_role == Role::host && m_viewerPaired;
    if (isForHost(type))
        return m_role == Role::host;
    if (isForViewer(type))
        return m_role == Role::viewer;
    return true;
}

// GCC 12 reports a use after free inside QPointer's copy in these lambdas
// that is not there (the same QPointer copies elsewhere pass).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuse-after-free"
void MessageRouter::startRouting() {
    // The handlers run on the transport thread; they post to the GUI thread
    // in arrival order, where the router is looked up again.
    const QPointer<MessageRouter> self(this);
    m_webSocket.setOnMessage([self, backlog = m_backlog](transport::WebSocketMessage message) {
        const std::size_t size = message.text.size() + message.data.size();
        backlog->add(size);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [backlog, size, self, message = std::move(message)] {
                if (self)
                    self->handleMessage(message);
                backlog->remove(size);
            },
            Qt::QueuedConnection);
    });
    m_webSocket.setOnDisconnect([self](const transport::WebSocketError& error) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, error] {
                if (self)
                    self->handleDisconnect(error);
            },
            Qt::QueuedConnection);
    });
}
#pragma GCC diagnostic pop

void MessageRouter::handleMessage(const transport::WebSocketMessage& message) {
    if (message.isText())
        handleControlMessage(message.text);
    else if (m_role == Role::viewer)
        call(onVideoFrame, message.data);
}

void MessageRouter::handleDisconnect(const transport::WebSocketError& error) {
    m_state.setStatus(
        Status::error(QStringLiteral("Verbinding verbroken: ") + fromStd(error.description())));
    m_viewerPaired = false;
    call(onDisconnect);
}

void MessageRouter::handleControlMessage(const std::string& text) {
    // Parsed once: a file chunk is large, and every step reads the same tree.
    const auto parsed = ProtocolEncoder::parse(text);
    if (!parsed) {
        qCDebug(Log::network, "Unknown message format");
        return;
    }
    const std::string& type = parsed->type();
    if (!acceptedInRole(type)) {
        qCWarning(Log::network, "Dropped %s: not for this side of the session", type.c_str());
        return;
    }
    if (handleSessionMessage(type, *parsed) || handleFeatureMessage(type, *parsed))
        return;
    qCDebug(Log::network, "Unhandled message type: %s", type.c_str());
}

bool MessageRouter::handleSessionMessage(const std::string& type, const ParsedMessage& parsed) {
    const bool fixedCredentials = m_settings && m_settings->useFixedCredentials();
    if (type == RegisteredMessage::kType) {
        decoded<RegisteredMessage>(parsed, [&](const RegisteredMessage& message) {
            const QString id = IDFormatter::normalize(fromStd(message.id));
            m_state.setLocalID(id);
            qCInfo(Log::network, "Registered with ID %s", qPrintable(IDFormatter::format(id)));
            m_state.setStatus(Status::waitingForViewer());
            m_state.log(QStringLiteral("ID ontvangen: ") + fromStd(message.id));
            // A fixed ID the relay did not give this time (held or kept for
            // another password) stays ours: it is asked for again next time.
            if (fixedCredentials && !m_settings->fixedID().isEmpty() && m_settings->fixedID() != id)
                m_state.log(QStringLiteral("Vast ID %1 geweigerd door de server; dit keer ID %2, "
                                           "bij het volgende herverbinden opnieuw gevraagd")
                                .arg(m_settings->fixedID(), id));
            else if (fixedCredentials)
                m_settings->setFixedID(id);
        });
    } else if (type == ChallengeMessage::kType) {
        decoded<ChallengeMessage>(parsed, [&](const ChallengeMessage& message) {
            m_state.setStatus(Status::authenticating());
            call(onChallenge, message.nonce);
        });
    } else if (type == ConnectedMessage::kType) {
        m_state.setStatus(Status::connected());
    } else if (type == ViewerConnectedMessage::kType) {
        if (ProtocolEncoder::decode<ViewerConnectedMessage>(parsed)) {
            m_state.setConnectedPeerName(std::nullopt);
            qCInfo(Log::network, "Viewer connected to us (%s)", "anonymous");
        }
        m_viewerPaired = true;
        m_state.setStatus(Status::connected());
        call(onViewerConnected);
    } else if (type == HostDisconnectedMessage::kType) {
        m_state.setConnectedPeerName(std::nullopt);
        m_state.setDisconnectMessage(QStringLiteral("De host heeft de verbinding verbroken."));
        qCInfo(Log::network, "Host disconnected");
        m_commands.post(Command::stopViewing);
    } else if (type == ViewerDisconnectedMessage::kType) {
        m_state.setConnectedPeerName(std::nullopt);
        m_state.setDisconnectMessage(QStringLiteral("Viewer heeft de verbinding verbroken."));
        qCInfo(Log::network, "Viewer disconnected");
        m_viewerPaired = false;
        call(onViewerDisconnected);
        // A Host with fixed credentials stays registered for the next Viewer.
        if (fixedCredentials)
            m_state.setStatus(Status::waitingForViewer());
        else
            m_commands.post(Command::stopHosting);
    } else if (type == PingMessage::kType) {
        decoded<PingMessage>(parsed, [&](const PingMessage& ping) { answerPing(ping); });
    } else if (type == PongMessage::kType) {
        decoded<PongMessage>(parsed, [&](const PongMessage& pong) { storePong(pong); });
    } else if (type == ErrorMessage::kType) {
        decoded<ErrorMessage>(parsed, [&](const ErrorMessage& message) {
            qCCritical(Log::network, "Server error: %s", message.message.c_str());
            m_state.setStatus(Status::error(fromStd(message.message)));
        });
    } else {
        return false;
    }
    return true;
}

bool MessageRouter::handleFeatureMessage(const std::string& type, const ParsedMessage& parsed) {
    if (type == MouseEventMessage::kType) {
        decoded<MouseEventMessage>(parsed, [&](const auto& m) { call(onMouseEvent, m); });
    } else if (type == KeyEventMessage::kType) {
        decoded<KeyEventMessage>(parsed, [&](const auto& m) { call(onKeyEvent, m); });
    } else if (type == ScreenInfoMessage::kType) {
        decoded<ScreenInfoMessage>(parsed, [&](const ScreenInfoMessage& m) {
            m_state.setRemoteScreenSize(
                QSizeF(static_cast<double>(m.width), static_cast<double>(m.height)));
            call(onScreenInfo, m);
        });
    } else if (type == QualitySettingMessage::kType) {
        decoded<QualitySettingMessage>(parsed, [&](const auto& m) { call(onQualitySetting, m); });
    } else if (type == RequestKeyframeMessage::kType) {
        call(onRequestKeyframe);
    } else if (type == ChatMessage::kType) {
        decoded<ChatMessage>(parsed, [&](const auto& m) { call(onChatMessage, m); });
    } else if (type == ClipboardMessage::kType) {
        decoded<ClipboardMessage>(parsed, [&](const auto& m) { call(onClipboard, m); });
    } else if (type == MonitorListMessage::kType) {
        decoded<MonitorListMessage>(parsed,
                                    [&](const auto& m) { call(onMonitorList, m.monitors); });
    } else if (type == SystemInfoMessage::kType) {
        decoded<SystemInfoMessage>(parsed, [&](const auto& m) { call(onSystemInfo, m); });
    } else if (type == SelectMonitorMessage::kType) {
        decoded<SelectMonitorMessage>(parsed,
                                      [&](const auto& m) { call(onSelectMonitor, m.monitorId); });
    } else if (type == SpecialKeysMessage::kType) {
        decoded<SpecialKeysMessage>(parsed, [&](const auto& m) { call(onSpecialKeys, m.combo); });
    } else if (type == DrawMessage::kType) {
        decoded<DrawMessage>(parsed, [&](const auto& m) { call(onDraw, m); });
    } else if (type == DrawClearMessage::kType) {
        call(onDrawClear);
    } else if (type == SpotlightMessage::kType) {
        decoded<SpotlightMessage>(parsed, [&](const auto& m) { call(onSpotlight, m); });
    } else if (type == FileOfferMessage::kType) {
        decoded<FileOfferMessage>(parsed, [&](const auto& m) { call(onFileOffer, m); });
    } else if (type == FileAcceptMessage::kType) {
        decoded<FileAcceptMessage>(parsed, [&](const auto& m) { call(onFileAccept, m); });
    } else if (type == FileRejectMessage::kType) {
        decoded<FileRejectMessage>(parsed, [&](const auto& m) { call(onFileReject, m); });
    } else if (type == FileChunkMessage::kType) {
        decoded<FileChunkMessage>(parsed, [&](const auto& m) { call(onFileChunk, m); });
    } else if (type == FileAckMessage::kType) {
        decoded<FileAckMessage>(parsed, [&](const auto& m) { call(onFileAck, m); });
    } else if (type == FileCancelMessage::kType) {
        decoded<FileCancelMessage>(parsed, [&](const auto& m) { call(onFileCancel, m); });
    } else if (type == FileCompleteMessage::kType) {
        decoded<FileCompleteMessage>(parsed, [&](const auto& m) { call(onFileComplete, m); });
    } else {
        return false;
    }
    return true;
}

void MessageRouter::answerPing(const PingMessage& ping) {
    const auto text = ProtocolEncoder::encode(PongMessage{.timestamp = ping.timestamp});
    if (text)
        m_webSocket.sendText(*text); // a lost pong only costs the peer one sample
}

void MessageRouter::storePong(const PongMessage& pong) {
    // A timestamp ahead of our clock was not one we sent (or the clock went
    // back): it gives no latency, and a made-up 0 ms would mislead.
    const std::uint64_t now = currentTimeMs();
    if (pong.timestamp > now)
        return;
    m_state.setLatencyMs(static_cast<double>(now - pong.timestamp));
}

} // namespace velmarin
