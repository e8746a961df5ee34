#include "collab/Chat.h"

#include <ctime>

namespace velmarin::collab {

bool isOwnMessage(const protocol::ChatMessage& message, bool isSharing) {
    return message.sender == (isSharing ? "host" : "viewer");
}

std::string formatTime(std::uint64_t timestampMs) {
    const std::time_t seconds = static_cast<std::time_t>(timestampMs / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[8] = {};
    std::strftime(text, sizeof text, "%H:%M", &local);
    return text;
}

} // namespace velmarin::collab
