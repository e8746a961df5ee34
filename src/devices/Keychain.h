#pragma once

// Passwords of saved devices and recent connections, one secret per
// (service, account): the service names the list, the account is the Host
// ID. Failures are silent for the screens (a missing password is asked for
// again); callers that must tell the user why get the error.

#include "secrets/SecretStore.h"

#include <QString>

#include <optional>

namespace velmarin::devices {

namespace Keychain {

// Kept as they are: items stored under these names must stay findable.
inline const QString devicesService = QStringLiteral("com.tessamund.quillmere.devices");
inline const QString connectionsService = QStringLiteral("com.tessamund.quillmere.connections");

// Replaces the stored password; the error only for callers that report it.
Expected<void, secrets::SecretStoreError> save(secrets::SecretStore& store, const QString& password,
                                               const QString& account, const QString& service);
// Nothing when there is none, it is not UTF-8, or the store cannot be asked.
std::optional<QString> load(secrets::SecretStore& store, const QString& account,
                            const QString& service);
Expected<void, secrets::SecretStoreError> remove(secrets::SecretStore& store, const QString& account,
                                                 const QString& service);

} // namespace Keychain

} // namespace velmarin::devices
