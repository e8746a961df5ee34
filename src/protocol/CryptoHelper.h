#pragma once

// SHA-256 digests as used for the password registration and the challenge.

#include <string>
#include <string_view>

namespace velmarin::protocol::CryptoHelper {

// Lower-case hexadecimal SHA-256 of the bytes of `text` (64 characters).
std::string sha256hex(std::string_view text);

// The Viewer's answer to a challenge: sha256hex(sha256hex(password) + nonce).
std::string challengeResponse(std::string_view password, std::string_view nonce);

// The same answer computed from the digest the Host registered; this is what
// the relay compares against.
std::string expectedResponse(std::string_view passwordHash, std::string_view nonce);

// True when `text` is 64 lower-case hexadecimal characters.
bool isHexDigest(std::string_view text);

} // namespace velmarin::protocol::CryptoHelper
