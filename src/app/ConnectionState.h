#pragma once

// The one observable record of the session for the user interface: role,
// status, credentials, statistics, the connection log, chat, monitors, the
// remote system and file-transfer progress. GUI thread only; every property
// has a change signal, emitted after the value changed (never for a write of
// the same value).

#include "app/ConnectionStatus.h"
#include "protocol/ProtocolMessages.h"

#include <QList>
#include <QObject>
#include <QSizeF>
#include <QString>

#include <functional>
#include <optional>

namespace velmarin {

class ConnectionState : public QObject {
    Q_OBJECT

public:
    // At most this many lines stay in debugLog, newest first.
    static constexpr int kMaxLogLines = 20;

    explicit ConnectionState(QObject* parent = nullptr);
    const Mode& mode() const { return m_mode; }
    void setMode(const Mode& value);
    const Status& status() const { return m_status; }
    void setStatus(const Status& value);
    const QString& localID() const { return m_localID; }
    void setLocalID(const QString& value);
    const QString& localPassword() const { return m_localPassword; }
    // A new six-character session password.
    static QString newSessionPassword();
    void setLocalPassword(const QString& value);
    const QString& remoteID() const { return m_remoteID; }
    void setRemoteID(const QString& value);
    const QString& remotePassword() const { return m_remotePassword; }
    void setRemotePassword(const QString& value);
    const QSizeF& remoteScreenSize() const { return m_remoteScreenSize; }
    void setRemoteScreenSize(const QSizeF& value);
    double fps() const { return m_fps; }
    void setFps(double value);
    double latencyMs() const { return m_latencyMs; }
    void setLatencyMs(double value);
    bool isSharing() const { return m_isSharing; }
    void setIsSharing(bool value);
    bool isViewing() const { return m_isViewing; }
    void setIsViewing(bool value);
    bool isRecording() const { return m_isRecording; }
    void setIsRecording(bool value);
    const std::optional<QString>& disconnectMessage() const { return m_disconnectMessage; }
    void setDisconnectMessage(const std::optional<QString>& value);
    const std::optional<QString>& connectedPeerName() const { return m_connectedPeerName; }
    void setConnectedPeerName(const std::optional<QString>& value);
    const QList<protocol::ChatMessage>& chatMessages() const { return m_chatMessages; }
    void setChatMessages(const QList<protocol::ChatMessage>& value);
    bool showChat() const { return m_showChat; }
    void setShowChat(bool value);
    int unreadChatCount() const { return m_unreadChatCount; }
    void setUnreadChatCount(int value);
    const QList<protocol::MonitorInfo>& availableMonitors() const { return m_availableMonitors; }
    void setAvailableMonitors(const QList<protocol::MonitorInfo>& value);
    qint64 selectedMonitorId() const { return m_selectedMonitorId; }
    void setSelectedMonitorId(qint64 value);
    const std::optional<protocol::SystemInfoMessage>& remoteSystemInfo() const {
        return m_remoteSystemInfo;
    }
    void setRemoteSystemInfo(const std::optional<protocol::SystemInfoMessage>& value);
    const std::optional<double>& fileTransferProgress() const { return m_fileTransferProgress; }
    void setFileTransferProgress(const std::optional<double>& value);
    const std::optional<QString>& fileTransferName() const { return m_fileTransferName; }
    void setFileTransferName(const std::optional<QString>& value);
    // How the last transfer ended, in Dutch ("Bestand verstuurd: …", or why
    // it failed); cleared when the next one starts.
    const std::optional<QString>& fileTransferNotice() const { return m_fileTransferNotice; }
    void setFileTransferNotice(const std::optional<QString>& value);

    // The connection log: "[time] message\n" lines, newest first.
    const QString& debugLog() const { return m_debugLog; }
    // Prepends "[" + time + "] " + message + "\n" and keeps the newest 20
    // lines; once trimmed the log no longer ends with a line feed.
    void log(const QString& message);

    // The time stamp of log lines (the locale's time with seconds); tests
    // replace it.
    void setTimeFormatter(std::function<QString()> formatter);

signals:
    void modeChanged(const Mode& value);
    void statusChanged(const Status& value);
    void localIDChanged(const QString& value);
    void localPasswordChanged(const QString& value);
    void remoteIDChanged(const QString& value);
    void remotePasswordChanged(const QString& value);
    void remoteScreenSizeChanged(const QSizeF& value);
    void fpsChanged(double value);
    void latencyMsChanged(double value);
    void isSharingChanged(bool value);
    void isViewingChanged(bool value);
    void isRecordingChanged(bool value);
    void disconnectMessageChanged(const std::optional<QString>& value);
    void connectedPeerNameChanged(const std::optional<QString>& value);
    void chatMessagesChanged(const QList<protocol::ChatMessage>& value);
    void showChatChanged(bool value);
    void unreadChatCountChanged(int value);
    void availableMonitorsChanged(const QList<protocol::MonitorInfo>& value);
    void selectedMonitorIdChanged(qint64 value);
    void remoteSystemInfoChanged(const std::optional<protocol::SystemInfoMessage>& value);
    void fileTransferProgressChanged(const std::optional<double>& value);
    void fileTransferNameChanged(const std::optional<QString>& value);
    void fileTransferNoticeChanged(const std::optional<QString>& value);
    void debugLogChanged(const QString& value);

private:
    Mode m_mode{Mode::host};
    Status m_status;
    QString m_localID;
    QString m_localPassword;
    QString m_remoteID;
    QString m_remotePassword;
    QSizeF m_remoteScreenSize{0, 0};
    double m_fps{0.0};
    double m_latencyMs{0.0};
    bool m_isSharing{false};
    bool m_isViewing{false};
    bool m_isRecording{false};
    std::optional<QString> m_disconnectMessage;
    std::optional<QString> m_connectedPeerName;
    QList<protocol::ChatMessage> m_chatMessages;
    bool m_showChat{false};
    int m_unreadChatCount{0};
    QList<protocol::MonitorInfo> m_availableMonitors;
    qint64 m_selectedMonitorId{1};
    std::optional<protocol::SystemInfoMessage> m_remoteSystemInfo;
    std::optional<double> m_fileTransferProgress;
    std::optional<QString> m_fileTransferName;
    std::optional<QString> m_fileTransferNotice;
    QString m_debugLog;
    std::function<QString()> m_timeFormatter;
};

} // namespace velmarin
