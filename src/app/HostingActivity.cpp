#include "app/HostingActivity.h"

#include "interfaces/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

#include <unistd.h>

namespace velmarin {

namespace {

// A missing service must not hold up the start of sharing.
constexpr int kCallTimeoutMs = 1000;

const QString kApplicationName = QStringLiteral("Velmarin");

// A plain method call: no introspection round trip, a short time-out.
QDBusMessage call(QDBusConnection& bus, const QString& service, const QString& path,
                  const QString& interface, const QString& method, const QVariantList& args) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    return bus.call(message, QDBus::Block, kCallTimeoutMs);
}

const QString kScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kScreenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");

} // namespace

std::unique_ptr<HostingActivity> HostingActivity::begin(const QString& reason) {
    std::unique_ptr<HostingActivity> activity(new HostingActivity);
    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected()) {
        const QDBusReply<unsigned> cookie =
            call(session, kScreenSaver, kScreenSaverPath, kScreenSaver, QStringLiteral("Inhibit"),
                 {kApplicationName, reason});
        if (cookie.isValid()) {
            activity->m_screenSaver = true;
            activity->m_screenSaverCookie = cookie.value();
        }
    }
    QDBusConnection system = QDBusConnection::systemBus();
    if (!activity->m_screenSaver && system.isConnected()) {
        const QDBusReply<QDBusUnixFileDescriptor> fd =
            call(system, QStringLiteral("org.freedesktop.login1"),
                 QStringLiteral("/org/freedesktop/login1"),
                 QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"),
                 {QStringLiteral("idle:sleep"), kApplicationName, reason, QStringLiteral("block")});
        // The inhibition lasts as long as we hold a duplicate of the file.
        if (fd.isValid() && fd.value().isValid())
            activity->m_logindFd = ::dup(fd.value().fileDescriptor());
    }
    qCInfo(Log::capture, "App Nap prevention active");
    qCDebug(Log::capture, "Idle inhibition through %s", qPrintable(activity->mechanism()));
    return activity;
}

HostingActivity::~HostingActivity() {
    if (m_screenSaver) {
        QDBusConnection session = QDBusConnection::sessionBus();
        call(session, kScreenSaver, kScreenSaverPath, kScreenSaver, QStringLiteral("UnInhibit"),
             {m_screenSaverCookie});
    }
    if (m_logindFd >= 0)
        ::close(m_logindFd);
    qCInfo(Log::capture, "App Nap prevention ended");
}

QString HostingActivity::mechanism() const {
    if (m_screenSaver)
        return QStringLiteral("screensaver");
    if (m_logindFd >= 0)
        return QStringLiteral("logind");
    return QStringLiteral("none");
}

} // namespace velmarin
