#pragma once

// Owns the relay connection, the router and the session components, and
// which session is live: at most one, hosting (startHosting … stopHosting)
// or viewing (startViewing … stopViewing). A session is an object made by
// its start and destroyed by its stop; the router's messages reach it only
// while it is live. The user interface observes ConnectionState and
// AppSettings and commands the coordinator through the CommandBus or by
// calling its operations.
//
// GUI thread only. Coroutine operations re-check the coordinator after each
// wait: it may be gone by then.

#include "app/AppSettings.h"
#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "app/HostSession.h"
#include "app/MessageRouter.h"
#include "app/SessionContext.h"
#include "app/ViewerSession.h"

#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <qcoro/qcorotask.h>

#include <atomic>
#include <memory>

namespace velmarin {

class AppCoordinator : public QObject {
    Q_OBJECT

public:
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
    // Offers a local file to the peer while connected; its name and progress
    // show in the state, how it ended in fileTransferNotice. False when it
    // does not start (another transfer runs, the file cannot be read).
    bool sendFile(const QString& path);
    // Starts (while viewing) or stops recording into the Videos folder.
    void setRecording(bool on);

    // The process is ending: stops a reconnect and closes the connection.
    void terminate();

    // For the headless modes and tests.
    transport::WebSocketManager& webSocket() { return *m_webSocket; }
    MessageRouter* messageRouter() { return m_router.get(); }
    HostSession* hostSession() const { return m_host.get(); }
    ViewerSession* viewerSession() const { return m_viewer.get(); }
    bool isReconnecting() const { return m_host && m_host->isReconnecting(); }
    bool isSendingSystemInfo() const { return m_host && m_host->isSendingSystemInfo(); }
    bool hasCapture() const { return m_host && m_host->hasCapture(); }
    QSizeF hostScreenSize() const { return m_viewer ? m_viewer->hostScreenSize() : QSizeF(); }
    std::uint64_t decodedFrameCount() const { return m_decodedFrames->load(); }

private:
    // Runs `work` on the GUI thread after the current event, unless the
    // coordinator is gone by then.
    template <class F> void mainTask(F&& work) {
        QMetaObject::invokeMethod(this, std::forward<F>(work), Qt::QueuedConnection);
    }
    void handleCommand(const QString& name, const QVariantMap& userInfo);
    // The Host's capture ended by itself: sharing stops, and says why.
    QCoro::Task<void> captureEnded();
    SessionContext sessionContext();
    // The router accepts what the live session's role may receive.
    void updateRole();

    // Wiring done by setup, in its order.
    void installSessionHandlers();
    void installDisplayHandlers();
    void installChatHandlers();
    void installClipboardHandlers();
    void installFileTransferHandlers();

    template <class M> void sendMessage(const M& message) {
        velmarin::sendMessage(*m_webSocket, message);
    }

    CommandBus& m_commands;
    const CoordinatorOptions m_options;
    std::shared_ptr<transport::WebSocketManager> m_webSocket;
    std::unique_ptr<MessageRouter> m_router;
    SessionComponents m_components;
    QPointer<ConnectionState> m_state;
    QPointer<AppSettings> m_settings;
    RecentConnectionsStore* m_recentConnections = nullptr;
    std::shared_ptr<std::atomic<std::uint64_t>> m_decodedFrames =
        std::make_shared<std::atomic<std::uint64_t>>(0);
    // The live session, if any. Last: sessions call into everything above.
    std::unique_ptr<HostSession> m_host;
    std::unique_ptr<ViewerSession> m_viewer;
};

} // namespace velmarin
