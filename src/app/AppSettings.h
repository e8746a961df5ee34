#pragma once

// The user's persistent choices. Every change of a stored field is written to
// the settings file at once (INI, user scope, "Tessamund"/"Velmarin", mode
// 0600); the fixed password goes to the Secret Service instead where one
// takes it (FixedPasswordStorage). GUI thread only.

#include "app/FixedPasswordStorage.h"
#include "app/LoginItem.h"

#include <QObject>
#include <QSettings>
#include <QString>

#include <memory>

namespace velmarin {

class AppSettings : public QObject {
    Q_OBJECT

public:
    // The user's settings file, XDG autostart entry and Secret Service.
    explicit AppSettings(QObject* parent = nullptr);
    // A given settings file, login-item mechanism and secret store (none:
    // the fixed password stays in the settings file).
    AppSettings(const QString& settingsFile, std::unique_ptr<LoginItem> loginItem,
                std::unique_ptr<secrets::SecretStore> secrets = nullptr, QObject* parent = nullptr);
    ~AppSettings() override;

    // The user's settings file, created readable by the owner only when it
    // is not there yet (it keeps credentials): for the few values that live
    // there without an AppSettings, such as a Wayland portal's restore token.
    static QString userFile();

    bool useFixedCredentials() const { return m_useFixedCredentials; }
    const QString& fixedPassword() const { return m_fixedPassword; }
    const QString& fixedID() const { return m_fixedID; }
    // Read once at start-up, never written.
    const QString& preferredQuality() const { return m_preferredQuality; }
    bool autoStartHosting() const { return m_autoStartHosting; }
    // Whether the login item is registered (read from it at start-up).
    bool launchAtLogin() const { return m_launchAtLogin; }
    // Both automatic hosting and fixed credentials on.
    bool isUnattended() const { return m_autoStartHosting && m_useFixedCredentials; }

    void setUseFixedCredentials(bool value);
    void setFixedPassword(const QString& value);
    void setFixedID(const QString& value);
    void setAutoStartHosting(bool value);
    // Stores the choice, then registers or removes the login item; when that
    // fails the switch flips back (the stored value keeps the attempt: the
    // next start reads the real state).
    void setLaunchAtLogin(bool value);

    // The relay to use instead of the built-in one ("host" or "host:port";
    // empty: the default) and an extra CA file to trust for it. Read at
    // start-up; VELMARIN_RELAY_HOST and VELMARIN_RELAY_CA win over them.
    const QString& relayHost() const { return m_relayHost; }
    const QString& relayCAFile() const { return m_relayCAFile; }
    void setRelayServer(const QString& host, const QString& caFile);

    QString fileName() const { return m_settings.fileName(); }

signals:
    void useFixedCredentialsChanged(bool value);
    void fixedPasswordChanged(const QString& value);
    void fixedIDChanged(const QString& value);
    void autoStartHostingChanged(bool value);
    void launchAtLoginChanged(bool value);
    void relayServerChanged();

private:
    void store(const QString& key, const QVariant& value);
    void loadFixedPassword();

    QSettings m_settings;
    FixedPasswordStorage m_fixedPasswordStorage;
    std::unique_ptr<LoginItem> m_loginItem;
    bool m_useFixedCredentials = false;
    // Read from its store once fixed credentials are on (or the file still
    // holds it): a user without them never waits on the Secret Service.
    bool m_fixedPasswordLoaded = false;
    QString m_fixedPassword;
    QString m_fixedID;
    QString m_preferredQuality;
    bool m_autoStartHosting = false;
    bool m_launchAtLogin = false;
    QString m_relayHost;
    QString m_relayCAFile;
};

} // namespace velmarin
