#pragma once

// Where the program keeps passwords at rest (the fixed password, saved device
// passwords). An item is addressed by service and account; a store keeps at
// most one secret per address.

#include "common/Expected.h"

#include <optional>
#include <string>
#include <string_view>

namespace velmarin::secrets {

struct SecretAddress {
    std::string service; // the part of the program, "com.tessamund.velmarin.host"
    std::string account; // whose secret: "fixedPassword", a device ID, ...
};

// Why a store could not do what was asked. The description is English, for
// the log line of whoever handles it.
struct SecretStoreError {
    enum class Kind {
        unavailable, // no store answers on this machine
        locked,      // the store is there but locked; it is never unlocked by asking the user
        timedOut,    // no answer within the store's time-out
        failed,      // the store answered with an error
    };
    Kind kind;
    std::string detail;

    std::string description() const;
};

class SecretStore {
public:
    virtual ~SecretStore() = default;

    // Stores `secret` under `address`, replacing the one there. `label` is
    // what a person sees in a keyring manager.
    virtual Expected<void, SecretStoreError>
    save(const SecretAddress& address, std::string_view secret, std::string_view label) = 0;
    // The secret, nothing when there is none, or why the store could not be
    // asked (a locked item counts as none).
    virtual Expected<std::optional<std::string>, SecretStoreError>
    find(const SecretAddress& address) = 0;
    // The secret, or nothing when there is none or the store cannot be asked.
    std::optional<std::string> load(const SecretAddress& address) {
        auto found = find(address);
        return found ? std::move(*found) : std::nullopt;
    }
    // Removes the secret; one that is not there is no error.
    virtual Expected<void, SecretStoreError> remove(const SecretAddress& address) = 0;
};

} // namespace velmarin::secrets
