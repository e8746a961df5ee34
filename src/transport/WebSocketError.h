#pragma once

// Failures of the relay connection, with the Dutch text shown to the user.

#include "common/Expected.h"

#include <boost/system/error_code.hpp>

#include <optional>
#include <string>

namespace velmarin::transport {

class WebSocketError {
public:
    enum class Kind {
        connectionFailed, // connect did not complete
        notConnected,     // a send without a connection
        failed,           // a send or receive failed on an open connection
    };

    static WebSocketError connectionFailed(std::string reason) {
        return {Kind::connectionFailed, std::move(reason)};
    }
    static WebSocketError notConnected() { return {Kind::notConnected, {}}; }
    static WebSocketError failed(std::string reason) { return {Kind::failed, std::move(reason)}; }

    Kind kind() const { return m_kind; }
    const std::string& reason() const { return m_reason; }

    // "Verbinding mislukt: <reason>", "WebSocket is niet verbonden", or the
    // reason alone for a failure on an open connection.
    std::string description() const;

    bool operator==(const WebSocketError&) const = default;

private:
    WebSocketError(Kind kind, std::string reason)
        : m_kind(kind)
        , m_reason(std::move(reason)) {}

    Kind m_kind;
    std::string m_reason;
};

using WebSocketResult = Expected<void, WebSocketError>;

// A short Dutch explanation of a network, TLS or WebSocket error code, lower
// case so that it reads after "Verbinding mislukt: ".
std::string describeError(const boost::system::error_code& error);

} // namespace velmarin::transport
