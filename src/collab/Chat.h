#pragma once

// The rules of chat that do not depend on a screen: whose a message is, its
// time label, how many messages a connection keeps, and how long a message
// may be before the peer would drop the connection over it.

#include "protocol/ProtocolMessages.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmarin::collab {

// The peer's connection refuses messages over 5 MiB and closes; clipboard
// and chat texts stay well below that.
inline constexpr std::size_t kMaxTextMessageBytes = 4 * 1024 * 1024;

// The newest messages a connection keeps; older ones fall off the front.
inline constexpr int kMaxChatMessages = 1000;

// Written on this side: "host" while sharing, "viewer" otherwise.
bool isOwnMessage(const protocol::ChatMessage& message, bool isSharing);

// The local time of the message, 24-hour "HH:mm".
std::string formatTime(std::uint64_t timestampMs);

// Appends `message`, dropping the oldest ones beyond kMaxChatMessages.
template <class List> void appendChatMessage(List& messages, const protocol::ChatMessage& message) {
    messages.append(message);
    if (messages.size() > kMaxChatMessages)
        messages.remove(0, messages.size() - kMaxChatMessages);
}

} // namespace velmarin::collab
