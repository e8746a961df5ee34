#include "relay/config_check.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <unistd.h>

using namespace velmarin::relay;

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

class ConfigCheck : public testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("velmarin-config-check-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        write_pair(dir, "good", -60, 86400);
        write_pair(dir, "other", -60, 86400);
        write_pair(dir, "expired", -2 * 86400, -86400);
        config.cert_file = (dir / "good.crt").string();
        config.key_file = (dir / "good.key").string();
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::filesystem::path dir;
    relay_config config;
};

} // namespace

TEST_F(ConfigCheck, AcceptsAMatchingCurrentPairAndNamesWhatWouldStopTheRelayInDutch) {
    EXPECT_EQ(check_config(config), std::nullopt);

    auto mismatched = config;
    mismatched.key_file = (dir / "other.key").string();
    EXPECT_NE(check_config(mismatched).value_or("").find("other.key"), std::string::npos);

    auto expired = config;
    expired.cert_file = (dir / "expired.crt").string();
    expired.key_file = (dir / "expired.key").string();
    EXPECT_NE(check_config(expired).value_or("").find("verlopen"), std::string::npos);

    auto missing = config;
    missing.cert_file = (dir / "absent.crt").string();
    EXPECT_NE(check_config(missing).value_or("").find("Kan certificaat niet laden"),
              std::string::npos);

    auto address = config;
    address.listen_address = "relay.example";
    EXPECT_NE(check_config(address).value_or("").find("luisteradres"), std::string::npos);

    auto state = config;
    state.state_file = (dir / "no-such-folder" / "reservations").string();
    EXPECT_NE(check_config(state).value_or("").find("--state"), std::string::npos);
}
