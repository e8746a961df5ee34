#pragma once

// The server's TLS set-up: TLS 1.3 without resumption (see lean_tls_stream.h) and the
// operator's certificate chain and key.

#include <boost/asio/ssl/context.hpp>

#include <memory>
#include <string>

namespace velmarin::relay {

struct tls_result {
    std::unique_ptr<boost::asio::ssl::context> context;
    std::string error; // Dutch, when context is empty
};

tls_result make_tls_context(const std::string& cert_file, const std::string& key_file);

} // namespace velmarin::relay
