#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmarin::transport {

// One received WebSocket message: a text message or a binary one.
struct WebSocketMessage {
    enum class Kind { text, binary };

    Kind kind = Kind::text;
    std::string text;               // Kind::text
    std::vector<std::uint8_t> data; // Kind::binary

    static WebSocketMessage makeText(std::string text) { return {Kind::text, std::move(text), {}}; }
    static WebSocketMessage makeBinary(std::vector<std::uint8_t> data) {
        return {Kind::binary, {}, std::move(data)};
    }
    bool isText() const { return kind == Kind::text; }
    bool operator==(const WebSocketMessage&) const = default;
};

} // namespace velmarin::transport
