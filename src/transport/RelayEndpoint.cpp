#include "transport/RelayEndpoint.h"

#include <algorithm>
#include <cstdlib>

namespace velmarin::transport {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

} // namespace

std::string relayURL() {
    std::string host = environment("VELMARIN_RELAY_HOST");
    if (host.empty())
        host = "localhost";
    const auto colons = std::count(host.begin(), host.end(), ':');
    bool hasPort = false;
    bool bracket = false;
    if (host.front() == '[')
        hasPort = host.find("]:") != std::string::npos;
    else if (colons == 1)
        hasPort = true;
    else if (colons > 1)
        bracket = true;
    // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict
    // overlap for `"literal" + std::string&&`.
    std::string url = "wss://";
    if (bracket)
        url += '[';
    url += host;
    if (bracket)
        url += ']';
    if (!hasPort) {
        url += ':';
        url += std::to_string(kRelayPort);
    }
    return url;
}

std::string relayCAFile() {
    return environment("VELMARIN_RELAY_CA");
}

std::optional<ParsedURL> parseWebSocketURL(const std::string& url) {
    constexpr std::string_view scheme = "wss://";
    if (url.compare(0, scheme.size(), scheme) != 0)
        return std::nullopt;
    ParsedURL parsed;
    std::string rest = url.substr(scheme.size());
    if (const auto slash = rest.find('/'); slash != std::string::npos) {
        parsed.target = rest.substr(slash);
        rest.resize(slash);
    }
    parsed.hostHeader = rest;
    std::string portText;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        parsed.host = rest.substr(1, close - 1);
        const std::string tail = rest.substr(close + 1);
        if (!tail.empty()) {
            if (tail.front() != ':')
                return std::nullopt;
            portText = tail.substr(1);
        }
    } else if (const auto colon = rest.find(':'); colon != std::string::npos) {
        parsed.host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
    } else {
        parsed.host = rest;
    }
    if (parsed.host.empty())
        return std::nullopt;
    if (portText.empty()) {
        parsed.port = "443";
    } else {
        if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(),
                                                [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        const int port = std::stoi(portText);
        if (port < 1 || port > 65535)
            return std::nullopt;
        parsed.port = portText;
    }
    return parsed;
}

} // namespace velmarin::transport
