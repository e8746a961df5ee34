#include "app/ConnectionState.h"

#include "protocol/PasswordGenerator.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTime>

namespace velmarin {

QString ConnectionState::newSessionPassword() {
    return QString::fromStdString(protocol::PasswordGenerator::generate(
        protocol::PasswordGenerator::kSessionPasswordLength));
}

namespace {

// The locale's long time format without its time-zone part: hours, minutes
// and seconds in the user's convention.
QString localTimeWithSeconds() {
    const QLocale locale;
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*")));
    return locale.toString(QTime::currentTime(), format.trimmed());
}

template <class T, class Signal>
void assign(ConnectionState* state, T& member, const T& value, Signal signal) {
    if (member == value)
        return;
    member = value;
    emit(state->*signal)(member);
}

} // namespace

ConnectionState::ConnectionState(QObject* parent)
    : QObject(parent)
    , m_timeFormatter(localTimeWithSeconds) {}

void ConnectionState::setMode(const Mode& value) {
    assign(this, m_mode, value, &ConnectionState::modeChanged);
}

void ConnectionState::setStatus(const Status& value) {
    assign(this, m_status, value, &ConnectionState::statusChanged);
}

void ConnectionState::setLocalID(const QString& value) {
    assign(this, m_localID, value, &ConnectionState::localIDChanged);
}

void ConnectionState::setLocalPassword(const QString& value) {
    assign(this, m_localPassword, value, &ConnectionState::localPasswordChanged);
}

void ConnectionState::setRemoteID(const QString& value) {
    assign(this, m_remoteID, value, &ConnectionState::remoteIDChanged);
}

void ConnectionState::setRemotePassword(const QString& value) {
    assign(this, m_remotePassword, value, &ConnectionState::remotePasswordChanged);
}

void ConnectionState::setRemoteScreenSize(const QSizeF& value) {
    assign(this, m_remoteScreenSize, value, &ConnectionState::remoteScreenSizeChanged);
}

void ConnectionState::setFps(double value) {
    assign(this, m_fps, value, &ConnectionState::fpsChanged);
}

void ConnectionState::setLatencyMs(double value) {
    assign(this, m_latencyMs, value, &ConnectionState::latencyMsChanged);
}

void ConnectionState::setIsSharing(bool value) {
    assign(this, m_isSharing, value, &ConnectionState::isSharingChanged);
}

void ConnectionState::setIsViewing(bool value) {
    assign(this, m_isViewing, value, &ConnectionState::isViewingChanged);
}

void ConnectionState::setIsRecording(bool value) {
    assign(this, m_isRecording, value, &ConnectionState::isRecordingChanged);
}

void ConnectionState::setDisconnectMessage(const std::optional<QString>& value) {
    assign(this, m_disconnectMessage, value, &ConnectionState::disconnectMessageChanged);
}

void ConnectionState::setConnectedPeerName(const std::optional<QString>& value) {
    assign(this, m_connectedPeerName, value, &ConnectionState::connectedPeerNameChanged);
}

void ConnectionState::setChatMessages(const QList<protocol::ChatMessage>& value) {
    assign(this, m_chatMessages, value, &ConnectionState::chatMessagesChanged);
}

void ConnectionState::setShowChat(bool value) {
    assign(this, m_showChat, value, &ConnectionState::showChatChanged);
}

void ConnectionState::setUnreadChatCount(int value) {
    assign(this, m_unreadChatCount, value, &ConnectionState::unreadChatCountChanged);
}

void ConnectionState::setAvailableMonitors(const QList<protocol::MonitorInfo>& value) {
    assign(this, m_availableMonitors, value, &ConnectionState::availableMonitorsChanged);
}

void ConnectionState::setSelectedMonitorId(qint64 value) {
    assign(this, m_selectedMonitorId, value, &ConnectionState::selectedMonitorIdChanged);
}

void ConnectionState::setRemoteSystemInfo(const std::optional<protocol::SystemInfoMessage>& value) {
    assign(this, m_remoteSystemInfo, value, &ConnectionState::remoteSystemInfoChanged);
}

void ConnectionState::setFileTransferProgress(const std::optional<double>& value) {
    assign(this, m_fileTransferProgress, value, &ConnectionState::fileTransferProgressChanged);
}

void ConnectionState::setFileTransferName(const std::optional<QString>& value) {
    assign(this, m_fileTransferName, value, &ConnectionState::fileTransferNameChanged);
}

void ConnectionState::setFileTransferNotice(const std::optional<QString>& value) {
    assign(this, m_fileTransferNotice, value, &ConnectionState::fileTransferNoticeChanged);
}

void ConnectionState::setTimeFormatter(std::function<QString()> formatter) {
    m_timeFormatter = std::move(formatter);
}

void ConnectionState::log(const QString& message) {
    QString updated = QLatin1Char('[') + m_timeFormatter() + QStringLiteral("] ") + message +
                      QLatin1Char('\n') + m_debugLog;
    const QStringList lines = updated.split(QLatin1Char('\n'));
    if (lines.size() > kMaxLogLines)
        updated = lines.mid(0, kMaxLogLines).join(QLatin1Char('\n'));
    m_debugLog = updated;
    emit debugLogChanged(m_debugLog);
}

} // namespace velmarin
