#include "protocol/CryptoHelper.h"

#include <openssl/evp.h>

#include <array>
#include <cstdlib>

namespace velmarin::protocol::CryptoHelper {

std::string sha256hex(std::string_view text) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != 32) {
        // Only a broken libcrypto gets here; a wrong digest would be worse.
        std::abort();
    }
    static constexpr char hex[] = "0123456789abcdef";
    std::string out(64, '0');
    for (unsigned int i = 0; i < length; ++i) {
        out[2 * i] = hex[digest[i] >> 4];
        out[2 * i + 1] = hex[digest[i] & 0x0f];
    }
    return out;
}

std::string expectedResponse(std::string_view passwordHash, std::string_view nonce) {
    std::string input;
    input.reserve(passwordHash.size() + nonce.size());
    input.append(passwordHash).append(nonce);
    return sha256hex(input);
}

std::string challengeResponse(std::string_view password, std::string_view nonce) {
    return expectedResponse(sha256hex(password), nonce);
}

bool isHexDigest(std::string_view text) {
    if (text.size() != 64)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

} // namespace velmarin::protocol::CryptoHelper
