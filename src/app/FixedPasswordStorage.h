#pragma once

// Where the fixed password is kept: in the Secret Service when one takes it,
// otherwise (a server without one, a locked keyring) in the owner-only
// settings file. A password the settings file holds (written by an older
// version, or while no Secret Service answered) moves into the Secret Service
// at the next load that finds one: it is stored there first and only then
// removed from the file, so it is never lost. One log line says where the
// password is; no log line shows it.
//
// GUI thread only. Calls wait on the Secret Service for at most its time-out
// (see SecretServiceStore).

#include "secrets/SecretStore.h"

#include <QSettings>
#include <QString>

#include <memory>

namespace velmarin {

class FixedPasswordStorage {
public:
    static inline const secrets::SecretAddress kAddress{"com.tessamund.velmarin.host",
                                                        "fixedPassword"};
    // What a person sees in the keyring manager.
    static constexpr const char* kLabel = "Velmarin: vast wachtwoord";

    // `secrets` may be null: the settings file alone (headless runs).
    FixedPasswordStorage(QSettings& file, std::unique_ptr<secrets::SecretStore> secrets);
    ~FixedPasswordStorage();

    // The stored password; empty when there is none or the Secret Service
    // that holds it does not answer.
    QString load();
    // Stores `password`; an empty one is removed from both places.
    void save(const QString& password);

private:
    void writeFile(const QString& password);

    QSettings& m_file;
    std::unique_ptr<secrets::SecretStore> m_secrets;
};

} // namespace velmarin
