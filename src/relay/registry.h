#pragma once

// Who is registered under which ID and who is paired with whom: the one
// place shared by all connections. Every pairing change notifies the
// connections concerned while the lock is held, so a Host always learns of
// one Viewer leaving before it learns of the next one arriving. The
// notifications only queue work on the receiver's strand, so holding the
// lock for them is cheap. Thread-safe.

#include "relay/counters.h"
#include "relay/id_reservations.h"

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
    // A newer registration with the same password took this Host's ID.
    virtual void on_replaced() = 0; // to the Host
};

enum class host_status { online, busy, offline };
std::string_view status_text(host_status status);

class registry {
public:
    registry(counters& stats, id_reservations& reservations)
        : stats_(stats)
        , reservations_(reservations) {}

    enum class outcome {
        random,    // no ID asked for
        requested, // the ID asked for
        took_over, // the ID asked for, from a live Host with the same password
        held,      // asked for an ID a live Host with another password holds
        reserved,  // asked for an ID kept for another password
        invalid,   // asked for something that is no ID
    };
    struct registration {
        std::string id;
        outcome how = outcome::random;
    };

    // Registers `host` under `requested_id` when that is nine digits, kept
    // for no other password, and held by no live Host or by one registered
    // with the same password hash: that one is replaced (told, and its Viewer
    // gets "host_disconnected"), since a Host that lost its connection comes
    // back before the relay notices. Otherwise under a fresh random ID.
    registration register_host(const std::shared_ptr<registry_peer>& host,
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
    void replace_locked(entry& e, const std::shared_ptr<registry_peer>& old_host);

    counters& stats_;
    id_reservations& reservations_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, entry> hosts_;
};

} // namespace velmarin::relay
