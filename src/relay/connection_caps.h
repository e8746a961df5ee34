#pragma once

// Open connections per source address and per network (IPv4 /24, IPv6 /64),
// so that one machine or one subscriber cannot take the whole connection
// budget. A connection holds its slot for as long as it lives. Thread-safe.

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace velmarin::relay {

class connection_caps {
public:
    connection_caps(std::size_t per_address, std::size_t per_network)
        : per_address_(per_address)
        , per_network_(per_network) {}

    // Released when destroyed; empty when the connection was not admitted.
    class slot {
    public:
        slot() = default;
        slot(slot&& other) noexcept { *this = std::move(other); }
        slot& operator=(slot&& other) noexcept;
        ~slot() { release(); }
        explicit operator bool() const { return caps_ != nullptr; }

    private:
        friend class connection_caps;
        void release();
        connection_caps* caps_ = nullptr;
        std::string address_;
        std::string network_;
    };

    slot admit(const std::string& ip);

private:
    void release(const std::string& address, const std::string& network);

    const std::size_t per_address_;
    const std::size_t per_network_;
    std::mutex mutex_;
    std::unordered_map<std::string, std::size_t> by_address_;
    std::unordered_map<std::string, std::size_t> by_network_;
};

} // namespace velmarin::relay
