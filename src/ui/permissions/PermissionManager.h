#pragma once

// Whether this desktop lets us share the screen and inject input, checked
// through the platform probes it is given (on X11: one grab of the screen
// succeeds; the XTEST extension is present), and polled once a second
// while something is missing. A desktop where sharing cannot work at all
// (a Wayland session where no compositor interface for sharing answers) says so once and is not
// polled. GUI thread only.

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace velmarin::ui {

class PermissionManager : public QObject {
    Q_OBJECT

public:
    struct Probes {
        std::function<bool()> screenRecording;
        std::function<bool()> accessibility;
        // Why sharing can never work on this desktop; nothing where it can.
        std::function<std::optional<QString>()> unsupported;
        // Asks the desktop for what is missing (a Wayland portal's dialog),
        // without waiting for the answer; none where there is nobody to ask.
        std::function<void()> request;
        // Opens the page where a missing capability is explained or granted.
        std::function<void(const QString& page)> openPage;
    };

    explicit PermissionManager(Probes probes, QObject* parent = nullptr);

    bool screenRecordingGranted() const { return m_screenRecordingGranted; }
    bool accessibilityGranted() const { return m_accessibilityGranted; }
    bool allGranted() const { return m_screenRecordingGranted && m_accessibilityGranted; }
    const std::optional<QString>& unsupportedReason() const { return m_unsupported; }
    bool isPolling() const { return m_pollTimer != nullptr; }

    // Refreshes both flags and logs them in one line.
    void checkPermissions();
    // (Re)starts the one-second poll; at most one timer runs. Nothing on a
    // desktop that cannot share at all.
    void startPolling();
    void stopPolling();

    // Asks where there is someone to ask (one question grants both); the
    // poll notices the answer, or on X11 a change (another X server, an
    // extension turned on).
    void requestScreenRecording() { request(); }
    void requestAccessibility() { request(); }
    void openScreenRecordingSettings();
    void openAccessibilitySettings();

    static constexpr int kPollIntervalMs = 1000;

signals:
    void changed();

private:
    void request();

    Probes m_probes;
    bool m_screenRecordingGranted = false;
    bool m_accessibilityGranted = false;
    std::optional<QString> m_unsupported;
    std::unique_ptr<QTimer> m_pollTimer;
};

} // namespace velmarin::ui
