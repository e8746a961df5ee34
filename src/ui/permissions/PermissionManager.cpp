#include "ui/permissions/PermissionManager.h"

#include "interfaces/Log.h"
#include "ui/common/Appearance.h"

namespace velmarin::ui {

PermissionManager::PermissionManager(Probes probes, QObject* parent)
    : QObject(parent)
    , m_probes(std::move(probes)) {
    if (m_probes.unsupported)
        m_unsupported = m_probes.unsupported();
}

void PermissionManager::checkPermissions() {
    const bool screen = !m_unsupported && m_probes.screenRecording && m_probes.screenRecording();
    const bool input = !m_unsupported && m_probes.accessibility && m_probes.accessibility();
    qCInfo(Log::permissions, "Screen Recording: %s, Accessibility: %s", screen ? "true" : "false",
           input ? "true" : "false");
    if (screen == m_screenRecordingGranted && input == m_accessibilityGranted)
        return;
    m_screenRecordingGranted = screen;
    m_accessibilityGranted = input;
    emit changed();
}

void PermissionManager::startPolling() {
    if (m_unsupported)
        return;
    m_pollTimer = std::make_unique<QTimer>();
    m_pollTimer->setInterval(kPollIntervalMs);
    connect(m_pollTimer.get(), &QTimer::timeout, this, [this] {
        checkPermissions();
        if (allGranted())
            stopPolling();
    });
    m_pollTimer->start();
}

void PermissionManager::request() {
    if (m_unsupported)
        return;
    if (m_probes.request)
        m_probes.request();
    startPolling();
}

void PermissionManager::stopPolling() {
    // A tick may stop its own timer: let it finish before it goes.
    if (m_pollTimer)
        m_pollTimer.release()->deleteLater();
}

void PermissionManager::openScreenRecordingSettings() {
    if (m_probes.openPage)
        m_probes.openPage(Links::screenRecordingHelp);
}

void PermissionManager::openAccessibilitySettings() {
    if (m_probes.openPage)
        m_probes.openPage(Links::accessibilityHelp);
}

} // namespace velmarin::ui
