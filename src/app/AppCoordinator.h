#pragma once

// The one object that owns every session component and joins the relay
// connection to them. It runs at most one session at a time: hosting
// (startHosting … stopHosting) or viewing (startViewing … stopViewing). The
// user interface observes ConnectionState and AppSettings and commands the
// coordinator through the CommandBus or by calling its operations.
//
// GUI thread only, except the Host's video sender (its own thread) and the
// decoder's output (the decode thread), which only touch the display and the
// recorder. Coroutine operations may outlive nothing: every one re-checks
// the coordinator after each wait.

#include "app/AppSettings.h"
#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "app/FrameQueue.h"
#include "app/HostingActivity.h"
#include "app/MessageRouter.h"
#include "app/ReconnectionManager.h"
#include "app/SessionComponents.h"
#include "app/SystemInfoCollector.h"
#include "app/TaskSlot.h"
#include "app/WebSocketAwait.h"
#include "protocol/ProtocolEncoder.h"
#include "transport/RelayEndpoint.h"
#include "transport/WebSocketManager.h"
#include "video/AdaptiveQuality.h"
#include "video/H264Decoder.h"

#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <qcoro/qcorotask.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace velmarin {

struct CoordinatorOptions {
    std::string relayURL = transport::relayURL();
    std::chrono::milliseconds pingInterval{5000};
    std::chrono::milliseconds systemInfoInterval{5000};
    std::chrono::milliseconds qualityInterval{2000};
    // Between "select_monitor" and "request_keyframe" on the Viewer.
    std::chrono::milliseconds keyframeAfterMonitorSwitch{200};
    // The reconnect back-off's jitter and sleep (real ones when empty).
    ReconnectionManager::JitterSource reconnectJitter;
    ReconnectionManager::Sleeper reconnectSleeper;
};

class AppCoordinator : public QObject {
    Q_OBJECT

public:
    static inline const QString kCaptureUnavailable =
        QStringLiteral("Screen capture niet beschikbaar. Geef toestemming in Systeeminstellingen.");
    static inline const QString kReconnecting =
        QStringLiteral("Verbinding verbroken, herverbinden...");
    static inline const QString kReconnectGaveUp =
        QStringLiteral("Herverbinden mislukt na maximum pogingen");

    AppCoordinator(CommandBus& commands, SessionComponents components = {},
                   CoordinatorOptions options = {}, QObject* parent = nullptr);
    ~AppCoordinator() override;

    // Once, when the main window first appears: creates the router, listens
    // to the commands, wires every component, and starts an unattended Host.
    // `recentConnections` may be null.
    void setup(ConnectionState& connectionState, AppSettings& appSettings,
               RecentConnectionsStore* recentConnections);

    QCoro::Task<void> startHosting();
    QCoro::Task<void> stopHosting();
    QCoro::Task<void> startViewing();
    QCoro::Task<void> stopViewing();

    // Chat from either side; empty texts are ignored.
    QCoro::Task<void> sendChat(QString text);
    // Viewer-side senders for the viewer screen; fire and forget.
    void sendDraw(const protocol::DrawMessage& message);
    void sendDrawClear();
    void sendSpotlight(const protocol::SpotlightMessage& message);
    void sendSpecialKeys(const QString& combo);

    // Host: the monitor list to the Viewer, and the system information task
    // (first report at once, then one per interval).
    QCoro::Task<void> sendMonitorList();
    void startSystemInfoUpdates();

    // The process is ending: stops a reconnect and closes the connection.
    void terminate();

    // For the headless modes and tests.
    transport::WebSocketManager& webSocket() { return *m_webSocket; }
    MessageRouter* messageRouter() { return m_router.get(); }
    bool isReconnecting() const { return m_reconnectTask.isRunning(); }
    bool isSendingSystemInfo() const { return m_systemInfoTask.isRunning(); }
    bool hasCapture() const { return m_capture != nullptr; }
    QSizeF hostScreenSize() const { return m_hostScreenSize; }
    std::uint64_t decodedFrameCount() const { return m_decodedFrames->load(); }

private:
    // Runs `work` on the GUI thread after the current event, unless the
    // coordinator is gone by then.
    template <class F> void mainTask(F&& work) {
        QMetaObject::invokeMethod(this, std::forward<F>(work), Qt::QueuedConnection);
    }
    void handleCommand(const QString& name, const QVariantMap& userInfo);

    // Wiring done by setup, in its order.
    void installVideoHandlers();
    void installInputHandlers();
    void installChatHandlers();
    void installClipboardHandlers();
    void installMonitorHandlers();
    void installSystemInfoHandler();
    void installFileTransferHandlers();
    void installQualityHandler();
    void installHostControlHandlers();

    // Sends a record as text; failures are ignored.
    template <class M> void sendMessage(const M& message);
    template <class M> QCoro::Task<transport::WebSocketResult> sendMessageAwaited(M message);
    void startPingTask();

    // Host.
    protocol::RegisterMessage registerMessage(bool reconnecting) const;
    QCoro::Task<void> startScreenCapture();
    void startFrameStream();
    void finishFrameStream();
    void installHostSessionHandlers(bool clearOverlayOnGreeting);
    QCoro::Task<void> greetViewer(bool clearOverlay);
    QCoro::Task<void> switchMonitor(std::int64_t monitorId);
    void injectSpecialKeys(const std::string& combo);
    void applyQuality(const std::string& level);
    void applySpotlight(const protocol::SpotlightMessage& message);
    AnnotationOverlay* overlay();
    void failHostingStart(const QString& description);
    void onHostConnectionLost();
    void startReconnectLoop();
    QCoro::Task<void> reconnectLoop(std::stop_token stop);
    QCoro::Task<void> adaptiveQualityLoop(std::stop_token stop);
    QCoro::Task<void> releaseCapture();

    // Viewer.
    void answerChallenge(const std::string& password, const std::string& nonce);
    QCoro::Task<void> selectRemoteMonitor(std::int64_t monitorId);
    void storeMonitorList(const std::vector<protocol::MonitorInfo>& monitors);

    void detachRouter();

    CommandBus& m_commands;
    const CoordinatorOptions m_options;
    // Shared with the video sender, which must not outlive its use of it.
    std::shared_ptr<transport::WebSocketManager> m_webSocket;
    std::unique_ptr<MessageRouter> m_router;
    ReconnectionManager m_reconnection;
    video::AdaptiveQuality m_adaptiveQuality;
    SessionComponents m_components;
    // Shared so that an operation awaiting it keeps it alive when a stop
    // drops it meanwhile.
    std::shared_ptr<HostCapture> m_capture;
    std::shared_ptr<FrameQueue> m_frameQueue;
    // A Viewer is connected to this Host (read by the encoder's thread).
    std::shared_ptr<std::atomic<bool>> m_viewerPresent = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<ViewerInput> m_viewerInput;
    // Exists only while hosting.
    std::unique_ptr<HostInput> m_hostInput;
    std::unique_ptr<AnnotationOverlay> m_overlay;
    // The host screen size input is mapped to (the coordinate transformer's).
    QSizeF m_hostScreenSize{1920, 1080};
    QPointer<ConnectionState> m_state;
    QPointer<AppSettings> m_settings;
    RecentConnectionsStore* m_recentConnections = nullptr;
    TaskSlot m_pingTask;
    TaskSlot m_qualityTask;
    TaskSlot m_reconnectTask;
    TaskSlot m_systemInfoTask;
    SystemInfoCollector m_systemInfoCollector;
    std::unique_ptr<HostingActivity> m_hostingActivity;
    // Bumped by each start and stop, so that a start still waiting on the
    // network gives up once its session was stopped or replaced.
    std::uint64_t m_hostEpoch = 0;
    std::uint64_t m_viewEpoch = 0;
    std::shared_ptr<std::atomic<std::uint64_t>> m_decodedFrames =
        std::make_shared<std::atomic<std::uint64_t>>(0);
    // Last: its thread calls into the display and recorder above.
    std::unique_ptr<video::H264Decoder> m_decoder;
};

template <class M> void AppCoordinator::sendMessage(const M& message) {
    if (auto text = protocol::ProtocolEncoder::encode(message))
        m_webSocket->sendText(std::move(*text));
}

template <class M>
QCoro::Task<transport::WebSocketResult> AppCoordinator::sendMessageAwaited(M message) {
    auto text = protocol::ProtocolEncoder::encode(message);
    if (!text)
        co_return std::nullopt;
    co_return co_await awaitSendText(*m_webSocket, std::move(*text));
}

} // namespace velmarin
