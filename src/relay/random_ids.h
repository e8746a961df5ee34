#pragma once

// Host IDs and challenge nonces from the operating system's secure random
// source (OpenSSL RAND_bytes).

#include <string>
#include <string_view>

namespace velmarin::relay {

// Nine decimal digits, first digit 1-9 so the ID never loses a digit when a
// client treats it as a number.
std::string random_host_id();

// 128 random bits as 32 lower-case hexadecimal characters.
std::string random_nonce();

// True when `text` is exactly nine ASCII digits.
bool is_host_id(std::string_view text);

// Equal length and content, in time independent of where they differ.
bool constant_time_equal(std::string_view a, std::string_view b);

} // namespace velmarin::relay
