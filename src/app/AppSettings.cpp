#include "app/AppSettings.h"

#include "secrets/SecretServiceStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace velmarin {

namespace {

namespace Key {
const QString useFixedCredentials = QStringLiteral("useFixedCredentials");
const QString fixedPassword = QStringLiteral("fixedPassword");
const QString fixedID = QStringLiteral("fixedID");
const QString preferredQuality = QStringLiteral("preferredQuality");
const QString autoStartHosting = QStringLiteral("autoStartHosting");
const QString launchAtLogin = QStringLiteral("launchAtLogin");
const QString relayHost = QStringLiteral("relayHost");
const QString relayCAFile = QStringLiteral("relayCAFile");
} // namespace Key

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// The file may hold the fixed password: create it owner-only before the first
// write, so that it never exists with wider rights (later saves keep the
// mode of the file they replace).
void prepareOwnerOnlyFile(const QString& path) {
    if (QFileInfo::exists(path))
        return;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        file.setPermissions(kOwnerOnly);
}

} // namespace

QString AppSettings::userFile() {
    const QString file = QSettings(QSettings::IniFormat, QSettings::UserScope,
                                   QStringLiteral("Tessamund"), QStringLiteral("Velmarin"))
                             .fileName();
    prepareOwnerOnlyFile(file);
    return file;
}

AppSettings::AppSettings(QObject* parent)
    : AppSettings(userFile(), std::make_unique<XdgAutostartLoginItem>(),
                  std::make_unique<secrets::SecretServiceStore>(), parent) {}

AppSettings::AppSettings(const QString& settingsFile, std::unique_ptr<LoginItem> loginItem,
                         std::unique_ptr<secrets::SecretStore> secrets, QObject* parent)
    : QObject(parent)
    , m_settings((prepareOwnerOnlyFile(settingsFile), settingsFile), QSettings::IniFormat)
    , m_fixedPasswordStorage(m_settings, std::move(secrets))
    , m_loginItem(std::move(loginItem)) {
    m_useFixedCredentials = m_settings.value(Key::useFixedCredentials, false).toBool();
    if (m_useFixedCredentials || m_settings.contains(Key::fixedPassword))
        loadFixedPassword();
    m_fixedID = m_settings.value(Key::fixedID, QString()).toString();
    m_preferredQuality = m_settings.value(Key::preferredQuality, QStringLiteral("auto")).toString();
    m_autoStartHosting = m_settings.value(Key::autoStartHosting, false).toBool();
    m_launchAtLogin = m_loginItem && m_loginItem->isEnabled();
    m_relayHost = m_settings.value(Key::relayHost, QString()).toString();
    m_relayCAFile = m_settings.value(Key::relayCAFile, QString()).toString();
}

AppSettings::~AppSettings() = default;

void AppSettings::store(const QString& key, const QVariant& value) {
    m_settings.setValue(key, value);
    m_settings.sync();
    QFile::setPermissions(m_settings.fileName(), kOwnerOnly);
}

void AppSettings::loadFixedPassword() {
    m_fixedPassword = m_fixedPasswordStorage.load();
    m_fixedPasswordLoaded = true;
}

void AppSettings::setUseFixedCredentials(bool value) {
    if (value == m_useFixedCredentials)
        return;
    m_useFixedCredentials = value;
    store(Key::useFixedCredentials, value);
    emit useFixedCredentialsChanged(value);
    if (value && !m_fixedPasswordLoaded) {
        loadFixedPassword();
        if (!m_fixedPassword.isEmpty())
            emit fixedPasswordChanged(m_fixedPassword);
    }
}

void AppSettings::setFixedPassword(const QString& value) {
    if (!m_fixedPasswordLoaded)
        loadFixedPassword();
    if (value == m_fixedPassword)
        return;
    m_fixedPassword = value;
    m_fixedPasswordStorage.save(value);
    emit fixedPasswordChanged(value);
}

void AppSettings::setFixedID(const QString& value) {
    if (value == m_fixedID)
        return;
    m_fixedID = value;
    store(Key::fixedID, value);
    emit fixedIDChanged(value);
}

void AppSettings::setAutoStartHosting(bool value) {
    if (value == m_autoStartHosting)
        return;
    m_autoStartHosting = value;
    store(Key::autoStartHosting, value);
    emit autoStartHostingChanged(value);
}

void AppSettings::setLaunchAtLogin(bool value) {
    if (value == m_launchAtLogin)
        return;
    m_launchAtLogin = value;
    store(Key::launchAtLogin, value);
    emit launchAtLoginChanged(value);
    const bool applied = m_loginItem && (value ? m_loginItem->enable() : m_loginItem->disable());
    if (!applied) {
        m_launchAtLogin = !value;
        emit launchAtLoginChanged(m_launchAtLogin);
    }
}

void AppSettings::setRelayServer(const QString& host, const QString& caFile) {
    if (host == m_relayHost && caFile == m_relayCAFile)
        return;
    m_relayHost = host;
    m_relayCAFile = caFile;
    store(Key::relayHost, host);
    store(Key::relayCAFile, caFile);
    emit relayServerChanged();
}

} // namespace velmarin
