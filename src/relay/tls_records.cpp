#include "relay/tls_records.h"

#include <openssl/crypto.h>
#include <openssl/hmac.h>

#include <cstring>
#include <string_view>

namespace velmarin::relay {

namespace {

// HKDF-Expand-Label(secret, label, "", length) for a length no longer than
// the hash, which is one HMAC block: T(1) = HMAC(secret, info || 0x01).
bool expand_label(const EVP_MD* digest, std::span<const std::uint8_t> secret,
                  std::string_view label, std::uint8_t* out, std::size_t length) {
    constexpr std::string_view kPrefix = "tls13 ";
    std::array<std::uint8_t, 2 + 1 + 6 + 16 + 1 + 1> info{};
    const std::size_t label_size = kPrefix.size() + label.size();
    if (label_size > 16 + kPrefix.size() || length > std::size_t(EVP_MD_get_size(digest)))
        return false;
    std::size_t n = 0;
    info[n++] = std::uint8_t(length >> 8);
    info[n++] = std::uint8_t(length);
    info[n++] = std::uint8_t(label_size);
    std::memcpy(&info[n], kPrefix.data(), kPrefix.size());
    n += kPrefix.size();
    std::memcpy(&info[n], label.data(), label.size());
    n += label.size();
    info[n++] = 0; // empty context
    info[n++] = 1; // block counter
    std::array<std::uint8_t, EVP_MAX_MD_SIZE> block{};
    unsigned int block_size = 0;
    if (!HMAC(digest, secret.data(), int(secret.size()), info.data(), n, block.data(), &block_size))
        return false;
    std::memcpy(out, block.data(), length);
    OPENSSL_cleanse(block.data(), block.size());
    return true;
}

} // namespace

bool record_protection::init(std::uint16_t suite, std::span<const std::uint8_t> secret) {
    switch (suite) {
    case 0x1301:
        cipher_ = EVP_aes_128_gcm();
        digest_ = EVP_sha256();
        break;
    case 0x1302:
        cipher_ = EVP_aes_256_gcm();
        digest_ = EVP_sha384();
        break;
    case 0x1303:
        cipher_ = EVP_chacha20_poly1305();
        digest_ = EVP_sha256();
        break;
    default:
        return false;
    }
    if (secret.size() != std::size_t(EVP_MD_get_size(digest_)) || secret.size() > secret_.size())
        return false;
    std::memcpy(secret_.data(), secret.data(), secret.size());
    secret_size_ = secret.size();
    ctx_.reset(EVP_CIPHER_CTX_new());
    return ctx_ && derive_keys();
}

bool record_protection::update() {
    if (!ctx_)
        return false;
    std::array<std::uint8_t, 48> next{};
    if (!expand_label(digest_, {secret_.data(), secret_size_}, "traffic upd", next.data(),
                      secret_size_))
        return false;
    secret_ = next;
    OPENSSL_cleanse(next.data(), next.size());
    return derive_keys();
}

bool record_protection::derive_keys() {
    std::array<std::uint8_t, 32> key{};
    const auto key_size = std::size_t(EVP_CIPHER_get_key_length(cipher_));
    const std::span<const std::uint8_t> secret{secret_.data(), secret_size_};
    const bool ok = key_size <= key.size() &&
                    expand_label(digest_, secret, "key", key.data(), key_size) &&
                    expand_label(digest_, secret, "iv", iv_.data(), iv_.size()) &&
                    EVP_CipherInit_ex(ctx_.get(), cipher_, nullptr, key.data(), nullptr,
                                      direction_ == direction::seal ? 1 : 0) == 1;
    OPENSSL_cleanse(key.data(), key.size());
    sequence_ = 0;
    return ok;
}

void record_protection::nonce(std::uint8_t* out) const {
    std::memcpy(out, iv_.data(), iv_.size());
    for (int i = 0; i < 8; ++i)
        out[4 + i] ^= std::uint8_t(sequence_ >> (56 - 8 * i));
}

std::optional<std::size_t> record_protection::ciphertext_length(const std::uint8_t* header) {
    // Protected records always travel as application data, version 1.2.
    if (header[0] != kApplicationData || header[1] != 0x03 || header[2] != 0x03)
        return std::nullopt;
    const std::size_t length = std::size_t(header[3]) << 8 | header[4];
    if (length < kTagSize + 1 || length > kMaxCiphertext)
        return std::nullopt;
    return length;
}

std::size_t record_protection::seal(std::uint8_t type,
                                    std::span<const std::span<const std::uint8_t>> parts,
                                    std::uint8_t* out) {
    std::size_t content = 0;
    for (const auto& part : parts)
        content += part.size();
    // The sequence number must never repeat under one key.
    if (!ctx_ || direction_ != direction::seal || content > kMaxContent || sequence_ == ~0ull)
        return 0;
    const std::size_t length = content + 1 + kTagSize;
    out[0] = kApplicationData;
    out[1] = 0x03;
    out[2] = 0x03;
    out[3] = std::uint8_t(length >> 8);
    out[4] = std::uint8_t(length);
    std::array<std::uint8_t, 12> iv{};
    nonce(iv.data());
    EVP_CIPHER_CTX* c = ctx_.get();
    int n = 0;
    if (EVP_EncryptInit_ex(c, nullptr, nullptr, nullptr, iv.data()) != 1 ||
        EVP_EncryptUpdate(c, nullptr, &n, out, int(kHeaderSize)) != 1)
        return 0;
    std::uint8_t* p = out + kHeaderSize;
    for (const auto& part : parts) {
        if (part.empty())
            continue;
        if (EVP_EncryptUpdate(c, p, &n, part.data(), int(part.size())) != 1)
            return 0;
        p += n;
    }
    if (EVP_EncryptUpdate(c, p, &n, &type, 1) != 1)
        return 0;
    p += n;
    if (EVP_EncryptFinal_ex(c, p, &n) != 1)
        return 0;
    p += n;
    if (EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_GET_TAG, int(kTagSize), p) != 1)
        return 0;
    ++sequence_;
    return kHeaderSize + length;
}

std::optional<record_protection::opened> record_protection::open(const std::uint8_t* header,
                                                                 const std::uint8_t* ciphertext,
                                                                 std::size_t length,
                                                                 std::uint8_t* out) {
    if (!ctx_ || direction_ != direction::open || length < kTagSize + 1 ||
        length > kMaxCiphertext || sequence_ == ~0ull)
        return std::nullopt;
    const std::size_t inner = length - kTagSize;
    std::array<std::uint8_t, 12> iv{};
    nonce(iv.data());
    std::array<std::uint8_t, kTagSize> tag{};
    std::memcpy(tag.data(), ciphertext + inner, kTagSize); // `out` may overwrite it
    EVP_CIPHER_CTX* c = ctx_.get();
    int n = 0;
    int last = 0;
    if (EVP_DecryptInit_ex(c, nullptr, nullptr, nullptr, iv.data()) != 1 ||
        EVP_DecryptUpdate(c, nullptr, &n, header, int(kHeaderSize)) != 1 ||
        EVP_DecryptUpdate(c, out, &n, ciphertext, int(inner)) != 1 ||
        EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_SET_TAG, int(kTagSize), tag.data()) != 1 ||
        EVP_DecryptFinal_ex(c, out + n, &last) != 1)
        return std::nullopt;
    ++sequence_;
    // The content type is the last byte that is not padding.
    std::size_t end = inner;
    while (end > 0 && out[end - 1] == 0)
        --end;
    if (end == 0)
        return std::nullopt;
    return opened{out[end - 1], end - 1};
}

} // namespace velmarin::relay
