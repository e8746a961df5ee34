#pragma once

// TLS 1.3 record protection for one direction of a connection.
//
// OpenSSL does the handshake; after it the relay protects and opens
// application records itself with the traffic secret OpenSSL derived, and
// frees the SSL object. That object and what hangs on it is most of what an
// idle connection costs (about 10 KB), and the record path without it
// decrypts straight into the reader's buffer instead of copying out of
// OpenSSL's.
//
// One object per direction: its AEAD key and IV come from the traffic
// secret (HKDF-Expand-Label "key" / "iv"), each record's nonce is the IV
// XOR its sequence number, and KeyUpdate moves to the next secret
// ("traffic upd"). Not thread-safe.

#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace velmarin::relay {

class record_protection {
public:
    static constexpr std::size_t kHeaderSize = 5;
    static constexpr std::size_t kTagSize = 16;
    static constexpr std::size_t kMaxContent = 16384;
    static constexpr std::size_t kMaxCiphertext = kMaxContent + 256;
    static constexpr std::size_t kMaxRecord = kHeaderSize + kMaxCiphertext;
    // What a sealed record adds to its content: header, content type, tag.
    static constexpr std::size_t kOverhead = kHeaderSize + 1 + kTagSize;

    static constexpr std::uint8_t kAlert = 21;
    static constexpr std::uint8_t kHandshake = 22;
    static constexpr std::uint8_t kApplicationData = 23;

    enum class direction { seal, open };

    struct opened {
        std::uint8_t type = 0;
        std::size_t length = 0; // content, without the type byte and padding
    };

    explicit record_protection(direction d)
        : direction_(d) {}

    // Keys for cipher suite `suite` (its two-byte TLS code: 0x1301 AES-128-GCM,
    // 0x1302 AES-256-GCM, 0x1303 ChaCha20-Poly1305) from `secret`. False when
    // the suite is not one of these or OpenSSL refuses.
    bool init(std::uint16_t suite, std::span<const std::uint8_t> secret);

    // The next generation of keys, after a KeyUpdate.
    bool update();

    // Writes one record of content type `type` holding the concatenation of
    // `parts` (at most kMaxContent bytes in all) to `out`, which has room for
    // their size plus kOverhead. Returns the record's size, 0 on failure.
    std::size_t seal(std::uint8_t type, std::span<const std::span<const std::uint8_t>> parts,
                     std::uint8_t* out);

    // Opens a record: `header` is its five bytes, `ciphertext` the `length`
    // after them. The inner plaintext (length - kTagSize bytes) is written to
    // `out`, which may be `ciphertext` itself. Nothing when the record does
    // not authenticate or holds no content type.
    std::optional<opened> open(const std::uint8_t* header, const std::uint8_t* ciphertext,
                               std::size_t length, std::uint8_t* out);

    // A record header's announced ciphertext length, or nothing when the
    // header cannot start a protected TLS 1.3 record.
    static std::optional<std::size_t> ciphertext_length(const std::uint8_t* header);

private:
    bool derive_keys();
    void nonce(std::uint8_t* out) const;

    struct ctx_free {
        void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
    };

    direction direction_;
    std::unique_ptr<EVP_CIPHER_CTX, ctx_free> ctx_;
    const EVP_CIPHER* cipher_ = nullptr;
    const EVP_MD* digest_ = nullptr;
    std::array<std::uint8_t, 48> secret_{};
    std::size_t secret_size_ = 0;
    std::array<std::uint8_t, 12> iv_{};
    std::uint64_t sequence_ = 0;
};

} // namespace velmarin::relay
