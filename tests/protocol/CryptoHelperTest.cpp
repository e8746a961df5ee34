#include "protocol/CryptoHelper.h"

#include "protocol/PasswordGenerator.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace velmarin::protocol {
namespace {

TEST(CryptoHelper, DigestsAreLowercaseHexOfTheBytesAndAnswersHashDigestThenNonce) {
    EXPECT_EQ(CryptoHelper::sha256hex(""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(CryptoHelper::sha256hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // UTF-8 bytes are hashed as they are: composed and decomposed é differ.
    EXPECT_NE(CryptoHelper::sha256hex("\xC3\xA9"), CryptoHelper::sha256hex("e\xCC\x81"));

    const std::string nonce = "5f1c0e2a9b7d4c3e8f6a1b2c3d4e5f60";
    const std::string digest = CryptoHelper::sha256hex("ab3k9m");
    const std::string response = CryptoHelper::challengeResponse("ab3k9m", nonce);
    EXPECT_EQ(response, CryptoHelper::sha256hex(digest + nonce));
    EXPECT_EQ(response, CryptoHelper::expectedResponse(digest, nonce));
    EXPECT_NE(response, CryptoHelper::challengeResponse("ab3k9m", nonce.substr(0, 31) + "1"));
    EXPECT_NE(response, CryptoHelper::challengeResponse("ab3k9n", nonce));

    EXPECT_TRUE(CryptoHelper::isHexDigest(response));
    for (const std::string& bad : {std::string(63, 'a'), std::string(65, 'a'), std::string(64, 'A'),
                                   std::string(63, 'a') + "g"})
        EXPECT_FALSE(CryptoHelper::isHexDigest(bad)) << bad;
}

TEST(PasswordGenerator, UsesOnlyTheReadableAlphabet) {
    EXPECT_EQ(PasswordGenerator::generate(0), "");
    const std::string password = PasswordGenerator::generate(6);
    ASSERT_EQ(password.size(), 6u);

    // Over enough draws every character shows up and nothing else does.
    std::set<char> seen;
    for (int i = 0; i < 200; ++i) {
        for (const char c : PasswordGenerator::generate(PasswordGenerator::kSessionPasswordLength))
            seen.insert(c);
    }
    EXPECT_EQ(seen, std::set<char>(PasswordGenerator::kAlphabet.begin(),
                                   PasswordGenerator::kAlphabet.end()));
    for (const char banned : std::string("ilo01ABZ"))
        EXPECT_FALSE(seen.contains(banned)) << banned;
}

TEST(PasswordGenerator, RejectsDrawsThatWouldBiasTheIndex) {
    // 2^64 mod 31 = 16: a draw whose product with 31 leaves a low half below
    // 16 is redrawn. 0xad6b...5b × 31 leaves 5 (its high half would be 21).
    const std::vector<std::uint64_t> draws{0, 0xad6b5ad6b5ad6b5bULL, 1, ~std::uint64_t{0}};
    std::size_t next = 0;
    auto source = [&] { return draws.at(next++); };

    EXPECT_EQ(PasswordGenerator::uniformBelow(31, source), 0u); // third draw: 1 × 31 → index 0
    EXPECT_EQ(next, 3u);
    EXPECT_EQ(PasswordGenerator::uniformBelow(31, source), 30u); // largest draw → last index
}

TEST(PasswordGeneratorDeathTest, NegativeLengthStopsTheProgram) {
    EXPECT_DEATH(PasswordGenerator::generate(-1), "negative length");
}

} // namespace
} // namespace velmarin::protocol
