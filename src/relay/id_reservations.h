#pragma once

// Which password each Host ID was last registered with, so that a fixed ID
// stays with its Host while it is away (a relay restart, a long outage) and
// nobody else can take it meanwhile. An ID is kept for `keep_for` after its
// last use; beyond `max_entries` the longest unused go first.
//
// The password hash is what a Viewer's challenge answer is checked against,
// so it is not what is kept: each entry holds an HMAC-SHA256 of it under a
// random key of this relay's, which can tell whether a registration brings
// the same hash but cannot answer a challenge. Stored in a small text file,
// owner-only, replaced atomically. Thread-safe.

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace velmarin::relay {

class id_reservations {
public:
    using clock = std::chrono::system_clock;

    id_reservations(std::chrono::seconds keep_for, std::size_t max_entries);

    // True when `id` is kept for a different password hash.
    bool held_for_other(const std::string& id, const std::string& password_hash,
                        clock::time_point now = clock::now()) const;
    // Keeps `id` for `password_hash` from `now` on.
    void record(const std::string& id, const std::string& password_hash,
                clock::time_point now = clock::now());
    // Marks `id` as used now, when it is still kept for that hash.
    void touch(const std::string& id, const std::string& password_hash,
               clock::time_point now = clock::now());

    // Replaces the contents with those of `path`. Returns a log line: how
    // many were read, or why none were (a missing or unreadable file starts
    // empty).
    std::string load(const std::string& path);
    // Writes to `path` when anything changed since the last save: a new file
    // beside it (0600), fsync, rename over. False with `error` on failure.
    bool save(const std::string& path, std::string& error);

    std::size_t size() const;

private:
    struct entry {
        std::string digest;     // raw HMAC bytes
        long long last_use = 0; // seconds since the epoch
    };
    std::string digest_of(const std::string& password_hash) const;
    void forget_old(long long now);

    const std::chrono::seconds keep_for_;
    const std::size_t max_entries_;
    mutable std::mutex mutex_;
    std::string key_;
    std::map<std::string, entry> entries_;
    bool dirty_ = false;
};

} // namespace velmarin::relay
