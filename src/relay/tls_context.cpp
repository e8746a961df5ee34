#include "relay/tls_context.h"

#include "relay/lean_tls_stream.h"

#include <openssl/ssl.h>

namespace velmarin::relay {

namespace ssl = boost::asio::ssl;

tls_result make_tls_context(const std::string& cert_file, const std::string& key_file) {
    tls_result result;
    auto context = std::make_unique<ssl::context>(ssl::context::tls_server);
    context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                         ssl::context::no_sslv3 | ssl::context::no_tlsv1 |
                         ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
    // TLS 1.3, no resumption, buffers released while idle.
    lean_tls_stream::configure(context->native_handle());
    boost::system::error_code ec;
    context->use_certificate_chain_file(cert_file, ec);
    if (ec) {
        result.error = "Kan certificaat niet laden uit " + cert_file + ": " + ec.message();
        return result;
    }
    context->use_private_key_file(key_file, ssl::context::pem, ec);
    if (ec) {
        result.error = "Kan privésleutel niet laden uit " + key_file + ": " + ec.message();
        return result;
    }
    if (SSL_CTX_check_private_key(context->native_handle()) != 1) {
        result.error =
            "De privésleutel " + key_file + " hoort niet bij het certificaat " + cert_file + ".";
        return result;
    }
    result.context = std::move(context);
    return result;
}

} // namespace velmarin::relay
