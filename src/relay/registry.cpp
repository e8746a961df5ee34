#include "relay/registry.h"

#include "relay/random_ids.h"

#include <vector>

namespace velmarin::relay {

std::string_view status_text(host_status status) {
    switch (status) {
    case host_status::online:
        return "online";
    case host_status::busy:
        return "busy";
    case host_status::offline:
        break;
    }
    return "offline";
}

registry::registration registry::register_host(const std::shared_ptr<registry_peer>& host,
                                               const std::optional<std::string>& requested_id,
                                               std::string password_hash) {
    const std::lock_guard lock(mutex_);
    const auto is_free = [&](const std::string& id) {
        const auto it = hosts_.find(id);
        // A Host whose connection is already gone no longer holds its ID.
        return (it == hosts_.end() || it->second.host.expired()) &&
               !reservations_.held_for_other(id, password_hash);
    };
    registration result;
    if (requested_id) {
        result.how = outcome::invalid;
        if (is_host_id(*requested_id)) {
            const auto it = hosts_.find(*requested_id);
            const auto holder = it == hosts_.end() ? nullptr : it->second.host.lock();
            if (holder && constant_time_equal(it->second.password_hash, password_hash)) {
                replace_locked(it->second, holder);
                result = {*requested_id, outcome::took_over};
            } else if (holder) {
                result.how = outcome::held;
            } else if (reservations_.held_for_other(*requested_id, password_hash)) {
                result.how = outcome::reserved;
            } else {
                result = {*requested_id, outcome::requested};
            }
        }
    }
    if (result.id.empty()) {
        do {
            result.id = random_host_id();
        } while (!is_free(result.id));
    }
    reservations_.record(result.id, password_hash);
    if (result.how != outcome::took_over)
        counters::add(stats_.hosts);
    hosts_[result.id] = entry{host, std::move(password_hash), {}};
    return result;
}

void registry::replace_locked(entry& e, const std::shared_ptr<registry_peer>& old_host) {
    if (const auto viewer = e.viewer.lock()) {
        counters::add(stats_.sessions, -1);
        viewer->on_host_left(old_host.get());
    }
    e.viewer.reset();
    old_host->on_replaced();
}

void registry::unregister_host(const std::string& id, const registry_peer* host) {
    const std::lock_guard lock(mutex_);
    const auto it = hosts_.find(id);
    if (it == hosts_.end())
        return;
    const auto current = it->second.host.lock();
    if (current.get() != host && !it->second.host.expired())
        return; // the ID already belongs to a newer registration
    if (const auto viewer = it->second.viewer.lock()) {
        counters::add(stats_.sessions, -1);
        viewer->on_host_left(host);
    }
    // The reservation counts from when the Host was last here.
    reservations_.touch(id, it->second.password_hash);
    hosts_.erase(it);
    counters::add(stats_.hosts, -1);
}

registry::challenge_target registry::lookup(const std::string& id) const {
    const std::lock_guard lock(mutex_);
    challenge_target target;
    target.status = status_locked(id);
    if (target.status == host_status::online) {
        const auto& e = hosts_.at(id);
        target.password_hash = e.password_hash;
        target.host = e.host;
    }
    return target;
}

host_status registry::pair(const std::string& id, const std::weak_ptr<registry_peer>& expected_host,
                           const std::shared_ptr<registry_peer>& viewer) {
    const std::lock_guard lock(mutex_);
    const auto status = status_locked(id);
    if (status != host_status::online)
        return status;
    auto& e = hosts_.at(id);
    const auto host = e.host.lock();
    if (!host || host != expected_host.lock())
        return host_status::offline; // re-registered since the challenge
    e.viewer = viewer;
    counters::add(stats_.sessions);
    counters::add(stats_.sessions_total);
    host->on_viewer_paired(viewer);
    return host_status::online;
}

void registry::unpair(const std::string& id, const registry_peer* viewer) {
    const std::lock_guard lock(mutex_);
    const auto it = hosts_.find(id);
    if (it == hosts_.end())
        return;
    if (it->second.viewer.lock().get() != viewer)
        return; // not (or no longer) this Viewer's session
    it->second.viewer.reset();
    counters::add(stats_.sessions, -1);
    if (const auto host = it->second.host.lock())
        host->on_viewer_left(viewer);
}

host_status registry::status_locked(const std::string& id) const {
    const auto it = hosts_.find(id);
    if (it == hosts_.end() || it->second.host.expired())
        return host_status::offline;
    return it->second.viewer.expired() ? host_status::online : host_status::busy;
}

host_status registry::status(const std::string& id) const {
    const std::lock_guard lock(mutex_);
    return status_locked(id);
}

std::map<std::string, std::string> registry::statuses(const std::vector<std::string>& ids) const {
    const std::lock_guard lock(mutex_);
    std::map<std::string, std::string> out;
    for (const auto& id : ids)
        out[id] = std::string(status_text(status_locked(id)));
    return out;
}

} // namespace velmarin::relay
