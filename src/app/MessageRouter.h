#pragma once

// Between the session connection and the coordinator: moves every received
// message to the GUI thread, decodes text messages by type, applies the
// protocol's own effects on ConnectionState and AppSettings (status, assigned
// ID, latency, screen size, disconnect texts), answers pings, and calls the
// coordinator's callback for the type. It sends nothing but pongs.
//
// A message reaches its callback only in the role that may receive it: the
// peer on the other end of the relay is not trusted to decide what this side
// does. Input, monitor selection, quality, key-frame requests and annotations
// are acted on only while hosting with a Viewer paired; screen, monitor and
// system information, video and the challenge only while viewing.

#include "app/AppSettings.h"
#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "app/ReceiveBacklog.h"
#include "protocol/ProtocolEncoder.h"
#include "protocol/ProtocolMessages.h"
#include "transport/WebSocketManager.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmarin {

class MessageRouter : public QObject {
    Q_OBJECT

public:
    // `appSettings` may be null. All callbacks start unset; an unset one is
    // skipped, the router's own effects still happen.
    MessageRouter(transport::WebSocketManager& webSocket, ConnectionState& connectionState,
                  AppSettings* appSettings, CommandBus& commands, QObject* parent = nullptr);
    // Lets a transport thread that waits for this router go on.
    ~MessageRouter() override;

    enum class Role { none, host, viewer };
    // The side this connection plays; a new role starts unpaired. Messages
    // for the other role are dropped.
    void setRole(Role role);
    Role role() const { return m_role; }

    // Installs the router as the connection's receiver. The installed
    // handlers reach the router only while it exists.
    void startRouting();
    // Received and not yet handled.
    std::size_t backlogBytes() const { return m_backlog->bytes(); }

    // One received message, on the GUI thread (startRouting's handlers end
    // here; tests call it directly).
    void handleMessage(const transport::WebSocketMessage& message);
    // The connection was lost (GUI thread).
    void handleDisconnect(const transport::WebSocketError& error);

    // Every callback is called on the GUI thread.
    std::function<void(const std::vector<std::uint8_t>&)> onVideoFrame;
    std::function<void(const protocol::MouseEventMessage&)> onMouseEvent;
    std::function<void(const protocol::KeyEventMessage&)> onKeyEvent;
    std::function<void(const protocol::ScreenInfoMessage&)> onScreenInfo;
    std::function<void()> onRequestKeyframe;
    std::function<void()> onViewerConnected;
    std::function<void()> onViewerDisconnected;
    std::function<void(const std::string& nonce)> onChallenge;
    std::function<void(const protocol::QualitySettingMessage&)> onQualitySetting;
    std::function<void(const protocol::ChatMessage&)> onChatMessage;
    std::function<void(const protocol::ClipboardMessage&)> onClipboard;
    std::function<void(const std::vector<protocol::MonitorInfo>&)> onMonitorList;
    std::function<void(const protocol::SystemInfoMessage&)> onSystemInfo;
    std::function<void(std::int64_t monitorId)> onSelectMonitor;
    std::function<void(const std::string& combo)> onSpecialKeys;
    std::function<void(const protocol::DrawMessage&)> onDraw;
    std::function<void()> onDrawClear;
    std::function<void(const protocol::SpotlightMessage&)> onSpotlight;
    std::function<void()> onDisconnect;
    std::function<void(const protocol::FileOfferMessage&)> onFileOffer;
    std::function<void(const protocol::FileAcceptMessage&)> onFileAccept;
    std::function<void(const protocol::FileRejectMessage&)> onFileReject;
    std::function<void(const protocol::FileChunkMessage&)> onFileChunk;
    std::function<void(const protocol::FileAckMessage&)> onFileAck;
    std::function<void(const protocol::FileCancelMessage&)> onFileCancel;
    std::function<void(const protocol::FileCompleteMessage&)> onFileComplete;

    // The wall clock in milliseconds since 1970, for latency; tests replace it.
    std::function<std::uint64_t()> currentTimeMs;

private:
    void handleControlMessage(const std::string& text);
    bool acceptedInRole(const std::string& type) const;
    bool handleSessionMessage(const std::string& type, const protocol::ParsedMessage& parsed);
    bool handleFeatureMessage(const std::string& type, const protocol::ParsedMessage& parsed);
    void answerPing(const protocol::PingMessage& ping);
    void storePong(const protocol::PongMessage& pong);

    transport::WebSocketManager& m_webSocket;
    // Shared with the transport thread's handler, which may outlive us.
    std::shared_ptr<ReceiveBacklog> m_backlog = std::make_shared<ReceiveBacklog>();
    ConnectionState& m_state;
    QPointer<AppSettings> m_settings;
    CommandBus& m_commands;
    Role m_role = Role::none;
    // Hosting and the relay said a Viewer is paired with us.
    bool m_viewerPaired = false;
};

} // namespace velmarin
