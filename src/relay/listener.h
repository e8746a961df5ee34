#pragma once

// Accepts TCP connections and starts a session for each, each on its own
// strand, as long as the connection cap allows.

#include "relay/lean_tls_stream.h"
#include "relay/server_context.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <memory>

namespace velmarin::relay {

class listener : public std::enable_shared_from_this<listener> {
public:
    // Opens, binds and listens; `error` (Dutch) is set when that fails.
    listener(boost::asio::io_context& io, boost::asio::ssl::context& tls, server_context& context,
             const boost::asio::ip::tcp::endpoint& endpoint, std::string& error);

    void run();
    void stop();
    boost::asio::ip::tcp::endpoint local_endpoint() const;

private:
    void do_accept();
    void on_accept(boost::system::error_code ec, connection_socket socket);
    connection_caps::slot admit(connection_socket& socket);

    boost::asio::io_context& io_;
    boost::asio::ssl::context& tls_;
    server_context& ctx_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer retry_timer_;
};

} // namespace velmarin::relay
