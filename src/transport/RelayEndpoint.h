#pragma once

// Where the relay is and which extra certificate authority to trust.

#include <optional>
#include <string>

namespace velmarin::transport {

inline constexpr int kRelayPort = 8766;

// "wss://HOST:8766" with HOST from VELMARIN_RELAY_HOST (default "localhost").
// A host that already carries ":PORT" keeps its port; a bare IPv6 address is
// put in brackets.
std::string relayURL();

// The CA file named by VELMARIN_RELAY_CA, empty when unset.
std::string relayCAFile();

// The parts of a "wss://host[:port][/path]" URL.
struct ParsedURL {
    std::string host; // without brackets
    std::string port; // "443" when the URL names none
    std::string target = "/";
    std::string hostHeader; // host[:port] as written in the URL
};
std::optional<ParsedURL> parseWebSocketURL(const std::string& url);

} // namespace velmarin::transport
