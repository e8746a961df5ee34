#include "app/AppTestSupport.h"

namespace velmarin::testing {

namespace {
LogCapture* g_capture = nullptr; // the one installed handler's target
}

LogCapture::LogCapture(const char* category)
    : m_category(QString::fromLatin1(category)) {
    QLoggingCategory::setFilterRules(m_category + QStringLiteral(".debug=true"));
    g_capture = this;
    m_previous = qInstallMessageHandler(handler);
}

LogCapture::~LogCapture() {
    qInstallMessageHandler(m_previous);
    g_capture = nullptr;
    QLoggingCategory::setFilterRules(QString());
}

void LogCapture::handler(QtMsgType, const QMessageLogContext& context, const QString& message) {
    if (!g_capture || QString::fromLatin1(context.category) != g_capture->m_category)
        return;
    std::lock_guard lock(g_capture->m_mutex);
    g_capture->m_messages.push_back(message);
}

QList<QString> LogCapture::messages() const {
    std::lock_guard lock(m_mutex);
    return m_messages;
}

int LogCapture::count(const QString& message) const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_messages.count(message));
}

} // namespace velmarin::testing
