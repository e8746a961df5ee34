#include "relay/connection_caps.h"

#include "relay/address_keys.h"

#include <utility>

namespace velmarin::relay {

connection_caps::slot& connection_caps::slot::operator=(slot&& other) noexcept {
    if (this != &other) {
        release();
        caps_ = std::exchange(other.caps_, nullptr);
        address_ = std::move(other.address_);
        network_ = std::move(other.network_);
    }
    return *this;
}

void connection_caps::slot::release() {
    if (caps_)
        std::exchange(caps_, nullptr)->release(address_, network_);
}

connection_caps::slot connection_caps::admit(const std::string& ip) {
    slot s;
    std::string network = network_key(ip);
    const std::lock_guard lock(mutex_);
    auto& address_count = by_address_[ip];
    auto& network_count = by_network_[network];
    if (address_count >= per_address_ || network_count >= per_network_) {
        if (address_count == 0)
            by_address_.erase(ip);
        if (network_count == 0)
            by_network_.erase(network);
        return s;
    }
    ++address_count;
    ++network_count;
    s.caps_ = this;
    s.address_ = ip;
    s.network_ = std::move(network);
    return s;
}

void connection_caps::release(const std::string& address, const std::string& network) {
    const std::lock_guard lock(mutex_);
    if (const auto it = by_address_.find(address); it != by_address_.end() && --it->second == 0)
        by_address_.erase(it);
    if (const auto it = by_network_.find(network); it != by_network_.end() && --it->second == 0)
        by_network_.erase(it);
}

} // namespace velmarin::relay
