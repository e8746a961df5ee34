#pragma once

// The one JSON encoder and decoder for control messages.
//
// Encoding writes compact JSON with `type` first and the record's members in
// declaration order; optional members without a value are left out, never
// written as null. Decoding ignores unknown keys, reads a missing key or null
// as "no value", and fails as a whole when a required key is missing or holds
// the wrong JSON type, or when an integer does not fit its field. Neither side
// throws: every failure is an empty result.

#include "protocol/ProtocolMessages.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velmarin::protocol {

template <class M>
concept Message = requires {
    M::kType;
};

// A received text parsed once: its `type`, and the record it holds decoded
// from the parsed form, so that a large message (a file chunk) is not parsed
// twice to be routed and read.
class ParsedMessage {
public:
    struct Document; // the parsed JSON, known to the decoder only
    ParsedMessage(std::string type, std::unique_ptr<Document> document);
    ParsedMessage(ParsedMessage&&) noexcept;
    ParsedMessage& operator=(ParsedMessage&&) noexcept;
    ~ParsedMessage();

    const std::string& type() const { return m_type; }
    const Document& document() const { return *m_document; }

private:
    std::string m_type;
    std::unique_ptr<Document> m_document;
};

namespace ProtocolEncoder {

// The text parsed, when it is a JSON object with a string `type` (the same
// texts decodeType accepts).
std::optional<ParsedMessage> parse(std::string_view text);

// The parsed message read as record M, or nothing.
template <Message M> std::optional<M> decode(const ParsedMessage& message);

// The `type` of a received text, or nothing when the text is not a JSON
// object with a string `type`.
std::optional<std::string> decodeType(std::string_view text);

// The text decoded as record M, or nothing.
template <Message M> std::optional<M> decode(std::string_view text);

// The record as one line of JSON, or nothing when it cannot be encoded (a
// string that is not valid UTF-8, a number that is not finite).
template <Message M> std::optional<std::string> encode(const M& message);

// Deeper JSON than this is refused before it is parsed; no message of ours
// nests more than three levels.
inline constexpr int kMaxNestingDepth = 16;

} // namespace ProtocolEncoder
} // namespace velmarin::protocol
