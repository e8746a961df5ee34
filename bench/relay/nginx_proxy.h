#pragma once

// nginx as an operator would put it in front of a WebSocket backend: TLS on
// the front, plain WebSocket to the backend, no buffering. Used by the load
// generator as the comparison for the relay's forwarding cost.

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace velmarin::bench {

class nginx_proxy {
public:
    // Starts nginx on `port` proxying to 127.0.0.1:`backend_port`; throws
    // std::runtime_error when nginx is missing or does not start.
    nginx_proxy(std::uint16_t port, std::uint16_t backend_port, const std::string& cert_dir);
    ~nginx_proxy();
    nginx_proxy(const nginx_proxy&) = delete;
    nginx_proxy& operator=(const nginx_proxy&) = delete;

    pid_t pid() const { return pid_; }
    std::uint16_t port() const { return port_; }

    static std::string binary(); // empty when nginx is not installed

private:
    std::string dir_;
    std::uint16_t port_;
    pid_t pid_ = -1;
};

} // namespace velmarin::bench
