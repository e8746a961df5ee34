#include "support/transport/LocalListener.h"

#include <boost/asio/read_until.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include <cstdlib>
#include <stdexcept>

namespace velmarin::testing {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

LocalListener::LocalListener(Mode mode, const std::string& address, const std::string& certFile,
                             const std::string& keyFile)
    : m_mode(mode) {
    if (mode == Mode::refuseUpgrade) {
        m_tls.use_certificate_chain_file(certFile);
        m_tls.use_private_key_file(keyFile, asio::ssl::context::pem);
    }
    m_acceptor = tcp::acceptor(m_io, {asio::ip::make_address(address), 0});
    m_port = m_acceptor.local_endpoint().port();
    accept();
    m_thread = std::thread([this] { m_io.run(); });
}

void LocalListener::accept() {
    m_acceptor.async_accept([this](boost::system::error_code error, tcp::socket socket) {
        if (error)
            return;
        if (m_mode == Mode::hangUp) {
            socket.close();
        } else {
            auto stream =
                std::make_shared<asio::ssl::stream<tcp::socket>>(std::move(socket), m_tls);
            stream->async_handshake(
                asio::ssl::stream_base::server, [this, stream](boost::system::error_code error) {
                    if (error)
                        return;
                    auto request = std::make_shared<asio::streambuf>();
                    asio::async_read_until(
                        *stream, *request, "\r\n\r\n",
                        [this, stream, request](boost::system::error_code error, std::size_t) {
                            if (error)
                                return;
                            ++m_refused;
                            static const std::string answer = "HTTP/1.1 403 Forbidden\r\n"
                                                              "Content-Length: 0\r\n"
                                                              "Connection: close\r\n\r\n";
                            asio::async_write(*stream, asio::buffer(answer),
                                              [stream](boost::system::error_code, std::size_t) {
                                                  stream->lowest_layer().close();
                                              });
                        });
                });
        }
        accept();
    });
}

UntrustedCertificate::UntrustedCertificate() {
    char pattern[] = "/tmp/velmarin-untrusted-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("cannot create a temporary directory");
    directory = pattern;
    certFile = directory + "/cert.pem";
    keyFile = directory + "/key.pem";
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
        "-subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout '" +
        keyFile + "' -out '" + certFile + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("openssl could not make a certificate");
}

} // namespace velmarin::testing
