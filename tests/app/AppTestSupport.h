#pragma once

// Helpers for tests that run the Qt event loop.

#include "support/WaitUntil.h"

#include <QList>
#include <QLoggingCategory>
#include <QString>

#include <mutex>

namespace velmarin::testing {

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
