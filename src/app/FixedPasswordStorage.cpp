#include "app/FixedPasswordStorage.h"

#include "interfaces/Log.h"

#include <QFile>

namespace velmarin {

namespace {

const QString kKey = QStringLiteral("fixedPassword");

} // namespace

FixedPasswordStorage::FixedPasswordStorage(QSettings& file,
                                           std::unique_ptr<secrets::SecretStore> secrets)
    : m_file(file)
    , m_secrets(std::move(secrets)) {}

FixedPasswordStorage::~FixedPasswordStorage() = default;

QString FixedPasswordStorage::load() {
    const QString inFile = m_file.value(kKey).toString();
    if (!inFile.isEmpty()) {
        if (!m_secrets) {
            qCInfo(Log::settings, "Fixed password kept in the settings file (owner-only)");
            return inFile;
        }
        if (const auto saved = m_secrets->save(kAddress, inFile.toStdString(), kLabel); !saved) {
            qCInfo(Log::settings,
                   "Fixed password kept in the settings file (owner-only): %s; it moves into the "
                   "Secret Service at a later start",
                   saved.error().description().c_str());
            return inFile;
        }
        writeFile({});
        qCInfo(Log::settings,
               "Fixed password kept in the Secret Service (moved there from the settings file)");
        return inFile;
    }
    if (!m_secrets)
        return {};
    if (const auto stored = m_secrets->load(kAddress)) {
        qCInfo(Log::settings, "Fixed password kept in the Secret Service");
        return QString::fromStdString(*stored);
    }
    qCInfo(Log::settings, "No fixed password in the settings file or the Secret Service");
    return {};
}

void FixedPasswordStorage::save(const QString& password) {
    if (password.isEmpty()) {
        writeFile({});
        const auto removed =
            m_secrets ? m_secrets->remove(kAddress) : Expected<void, secrets::SecretStoreError>();
        if (!removed)
            qCWarning(Log::settings, "Fixed password not removed from the Secret Service: %s",
                      removed.error().description().c_str());
        else
            qCInfo(Log::settings, "Fixed password removed");
        return;
    }
    if (!m_secrets) {
        qCInfo(Log::settings, "Fixed password kept in the settings file (owner-only)");
    } else if (const auto saved = m_secrets->save(kAddress, password.toStdString(), kLabel);
               !saved) {
        qCInfo(Log::settings, "Fixed password kept in the settings file (owner-only): %s",
               saved.error().description().c_str());
    } else {
        writeFile({});
        qCInfo(Log::settings, "Fixed password kept in the Secret Service");
        return;
    }
    writeFile(password);
}

// The file keeps no empty key behind: its absence is what tells a later
// load to ask the Secret Service.
void FixedPasswordStorage::writeFile(const QString& password) {
    if (password.isEmpty()) {
        if (!m_file.contains(kKey))
            return;
        m_file.remove(kKey);
    } else {
        m_file.setValue(kKey, password);
    }
    m_file.sync();
    QFile::setPermissions(m_file.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace velmarin
