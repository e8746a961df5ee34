#pragma once

// Session passwords: short, easy to read aloud, drawn from the system's
// secure random source.

#include <cstdint>
#include <string>
#include <string_view>

namespace velmarin::protocol::PasswordGenerator {

// Lower-case letters without i, l and o; digits without 0 and 1.
inline constexpr std::string_view kAlphabet = "abcdefghjkmnpqrstuvwxyz23456789";
inline constexpr int kSessionPasswordLength = 6;

// `length` characters from kAlphabet, each uniformly distributed. A negative
// length is a programming error and aborts.
std::string generate(int length);

// A uniformly distributed value in [0, bound) from `random64`, without modulo
// bias (Lemire's multiply-and-reject). `random64` is called until a value is
// accepted. Exposed for testing the rejection rule.
__extension__ typedef unsigned __int128 Uint128;

template <class Source> std::uint64_t uniformBelow(std::uint64_t bound, Source&& random64) {
    // 2^64 mod bound, computed without 128-bit constants.
    const std::uint64_t threshold = (0 - bound) % bound;
    for (;;) {
        const Uint128 product = static_cast<Uint128>(random64()) * static_cast<Uint128>(bound);
        if (static_cast<std::uint64_t>(product) >= threshold)
            return static_cast<std::uint64_t>(product >> 64);
    }
}

} // namespace velmarin::protocol::PasswordGenerator
