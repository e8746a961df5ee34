#include "relay/config_check.h"

#include "relay/tls_context.h"

#include <boost/asio/ip/address.hpp>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <filesystem>

namespace velmarin::relay {

std::optional<std::string> check_config(const relay_config& config) {
    boost::system::error_code ec;
    boost::asio::ip::make_address(config.listen_address, ec);
    if (ec)
        return "Ongeldig luisteradres: " + config.listen_address;
    const auto tls = make_tls_context(config.cert_file, config.key_file);
    if (!tls.context)
        return tls.error;
    // An expired certificate loads fine but every client refuses it, which
    // looks like a network fault from their side.
    const X509* leaf = SSL_CTX_get0_certificate(tls.context->native_handle());
    if (leaf == nullptr)
        return "Geen certificaat gevonden in " + config.cert_file + ".";
    if (X509_cmp_current_time(X509_get0_notAfter(leaf)) <= 0)
        return "Het certificaat " + config.cert_file + " is verlopen.";
    if (X509_cmp_current_time(X509_get0_notBefore(leaf)) >= 0)
        return "Het certificaat " + config.cert_file + " is nog niet geldig.";
    if (!config.state_file.empty()) {
        std::error_code fs_error;
        const auto folder = std::filesystem::absolute(config.state_file, fs_error).parent_path();
        if (!std::filesystem::is_directory(folder, fs_error))
            return "De map voor --state bestaat niet: " + folder.string();
    }
    return std::nullopt;
}

} // namespace velmarin::relay
