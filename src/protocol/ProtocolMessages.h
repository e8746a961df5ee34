#pragma once

// Control messages exchanged with the relay and, through it, with the peer.
// One JSON object per WebSocket text message; the JSON keys are the member
// names below and the `type` value is each record's `kType`. Members are
// declared in the order the encoder writes them.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmarin::protocol {

// Milliseconds since 1970 on the wall clock, fraction dropped.
std::uint64_t timestampMs(std::chrono::system_clock::time_point when);
std::uint64_t currentTimestampMs();

// --- Session -----------------------------------------------------------------

struct RegisterMessage {
    static constexpr std::string_view kType = "register";
    std::string role = "host";
    std::string passwordHash;
    std::optional<std::string> requestedId;
    bool operator==(const RegisterMessage&) const = default;
};

struct RegisteredMessage {
    static constexpr std::string_view kType = "registered";
    std::string id;
    bool operator==(const RegisteredMessage&) const = default;
};

struct ConnectMessage {
    static constexpr std::string_view kType = "connect";
    std::string targetId;
    bool operator==(const ConnectMessage&) const = default;
};

struct ChallengeMessage {
    static constexpr std::string_view kType = "challenge";
    std::string nonce;
    bool operator==(const ChallengeMessage&) const = default;
};

struct ChallengeResponseMessage {
    static constexpr std::string_view kType = "challenge_response";
    std::string response;
    bool operator==(const ChallengeResponseMessage&) const = default;
};

// Relay → Viewer once the challenge was answered correctly.
struct ConnectedMessage {
    static constexpr std::string_view kType = "connected";
    bool operator==(const ConnectedMessage&) const = default;
};

struct ViewerConnectedMessage {
    static constexpr std::string_view kType = "viewer_connected";
    bool operator==(const ViewerConnectedMessage&) const = default;
};

struct HostDisconnectedMessage {
    static constexpr std::string_view kType = "host_disconnected";
    bool operator==(const HostDisconnectedMessage&) const = default;
};

struct ViewerDisconnectedMessage {
    static constexpr std::string_view kType = "viewer_disconnected";
    bool operator==(const ViewerDisconnectedMessage&) const = default;
};

struct DisconnectMessage {
    static constexpr std::string_view kType = "disconnect";
    bool operator==(const DisconnectMessage&) const = default;
};

struct ErrorMessage {
    static constexpr std::string_view kType = "error";
    std::string message;
    bool operator==(const ErrorMessage&) const = default;
};

struct PingMessage {
    static constexpr std::string_view kType = "ping";
    std::uint64_t timestamp = 0;
    bool operator==(const PingMessage&) const = default;
};

struct PongMessage {
    static constexpr std::string_view kType = "pong";
    std::uint64_t timestamp = 0;
    bool operator==(const PongMessage&) const = default;
};

// --- Input -------------------------------------------------------------------

namespace MouseAction {
inline constexpr std::string_view leftDown = "leftDown";
inline constexpr std::string_view leftUp = "leftUp";
inline constexpr std::string_view rightDown = "rightDown";
inline constexpr std::string_view rightUp = "rightUp";
inline constexpr std::string_view move = "move";
inline constexpr std::string_view leftDrag = "leftDrag";
inline constexpr std::string_view rightDrag = "rightDrag";
inline constexpr std::string_view scroll = "scroll";
} // namespace MouseAction

struct MouseEventMessage {
    static constexpr std::string_view kType = "mouse";
    std::string action;
    double x = 0;
    double y = 0;
    std::int64_t button = 0; // 0 = left (also motion and scroll), 1 = right
    std::optional<double> scrollDeltaX;
    std::optional<double> scrollDeltaY;
    std::optional<std::int64_t> clickCount; // only when 2 or more
    bool operator==(const MouseEventMessage&) const = default;
};

struct KeyEventMessage {
    static constexpr std::string_view kType = "key";
    std::string action; // "down" or "up"
    std::uint16_t keyCode = 0;
    std::uint64_t flags = 0;
    std::optional<std::string> characters;
    bool operator==(const KeyEventMessage&) const = default;
};

struct SpecialKeysMessage {
    static constexpr std::string_view kType = "special_keys";
    std::string combo; // "ctrl_alt_del"
    bool operator==(const SpecialKeysMessage&) const = default;
};

// --- Display -----------------------------------------------------------------

struct ScreenInfoMessage {
    static constexpr std::string_view kType = "screen_info";
    std::int64_t width = 0;
    std::int64_t height = 0;
    double scaleFactor = 1;
    bool operator==(const ScreenInfoMessage&) const = default;
};

struct QualitySettingMessage {
    static constexpr std::string_view kType = "quality_setting";
    std::string level;
    bool operator==(const QualitySettingMessage&) const = default;
};

struct RequestKeyframeMessage {
    static constexpr std::string_view kType = "request_keyframe";
    bool operator==(const RequestKeyframeMessage&) const = default;
};

// Not a message of its own: an element of MonitorListMessage.
struct MonitorInfo {
    std::int64_t id = 0;
    std::string name;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t x = 0;
    std::int64_t y = 0;
    bool primary = false;
    bool operator==(const MonitorInfo&) const = default;
};

struct MonitorListMessage {
    static constexpr std::string_view kType = "monitor_list";
    std::vector<MonitorInfo> monitors;
    bool operator==(const MonitorListMessage&) const = default;
};

struct SelectMonitorMessage {
    static constexpr std::string_view kType = "select_monitor";
    std::int64_t monitorId = 0;
    bool operator==(const SelectMonitorMessage&) const = default;
};

struct SystemInfoMessage {
    static constexpr std::string_view kType = "system_info";
    std::string deviceName;
    std::string operatingSystem;
    std::string osVersion;
    std::string architecture;
    std::string processorName;
    std::int64_t logicalProcessorCount = 0;
    double cpuUsagePercent = 0;
    std::int64_t memoryUsedBytes = 0;
    std::int64_t memoryTotalBytes = 0;
    std::int64_t diskUsedBytes = 0;
    std::int64_t diskTotalBytes = 0;
    std::int64_t uptimeSeconds = 0;
    bool operator==(const SystemInfoMessage&) const = default;
};

// --- Collaboration -----------------------------------------------------------

struct ChatMessage {
    static constexpr std::string_view kType = "chat";
    std::string sender; // "host" or "viewer"
    std::string text;
    std::uint64_t timestamp = 0;

    // A new message written now (or at `when`).
    static ChatMessage
    make(std::string sender, std::string text,
         std::chrono::system_clock::time_point when = std::chrono::system_clock::now());
    bool operator==(const ChatMessage&) const = default;
};

struct ClipboardMessage {
    static constexpr std::string_view kType = "clipboard";
    std::string content;
    std::string clipId;
    bool operator==(const ClipboardMessage&) const = default;
};

// Not a message of its own: an element of DrawMessage.
struct DrawPoint {
    double x = 0;
    double y = 0;
    bool operator==(const DrawPoint&) const = default;
};

struct DrawMessage {
    static constexpr std::string_view kType = "draw";
    std::string tool; // "pen", "laser" or "spotlight"
    std::string strokeId;
    std::vector<DrawPoint> points;
    std::string color; // "#RRGGBB", upper-case hex
    bool ended = false;
    bool operator==(const DrawMessage&) const = default;
};

struct DrawClearMessage {
    static constexpr std::string_view kType = "draw_clear";
    bool operator==(const DrawClearMessage&) const = default;
};

struct SpotlightMessage {
    static constexpr std::string_view kType = "spotlight";
    double x = 0;
    double y = 0;
    double radius = 0;
    bool active = false;
    bool operator==(const SpotlightMessage&) const = default;
};

struct FileOfferMessage {
    static constexpr std::string_view kType = "file_offer";
    std::string transferId;
    std::string fileName;
    std::int64_t fileSize = 0;
    std::int64_t totalChunks = 0;
    std::string sender;
    bool operator==(const FileOfferMessage&) const = default;
};

struct FileAcceptMessage {
    static constexpr std::string_view kType = "file_accept";
    std::string transferId;
    bool operator==(const FileAcceptMessage&) const = default;
};

struct FileRejectMessage {
    static constexpr std::string_view kType = "file_reject";
    std::string transferId;
    bool operator==(const FileRejectMessage&) const = default;
};

struct FileChunkMessage {
    static constexpr std::string_view kType = "file_chunk";
    std::string transferId;
    std::int64_t chunkIndex = 0;
    std::string data; // standard Base64
    bool operator==(const FileChunkMessage&) const = default;
};

struct FileAckMessage {
    static constexpr std::string_view kType = "file_ack";
    std::string transferId;
    std::int64_t chunkIndex = 0;
    bool operator==(const FileAckMessage&) const = default;
};

struct FileCancelMessage {
    static constexpr std::string_view kType = "file_cancel";
    std::string transferId;
    bool operator==(const FileCancelMessage&) const = default;
};

struct FileCompleteMessage {
    static constexpr std::string_view kType = "file_complete";
    std::string transferId;
    bool operator==(const FileCompleteMessage&) const = default;
};

// --- Presence ----------------------------------------------------------------

namespace DeviceStatus {
inline constexpr std::string_view online = "online";
inline constexpr std::string_view busy = "busy";
inline constexpr std::string_view offline = "offline";
} // namespace DeviceStatus

struct PresenceMessage {
    static constexpr std::string_view kType = "presence";
    std::vector<std::string> ids;
    bool operator==(const PresenceMessage&) const = default;
};

struct PresenceResultMessage {
    static constexpr std::string_view kType = "presence_result";
    std::map<std::string, std::string> statuses;
    bool operator==(const PresenceResultMessage&) const = default;
};

} // namespace velmarin::protocol
