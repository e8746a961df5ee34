#include "relay/random_ids.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <array>
#include <cstdint>
#include <cstdlib>

namespace velmarin::relay {
namespace {

template <std::size_t N> std::array<unsigned char, N> random_bytes() {
    std::array<unsigned char, N> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
        // Predictable IDs or nonces would undo the password check; refuse to go on.
        std::abort();
    }
    return bytes;
}

} // namespace

std::string random_host_id() {
    constexpr std::uint64_t span = 900'000'000; // 100000000 … 999999999
    // Rejection sampling keeps every ID equally likely.
    constexpr std::uint64_t limit = UINT64_MAX - UINT64_MAX % span;
    for (;;) {
        const auto bytes = random_bytes<8>();
        std::uint64_t value = 0;
        for (const auto b : bytes)
            value = value << 8 | b;
        if (value < limit)
            return std::to_string(100'000'000 + value % span);
    }
}

std::string random_nonce() {
    static constexpr char hex[] = "0123456789abcdef";
    const auto bytes = random_bytes<16>();
    std::string out;
    out.reserve(32);
    for (const auto b : bytes) {
        out += hex[b >> 4];
        out += hex[b & 0x0f];
    }
    return out;
}

bool is_host_id(std::string_view text) {
    if (text.size() != 9)
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool constant_time_equal(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace velmarin::relay
