#pragma once

// One hosting session: from "start sharing" to "stop". It owns everything
// that exists only while this machine is shared: the capture and its frame
// stream, the input injector, the annotation overlay, the quality loop, the
// ping, system-information and reconnect tasks, and the idle inhibition.
// Destroying it is the teardown; stop() is the graceful end before that
// (telling the relay, stopping the capture off the GUI thread).
//
// GUI thread only, except the video sender (its own thread). Coroutines
// re-check the session after each wait: it may be gone by then.

#include "app/FrameQueue.h"
#include "app/HostingActivity.h"
#include "app/SessionContext.h"
#include "app/SystemInfoCollector.h"
#include "video/AdaptiveQuality.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

namespace velmarin {

class HostSession : public QObject {
    Q_OBJECT

public:
    static inline const QString kCaptureUnavailable =
        QStringLiteral("Screen capture niet beschikbaar. Geef toestemming in Systeeminstellingen.");
    static inline const QString kReconnecting =
        QStringLiteral("Verbinding verbroken, herverbinden...");
    static inline const QString kReconnectGaveUp =
        QStringLiteral("Herverbinden mislukt na maximum pogingen");
    static inline const QString kCaptureEnded =
        QStringLiteral("Het delen is gestopt: de schermopname is weggevallen.");

    explicit HostSession(SessionContext context, QObject* parent = nullptr);
    ~HostSession() override;

    // Starts the capture, connects and registers. False when the session
    // has ended by itself (no capture, or a failed start that nobody
    // retries): its owner drops it.
    QCoro::Task<bool> start();
    // Says goodbye to the relay and stops the capture off the GUI thread.
    QCoro::Task<void> stop();

    // What the relay and the paired Viewer ask of this Host.
    void viewerConnected();
    void viewerDisconnected();
    void connectionLost();
    void injectMouseEvent(const protocol::MouseEventMessage& message);
    void injectKeyEvent(const protocol::KeyEventMessage& message);
    void injectSpecialKeys(const std::string& combo);
    QCoro::Task<void> switchMonitor(std::int64_t monitorId);
    void applyQuality(const std::string& level);
    void forceNextKeyframe();
    void draw(const protocol::DrawMessage& message);
    void clearDrawing();
    void applySpotlight(const protocol::SpotlightMessage& message);

    // The monitor list to the Viewer, and the system information task
    // (first report at once, then one per interval).
    QCoro::Task<void> sendMonitorList();
    void startSystemInfoUpdates();

    // The process is ending: no more attempts.
    void cancelReconnect() { m_reconnectTask.cancel(); }

    // The capture ended by itself while hosting (the display or the
    // compositor's cast went away); GUI thread.
    std::function<void()> onCaptureEnded;

    bool hasCapture() const { return m_capture != nullptr; }
    bool isReconnecting() const { return m_reconnectTask.isRunning(); }
    bool isSendingSystemInfo() const { return m_systemInfoTask.isRunning(); }

private:
    protocol::RegisterMessage registerMessage(bool reconnecting) const;
    QCoro::Task<void> startScreenCapture();
    void startFrameStream();
    void releaseViewer();
    void finishFrameStream();
    void registered();
    QCoro::Task<void> greetViewer();
    void sendScreenInfo();
    AnnotationOverlay* overlay();
    QCoro::Task<bool> failStart(const QString& description);
    void startReconnectLoop();
    QCoro::Task<void> reconnectLoop(std::stop_token stop);
    QCoro::Task<void> adaptiveQualityLoop(std::stop_token stop);

    SessionContext m_context;
    transport::WebSocketManager& m_webSocket;
    ConnectionState& m_state;
    std::unique_ptr<HostingActivity> m_hostingActivity;
    // Shared so that an operation awaiting it keeps it alive when a stop
    // drops it meanwhile.
    std::shared_ptr<HostCapture> m_capture;
    std::shared_ptr<FrameQueue> m_frameQueue;
    // A Viewer is paired with this Host (read by the encoder's thread).
    std::shared_ptr<std::atomic<bool>> m_viewerPresent = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<HostInput> m_input;
    std::unique_ptr<AnnotationOverlay> m_overlay;
    // A first greeting starts with a clean overlay; one after a reconnect
    // keeps what the Viewer drew.
    bool m_clearOverlayOnGreeting = true;
    ReconnectionManager m_reconnection;
    video::AdaptiveQuality m_adaptiveQuality;
    SystemInfoCollector m_systemInfoCollector;
    TaskSlot m_pingTask;
    TaskSlot m_qualityTask;
    TaskSlot m_reconnectTask;
    TaskSlot m_systemInfoTask;
};

} // namespace velmarin
