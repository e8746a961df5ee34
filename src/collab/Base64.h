#pragma once

// Standard Base64 (the "+/" alphabet, "=" padding, no line breaks), as file
// chunks travel on the wire. Decoding is strict: anything but canonical
// Base64 is refused, so a damaged chunk is never stored.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmarin::collab {

std::string toBase64(std::span<const std::uint8_t> bytes);

// The bytes, or nothing when `text` is not canonical Base64 (wrong length,
// a character outside the alphabet, misplaced padding, stray bits).
std::optional<std::vector<std::uint8_t>> fromBase64(std::string_view text);

} // namespace velmarin::collab
