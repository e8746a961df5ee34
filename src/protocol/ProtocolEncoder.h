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

#include <optional>
#include <string>
#include <string_view>

namespace velmarin::protocol {

template <class M>
concept Message = requires {
    M::kType;
};

namespace ProtocolEncoder {

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
