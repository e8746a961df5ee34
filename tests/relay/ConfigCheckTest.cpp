#include "relay/config_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <unistd.h>

using namespace velmarin::relay;
using ::testing::HasSubstr;

namespace {

// Writes a self-signed certificate valid from `from` to `until` seconds from
// now, and its key, as PEM files in `dir`.
void write_pair(const std::filesystem::path& dir, const std::string& name, long from, long until) {
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key{EVP_EC_gen("P-256"),
                                                                  &EVP_PKEY_free};
    const std::unique_ptr<X509, decltype(&X509_free)> cert{X509_new(), &X509_free};
    X509_set_version(cert.get(), 2);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), from);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), until);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get()));
    X509_sign(cert.get(), key.get(), EVP_sha256());
    FILE* out = std::fopen((dir / (name + ".crt")).c_str(), "w");
    PEM_write_X509(out, cert.get());
    std::fclose(out);
    out = std::fopen((dir / (name + ".key")).c_str(), "w");
    PEM_write_PrivateKey(out, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(out);
}

} // namespace

TEST(ConfigCheck, AcceptsAMatchingCurrentPairAndNamesWhatWouldStopTheRelayInDutch) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("velmarin-config-check-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    write_pair(dir, "good", -60, 86400);
    write_pair(dir, "other", -60, 86400);
    write_pair(dir, "expired", -2 * 86400, -86400);
    const auto with = [&](const std::string& cert, const std::string& key) {
        relay_config config;
        config.cert_file = (dir / cert).string();
        config.key_file = (dir / key).string();
        return config;
    };
    const auto problem = [](const relay_config& config) {
        return check_config(config).value_or("");
    };

    EXPECT_EQ(check_config(with("good.crt", "good.key")), std::nullopt);
    EXPECT_THAT(problem(with("good.crt", "other.key")), HasSubstr("other.key"));
    EXPECT_THAT(problem(with("expired.crt", "expired.key")), HasSubstr("verlopen"));
    EXPECT_THAT(problem(with("absent.crt", "good.key")), HasSubstr("Kan certificaat niet laden"));
    auto address = with("good.crt", "good.key");
    address.listen_address = "relay.example";
    EXPECT_THAT(problem(address), HasSubstr("luisteradres"));
    auto state = with("good.crt", "good.key");
    state.state_file = (dir / "no-such-folder" / "reservations").string();
    EXPECT_THAT(problem(state), HasSubstr("--state"));
    std::filesystem::remove_all(dir);
}
