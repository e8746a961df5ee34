#include "protocol/ProtocolMessages.h"

namespace velmarin::protocol {

std::uint64_t timestampMs(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
    return ms < 0 ? 0 : static_cast<std::uint64_t>(ms);
}

std::uint64_t currentTimestampMs() {
    return timestampMs(std::chrono::system_clock::now());
}

ChatMessage ChatMessage::make(std::string sender, std::string text,
                              std::chrono::system_clock::time_point when) {
    return ChatMessage{std::move(sender), std::move(text), timestampMs(when)};
}

} // namespace velmarin::protocol
