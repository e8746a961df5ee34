#pragma once

// Loopback listeners for the connection failures the real relay cannot be
// made to show: a peer that hangs up at once, a TLS server that refuses the
// WebSocket upgrade, a TLS server whose certificate the client must refuse.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

namespace velmarin::testing {

class LocalListener {
public:
    enum class Mode {
        hangUp,        // accept the TCP connection and close it
        refuseUpgrade, // complete TLS, answer the upgrade with 403
    };

    // Listens on `address`:0 until destroyed. `certFile`/`keyFile` are used
    // by refuseUpgrade.
    LocalListener(Mode mode, const std::string& address, const std::string& certFile = {},
                  const std::string& keyFile = {});
    ~LocalListener() {
        m_io.stop();
        m_thread.join();
    }

    std::uint16_t port() const { return m_port; }
    // Connections that reached the TLS handshake's end (refuseUpgrade).
    int upgradesRefused() const { return m_refused.load(); }

private:
    void accept();

    Mode m_mode;
    boost::asio::io_context m_io;
    boost::asio::ssl::context m_tls{boost::asio::ssl::context::tls_server};
    boost::asio::ip::tcp::acceptor m_acceptor{m_io};
    std::uint16_t m_port = 0;
    std::atomic<int> m_refused{0};
    std::thread m_thread;
};

// A self-signed certificate for localhost and 127.0.0.1 that no client
// trusts, written into a fresh temporary directory.
struct UntrustedCertificate {
    UntrustedCertificate();
    ~UntrustedCertificate() { std::filesystem::remove_all(directory); }
    std::string directory;
    std::string certFile;
    std::string keyFile;
};

} // namespace velmarin::testing
