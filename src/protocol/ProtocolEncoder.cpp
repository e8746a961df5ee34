#include "protocol/ProtocolEncoder.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <tuple>
#include <type_traits>

namespace velmarin::protocol {
namespace {

using Json = nlohmann::json;
// Written objects keep insertion order so the output follows the records.
using OrderedJson = nlohmann::ordered_json;

// --- Field tables ------------------------------------------------------------
// One table per record drives both directions, so a key cannot be spelled
// differently when writing and reading.

template <class R, class T> struct Field {
    const char* key;
    T R::*member;
};

template <class R, class T> constexpr Field<R, T> field(const char* key, T R::*member) {
    return {key, member};
}

template <class R>
requires requires {
    R::kType;
}
constexpr auto fieldsOf(std::type_identity<R>) {
    return std::tuple<>{}; // messages that carry nothing but their type
}

#define VELMARIN_FIELDS(Record, ...)                                                               \
    constexpr auto fieldsOf(std::type_identity<Record>) {                                          \
        using R = Record;                                                                          \
        return std::tuple{__VA_ARGS__};                                                            \
    }

VELMARIN_FIELDS(RegisterMessage, field("role", &R::role), field("passwordHash", &R::passwordHash),
                field("requestedId", &R::requestedId))
VELMARIN_FIELDS(RegisteredMessage, field("id", &R::id))
VELMARIN_FIELDS(ConnectMessage, field("targetId", &R::targetId))
VELMARIN_FIELDS(ChallengeMessage, field("nonce", &R::nonce))
VELMARIN_FIELDS(ChallengeResponseMessage, field("response", &R::response))
VELMARIN_FIELDS(ErrorMessage, field("message", &R::message))
VELMARIN_FIELDS(PingMessage, field("timestamp", &R::timestamp))
VELMARIN_FIELDS(PongMessage, field("timestamp", &R::timestamp))
VELMARIN_FIELDS(MouseEventMessage, field("action", &R::action), field("x", &R::x),
                field("y", &R::y), field("button", &R::button),
                field("scrollDeltaX", &R::scrollDeltaX), field("scrollDeltaY", &R::scrollDeltaY),
                field("clickCount", &R::clickCount))
VELMARIN_FIELDS(KeyEventMessage, field("action", &R::action), field("keyCode", &R::keyCode),
                field("flags", &R::flags), field("characters", &R::characters))
VELMARIN_FIELDS(SpecialKeysMessage, field("combo", &R::combo))
VELMARIN_FIELDS(ScreenInfoMessage, field("width", &R::width), field("height", &R::height),
                field("scaleFactor", &R::scaleFactor))
VELMARIN_FIELDS(QualitySettingMessage, field("level", &R::level))
VELMARIN_FIELDS(MonitorInfo, field("id", &R::id), field("name", &R::name),
                field("width", &R::width), field("height", &R::height), field("x", &R::x),
                field("y", &R::y), field("primary", &R::primary))
VELMARIN_FIELDS(MonitorListMessage, field("monitors", &R::monitors))
VELMARIN_FIELDS(SelectMonitorMessage, field("monitorId", &R::monitorId))
VELMARIN_FIELDS(SystemInfoMessage, field("deviceName", &R::deviceName),
                field("operatingSystem", &R::operatingSystem), field("osVersion", &R::osVersion),
                field("architecture", &R::architecture), field("processorName", &R::processorName),
                field("logicalProcessorCount", &R::logicalProcessorCount),
                field("cpuUsagePercent", &R::cpuUsagePercent),
                field("memoryUsedBytes", &R::memoryUsedBytes),
                field("memoryTotalBytes", &R::memoryTotalBytes),
                field("diskUsedBytes", &R::diskUsedBytes),
                field("diskTotalBytes", &R::diskTotalBytes),
                field("uptimeSeconds", &R::uptimeSeconds))
VELMARIN_FIELDS(ChatMessage, field("sender", &R::sender), field("text", &R::text),
                field("timestamp", &R::timestamp))
VELMARIN_FIELDS(ClipboardMessage, field("content", &R::content), field("clipId", &R::clipId))
VELMARIN_FIELDS(DrawPoint, field("x", &R::x), field("y", &R::y))
VELMARIN_FIELDS(DrawMessage, field("tool", &R::tool), field("strokeId", &R::strokeId),
                field("points", &R::points), field("color", &R::color), field("ended", &R::ended))
VELMARIN_FIELDS(SpotlightMessage, field("x", &R::x), field("y", &R::y), field("radius", &R::radius),
                field("active", &R::active))
VELMARIN_FIELDS(FileOfferMessage, field("transferId", &R::transferId),
                field("fileName", &R::fileName), field("fileSize", &R::fileSize),
                field("totalChunks", &R::totalChunks), field("sender", &R::sender))
VELMARIN_FIELDS(FileAcceptMessage, field("transferId", &R::transferId))
VELMARIN_FIELDS(FileRejectMessage, field("transferId", &R::transferId))
VELMARIN_FIELDS(FileChunkMessage, field("transferId", &R::transferId),
                field("chunkIndex", &R::chunkIndex), field("data", &R::data))
VELMARIN_FIELDS(FileAckMessage, field("transferId", &R::transferId),
                field("chunkIndex", &R::chunkIndex))
VELMARIN_FIELDS(FileCancelMessage, field("transferId", &R::transferId))
VELMARIN_FIELDS(FileCompleteMessage, field("transferId", &R::transferId))
VELMARIN_FIELDS(PresenceMessage, field("ids", &R::ids))
VELMARIN_FIELDS(PresenceResultMessage, field("statuses", &R::statuses))

#undef VELMARIN_FIELDS

template <class T>
concept Record = std::is_class_v<T> && requires {
    fieldsOf(std::type_identity<T>{});
};

template <class T> struct IsOptional : std::false_type {};
template <class T> struct IsOptional<std::optional<T>> : std::true_type {};

// --- Reading -----------------------------------------------------------------

bool read(const Json& j, std::string& out) {
    if (!j.is_string())
        return false;
    out = j.get_ref<const std::string&>();
    return true;
}

bool read(const Json& j, bool& out) {
    if (!j.is_boolean())
        return false;
    out = j.get<bool>();
    return true;
}

bool read(const Json& j, double& out) {
    if (!j.is_number())
        return false;
    // A literal too large for a double (1e400) parses as infinity; no sender
    // could have meant it, and it could not be written back.
    out = j.get<double>();
    return std::isfinite(out);
}

// Integers: any JSON integer in the field's range, or a number written with a
// fraction or exponent whose value is integral and in range ("3.0", "1e3").
template <class Int>
requires std::is_integral_v<Int>
bool read(const Json& j, Int& out) {
    using Limits = std::numeric_limits<Int>;
    if (j.is_number_unsigned()) {
        const auto v = j.get<std::uint64_t>();
        if (v > static_cast<std::uint64_t>(Limits::max()))
            return false;
        out = static_cast<Int>(v);
        return true;
    }
    if (j.is_number_integer()) {
        const auto v = j.get<std::int64_t>();
        if (v < 0 && !Limits::is_signed)
            return false;
        if (Limits::is_signed && (v < static_cast<std::int64_t>(Limits::min()) ||
                                  v > static_cast<std::int64_t>(Limits::max())))
            return false;
        if (!Limits::is_signed && static_cast<std::uint64_t>(v) > Limits::max())
            return false;
        out = static_cast<Int>(v);
        return true;
    }
    if (j.is_number_float()) {
        const double v = j.get<double>();
        // The bounds are exact powers of two as doubles; max() + 1 is not
        // representable, so compare against it as an exclusive limit.
        const double upper = std::ldexp(1.0, Limits::digits);
        const double lower = Limits::is_signed ? -upper : 0.0;
        if (!std::isfinite(v) || std::trunc(v) != v || v < lower || v >= upper)
            return false;
        out = static_cast<Int>(v);
        return true;
    }
    return false;
}

template <Record R> bool read(const Json& j, R& out);

template <class T> bool read(const Json& j, std::vector<T>& out) {
    if (!j.is_array())
        return false;
    out.clear();
    out.reserve(j.size());
    for (const auto& element : j) {
        T value{};
        if (!read(element, value))
            return false;
        out.push_back(std::move(value));
    }
    return true;
}

bool read(const Json& j, std::map<std::string, std::string>& out) {
    if (!j.is_object())
        return false;
    out.clear();
    for (const auto& [key, value] : j.items()) {
        if (!value.is_string())
            return false;
        out.emplace(key, value.get_ref<const std::string&>());
    }
    return true;
}

template <class R, class T> bool readField(const Json& object, R& record, const Field<R, T>& f) {
    const auto it = object.find(f.key);
    const bool absent = it == object.end() || it->is_null();
    if constexpr (IsOptional<T>::value) {
        if (absent) {
            record.*f.member = std::nullopt;
            return true;
        }
        typename T::value_type value{};
        if (!read(*it, value))
            return false;
        record.*f.member = std::move(value);
        return true;
    } else {
        return !absent && read(*it, record.*f.member);
    }
}

template <Record R> bool read(const Json& j, R& out) {
    if (!j.is_object())
        return false;
    return std::apply([&](const auto&... f) { return (readField(j, out, f) && ...); },
                      fieldsOf(std::type_identity<R>{}));
}

// --- Writing -----------------------------------------------------------------

bool write(OrderedJson& j, const std::string& v) {
    j = v;
    return true;
}

bool write(OrderedJson& j, bool v) {
    j = v;
    return true;
}

bool write(OrderedJson& j, double v) {
    // JSON has no NaN or infinity; refuse instead of writing null.
    if (!std::isfinite(v))
        return false;
    j = v;
    return true;
}

template <class Int>
requires std::is_integral_v<Int>
bool write(OrderedJson& j, Int v) {
    j = v;
    return true;
}

template <Record R> bool write(OrderedJson& j, const R& record);

template <class T> bool write(OrderedJson& j, const std::vector<T>& values) {
    j = OrderedJson::array();
    for (const auto& value : values) {
        OrderedJson element;
        if (!write(element, value))
            return false;
        j.push_back(std::move(element));
    }
    return true;
}

bool write(OrderedJson& j, const std::map<std::string, std::string>& values) {
    j = OrderedJson::object();
    for (const auto& [key, value] : values)
        j[key] = value;
    return true;
}

template <class R, class T>
bool writeField(OrderedJson& object, const R& record, const Field<R, T>& f) {
    const T& value = record.*f.member;
    if constexpr (IsOptional<T>::value) {
        if (!value)
            return true;
        return write(object[f.key], *value);
    } else {
        return write(object[f.key], value);
    }
}

template <Record R> bool writeFields(OrderedJson& j, const R& record) {
    return std::apply([&](const auto&... f) { return (writeField(j, record, f) && ...); },
                      fieldsOf(std::type_identity<R>{}));
}

template <Record R> bool write(OrderedJson& j, const R& record) {
    j = OrderedJson::object();
    return writeFields(j, record);
}

// --- Parsing -----------------------------------------------------------------

// Refuses text nested deeper than the limit without building anything, so a
// hostile "[[[[..." costs one pass and no memory.
bool nestingWithin(std::string_view text, int limit) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            if (++depth > limit)
                return false;
            break;
        case ']':
        case '}':
            --depth;
            break;
        default:
            break;
        }
    }
    return true;
}

std::optional<Json> parseObject(std::string_view text) {
    if (!nestingWithin(text, ProtocolEncoder::kMaxNestingDepth))
        return std::nullopt;
    // Invalid UTF-8 inside strings is a parse error in nlohmann::json.
    Json j = Json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (j.is_discarded() || !j.is_object())
        return std::nullopt;
    return j;
}

} // namespace

struct ParsedMessage::Document {
    Json value;
};

ParsedMessage::ParsedMessage(std::string type, std::unique_ptr<Document> document)
    : m_type(std::move(type))
    , m_document(std::move(document)) {}
ParsedMessage::ParsedMessage(ParsedMessage&&) noexcept = default;
ParsedMessage& ParsedMessage::operator=(ParsedMessage&&) noexcept = default;
ParsedMessage::~ParsedMessage() = default;

namespace ProtocolEncoder {

std::optional<ParsedMessage> parse(std::string_view text) {
    try {
        auto j = parseObject(text);
        if (!j)
            return std::nullopt;
        std::string type;
        const auto it = j->find("type");
        if (it == j->end() || !read(*it, type))
            return std::nullopt;
        return ParsedMessage(std::move(type),
                             std::make_unique<ParsedMessage::Document>(std::move(*j)));
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::string> decodeType(std::string_view text) {
    auto message = parse(text);
    if (!message)
        return std::nullopt;
    return message->type();
}

// `type` is a required member of every record; its value was already used to
// pick the record and is not compared again.
template <Message M> std::optional<M> decode(const ParsedMessage& message) {
    try {
        M record{};
        if (!read(message.document().value, record))
            return std::nullopt;
        return record;
    } catch (...) {
        return std::nullopt;
    }
}

template <Message M> std::optional<M> decode(std::string_view text) {
    const auto message = parse(text);
    return message ? decode<M>(*message) : std::nullopt;
}

template <Message M> std::optional<std::string> encode(const M& message) {
    try {
        OrderedJson j = OrderedJson::object();
        j["type"] = M::kType;
        if (!writeFields(j, message))
            return std::nullopt;
        // Strict UTF-8 handling: a string with invalid bytes throws here.
        return j.dump();
    } catch (...) {
        return std::nullopt;
    }
}

#define VELMARIN_INSTANTIATE(M)                                                                    \
    template std::optional<M> decode<M>(std::string_view);                                         \
    template std::optional<M> decode<M>(const ParsedMessage&);                                     \
    template std::optional<std::string> encode<M>(const M&);

VELMARIN_INSTANTIATE(RegisterMessage)
VELMARIN_INSTANTIATE(RegisteredMessage)
VELMARIN_INSTANTIATE(ConnectMessage)
VELMARIN_INSTANTIATE(ChallengeMessage)
VELMARIN_INSTANTIATE(ChallengeResponseMessage)
VELMARIN_INSTANTIATE(ConnectedMessage)
VELMARIN_INSTANTIATE(ViewerConnectedMessage)
VELMARIN_INSTANTIATE(HostDisconnectedMessage)
VELMARIN_INSTANTIATE(ViewerDisconnectedMessage)
VELMARIN_INSTANTIATE(DisconnectMessage)
VELMARIN_INSTANTIATE(ErrorMessage)
VELMARIN_INSTANTIATE(PingMessage)
VELMARIN_INSTANTIATE(PongMessage)
VELMARIN_INSTANTIATE(MouseEventMessage)
VELMARIN_INSTANTIATE(KeyEventMessage)
VELMARIN_INSTANTIATE(SpecialKeysMessage)
VELMARIN_INSTANTIATE(ScreenInfoMessage)
VELMARIN_INSTANTIATE(QualitySettingMessage)
VELMARIN_INSTANTIATE(RequestKeyframeMessage)
VELMARIN_INSTANTIATE(MonitorListMessage)
VELMARIN_INSTANTIATE(SelectMonitorMessage)
VELMARIN_INSTANTIATE(SystemInfoMessage)
VELMARIN_INSTANTIATE(ChatMessage)
VELMARIN_INSTANTIATE(ClipboardMessage)
VELMARIN_INSTANTIATE(DrawMessage)
VELMARIN_INSTANTIATE(DrawClearMessage)
VELMARIN_INSTANTIATE(SpotlightMessage)
VELMARIN_INSTANTIATE(FileOfferMessage)
VELMARIN_INSTANTIATE(FileAcceptMessage)
VELMARIN_INSTANTIATE(FileRejectMessage)
VELMARIN_INSTANTIATE(FileChunkMessage)
VELMARIN_INSTANTIATE(FileAckMessage)
VELMARIN_INSTANTIATE(FileCancelMessage)
VELMARIN_INSTANTIATE(FileCompleteMessage)
VELMARIN_INSTANTIATE(PresenceMessage)
VELMARIN_INSTANTIATE(PresenceResultMessage)

#undef VELMARIN_INSTANTIATE

} // namespace ProtocolEncoder
} // namespace velmarin::protocol
