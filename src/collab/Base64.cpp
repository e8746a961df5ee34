#include "collab/Base64.h"

#include <array>

namespace velmarin::collab {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> decodeTable() {
    std::array<std::int8_t, 256> table{};
    table.fill(-1);
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}

constexpr auto kDecode = decodeTable();

} // namespace

std::string toBase64(std::span<const std::uint8_t> bytes) {
    std::string text((bytes.size() + 2) / 3 * 4, '=');
    char* out = text.data();
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3, out += 4) {
        const std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out[0] = kAlphabet[(v >> 18) & 63];
        out[1] = kAlphabet[(v >> 12) & 63];
        out[2] = kAlphabet[(v >> 6) & 63];
        out[3] = kAlphabet[v & 63];
    }
    if (const std::size_t rest = bytes.size() - i; rest > 0) {
        const std::uint32_t v = (bytes[i] << 16) | (rest == 2 ? bytes[i + 1] << 8 : 0);
        out[0] = kAlphabet[(v >> 18) & 63];
        out[1] = kAlphabet[(v >> 12) & 63];
        if (rest == 2)
            out[2] = kAlphabet[(v >> 6) & 63];
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> fromBase64(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=')
        padding = text[text.size() - 2] == '=' ? 2 : 1;
    std::vector<std::uint8_t> bytes(text.size() / 4 * 3 - padding);
    std::uint8_t* out = bytes.data();
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            if (last && k >= 4 - padding) {
                v <<= 6;
                continue;
            }
            const std::int8_t d = kDecode[static_cast<unsigned char>(text[i + k])];
            if (d < 0)
                return std::nullopt;
            v = (v << 6) | static_cast<std::uint32_t>(d);
        }
        // Bits under the padding must be zero, or two texts would mean the
        // same bytes.
        if (last && ((padding == 1 && (v & 0xFF) != 0) || (padding == 2 && (v & 0xFFFF) != 0)))
            return std::nullopt;
        *out++ = static_cast<std::uint8_t>(v >> 16);
        if (!last || padding < 2)
            *out++ = static_cast<std::uint8_t>(v >> 8);
        if (!last || padding < 1)
            *out++ = static_cast<std::uint8_t>(v);
    }
    return bytes;
}

} // namespace velmarin::collab
