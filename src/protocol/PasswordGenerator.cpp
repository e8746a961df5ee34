#include "protocol/PasswordGenerator.h"

#include <openssl/rand.h>

#include <cstdio>
#include <cstdlib>

namespace velmarin::protocol::PasswordGenerator {
namespace {

std::uint64_t secureRandom64() {
    std::uint64_t value = 0;
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&value), sizeof value) != 1) {
        // Without a working secure source there is no safe password to give.
        std::fputs("velmarin: secure random source unavailable\n", stderr);
        std::abort();
    }
    return value;
}

} // namespace

std::string generate(int length) {
    if (length < 0) {
        std::fputs("velmarin: PasswordGenerator::generate called with a negative length\n", stderr);
        std::abort();
    }
    std::string password;
    password.reserve(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i)
        password.push_back(kAlphabet[uniformBelow(kAlphabet.size(), secureRandom64)]);
    return password;
}

} // namespace velmarin::protocol::PasswordGenerator
