// Record protection on its own: what one side seals the other opens, in
// order, under the same generation of keys, and nothing altered gets through.

#include "relay/tls_records.h"

#include <gtest/gtest.h>

#include <vector>

using velmarin::relay::record_protection;
using direction = record_protection::direction;
using bytes = std::vector<std::uint8_t>;

namespace {

struct pair_of_sides {
    record_protection sealer{direction::seal};
    record_protection opener{direction::open};

    pair_of_sides(std::uint16_t suite, std::size_t secret_size) {
        bytes secret(secret_size);
        for (std::size_t i = 0; i < secret.size(); ++i)
            secret[i] = static_cast<std::uint8_t>(i * 13 + 1);
        EXPECT_TRUE(sealer.init(suite, secret));
        EXPECT_TRUE(opener.init(suite, secret));
    }

    bytes seal(const bytes& a, const bytes& b = {}) {
        const std::span<const std::uint8_t> parts[] = {a, b};
        bytes record(a.size() + b.size() + record_protection::kOverhead);
        record.resize(sealer.seal(record_protection::kApplicationData, parts, record.data()));
        return record;
    }

    // The content, or nothing when the record does not open.
    std::optional<bytes> open(bytes record) {
        if (record.size() < record_protection::kHeaderSize)
            return std::nullopt;
        const auto length = record_protection::ciphertext_length(record.data());
        if (!length || *length != record.size() - record_protection::kHeaderSize)
            return std::nullopt;
        std::uint8_t* body = record.data() + record_protection::kHeaderSize;
        const auto opened = opener.open(record.data(), body, *length, body); // in place
        if (!opened || opened->type != record_protection::kApplicationData)
            return std::nullopt;
        return bytes(body, body + opened->length);
    }
};

bytes pattern(std::size_t size, int seed) {
    bytes out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<std::uint8_t>(i * 7 + seed);
    return out;
}

} // namespace

TEST(TlsRecords, EachSuiteOpensWhatItSealedInOrderAndAcrossKeyUpdates) {
    for (const auto& [suite, secret] : {std::pair{0x1301, 32}, {0x1302, 48}, {0x1303, 32}}) {
        SCOPED_TRACE(suite);
        pair_of_sides sides{static_cast<std::uint16_t>(suite), static_cast<std::size_t>(secret)};
        const auto head = pattern(10, 1);
        const auto body = pattern(record_protection::kMaxContent - 10, 2);
        const auto first = sides.seal(head, body); // a full record from two parts
        const auto second = sides.seal(pattern(0, 0));
        ASSERT_EQ(first.size(), record_protection::kMaxContent + record_protection::kOverhead);

        auto whole = head;
        whole.insert(whole.end(), body.begin(), body.end());
        EXPECT_EQ(sides.open(first), whole);
        EXPECT_EQ(sides.open(second), bytes{});
        EXPECT_FALSE(sides.open(first)) << "a replayed record must not open";

        ASSERT_TRUE(sides.sealer.update());
        ASSERT_TRUE(sides.opener.update());
        EXPECT_EQ(sides.open(sides.seal(head)), head);
        ASSERT_TRUE(sides.sealer.update()); // only one side moves on
        EXPECT_FALSE(sides.open(sides.seal(head)));
    }
}

TEST(TlsRecords, AlteredOrOversizedRecordsAreRefused) {
    for (const std::size_t at : {std::size_t(3), std::size_t(9), std::size_t(5 + 100 + 1 + 15)}) {
        pair_of_sides sides(0x1301, 32);
        auto record = sides.seal(pattern(100, 3));
        record[at] ^= 0x01; // length, ciphertext, tag
        EXPECT_FALSE(sides.open(record)) << "byte " << at;
    }

    pair_of_sides sides(0x1301, 32);
    const auto too_much = pattern(record_protection::kMaxContent + 1, 4);
    EXPECT_TRUE(sides.seal(too_much).empty());
    const std::uint8_t too_long[5] = {23, 3, 3, 0x41, 0x01};
    const std::uint8_t handshake[5] = {22, 3, 3, 0, 40};
    EXPECT_FALSE(record_protection::ciphertext_length(too_long));
    EXPECT_FALSE(record_protection::ciphertext_length(handshake));

    record_protection unknown{direction::seal};
    EXPECT_FALSE(unknown.init(0x1304, bytes(32))); // AES-CCM is not offered
    EXPECT_FALSE(unknown.init(0x1302, bytes(32))); // SHA-384 secrets are 48 bytes
}
