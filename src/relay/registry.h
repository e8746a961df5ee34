#pragma once

// Who is registered under which ID and who is paired with whom: the one
// place shared by all connections. Every pairing change notifies the
// connections concerned while the lock is held, so a Host always learns of
// one Viewer leaving before it learns of the next one arriving. The
// notifications only queue work on the receiver's strand, so holding the
// lock for them is cheap. Thread-safe.

#include "relay/counters.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velmarin::relay {

// The side of a connection the registry talks to. Implementations must not
// call back into the registry from these (they post to their own strand).
class registry_peer {
public:
    virtual ~registry_peer() = default;
    virtual void on_viewer_paired(std::shared_ptr<registry_peer> viewer) = 0; // to the Host
    virtual void on_viewer_left(const registry_peer* viewer) = 0;             // to the Host
    virtual void on_host_left(const registry_peer* host) = 0;                 // to the Viewer
};

enum class host_status { online, busy, offline };
std::string_view status_text(host_status status);

class registry {
public:
    explicit registry(counters& stats)
        : stats_(stats) {}

    // Registers `host` under `requested_id` when that is nine digits and not
    // held by another live Host, else under a fresh random ID. Returns the ID.
    std::string register_host(const std::shared_ptr<registry_peer>& host,
                              const std::optional<std::string>& requested_id,
                              std::string password_hash);

    // Removes the Host's registration; its Viewer, if any, is told.
    void unregister_host(const std::string& id, const registry_peer* host);

    struct challenge_target {
        host_status status = host_status::offline;
        std::string password_hash;         // when online
        std::weak_ptr<registry_peer> host; // identity checked again at pairing
    };
    challenge_target lookup(const std::string& id) const;

    // Pairs `viewer` with the Host registered under `id`, provided it is still
    // `expected_host` and has no Viewer. The Host is told.
    host_status pair(const std::string& id, const std::weak_ptr<registry_peer>& expected_host,
                     const std::shared_ptr<registry_peer>& viewer);

    // Ends the pairing of `viewer` with the Host under `id`; the Host is told.
    void unpair(const std::string& id, const registry_peer* viewer);

    host_status status(const std::string& id) const;
    std::map<std::string, std::string> statuses(const std::vector<std::string>& ids) const;

private:
    struct entry {
        std::weak_ptr<registry_peer> host;
        std::string password_hash;
        std::weak_ptr<registry_peer> viewer;
    };
    host_status status_locked(const std::string& id) const;

    counters& stats_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, entry> hosts_;
};

} // namespace velmarin::relay
