#pragma once

// Helpers for tests that run the Qt event loop.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QList>
#include <QLoggingCategory>
#include <QString>
#include <QThread>

#include <chrono>
#include <functional>
#include <mutex>

namespace velmarin::testing {

// Runs the event loop until `condition` holds or `timeout` passed.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

// Collects the messages of one logging category while it exists (debug
// level included).
class LogCapture {
public:
    explicit LogCapture(const char* category = "com.tessamund.velmarin.network");
    ~LogCapture();
    QList<QString> messages() const;
    int count(const QString& message) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);
    QString m_category;
    QtMessageHandler m_previous = nullptr;
    mutable std::mutex m_mutex;
    QList<QString> m_messages;
};

} // namespace velmarin::testing
