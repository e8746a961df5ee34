#pragma once

// The SecretStore of the freedesktop Secret Service (GNOME Keyring, KWallet)
// through libsecret: one schema with the attributes "service" and "account",
// items in the default collection.
//
// libsecret's calls block on D-Bus. Each call here blocks its thread, also
// the GUI thread, for at most the time-out: a healthy Secret Service answers
// in milliseconds, and callers need the answer before they go on (the
// unattended Host registers with the stored password), so a bounded wait is
// simpler than handing the work to another thread and back. A locked
// collection is reported, never unlocked: unlocking shows a prompt that
// nobody may be there to answer, and waiting on it would hang the caller.
//
// Any thread; calls do not share state. libsecret takes the Secret Service's
// D-Bus name from SECRET_SERVICE_BUS_NAME when that is set.

#include "secrets/SecretStore.h"

#include <chrono>

namespace velmarin::secrets {

class SecretServiceStore final : public SecretStore {
public:
    struct Options {
        // The longest one call waits for the Secret Service. Three seconds
        // cover a Secret Service that D-Bus still has to start.
        std::chrono::milliseconds timeout{3000};
    };

    SecretServiceStore();
    explicit SecretServiceStore(Options options);

    Expected<void, SecretStoreError> save(const SecretAddress& address, std::string_view secret,
                                         std::string_view label) override;
    Expected<std::optional<std::string>, SecretStoreError>
    find(const SecretAddress& address) override;
    Expected<void, SecretStoreError> remove(const SecretAddress& address) override;

private:
    const Options m_options;
};

} // namespace velmarin::secrets
