#include "relay/listener.h"

#include "relay/log.h"
#include "relay/session.h"

#include <boost/asio/strand.hpp>

namespace velmarin::relay {

namespace net = boost::asio;
using tcp = net::ip::tcp;

listener::listener(net::io_context& io, net::ssl::context& tls, server_context& context,
                   const tcp::endpoint& endpoint, std::string& error)
    : io_(io)
    , tls_(tls)
    , ctx_(context)
    , acceptor_(net::make_strand(io))
    , retry_timer_(acceptor_.get_executor()) {
    boost::system::error_code ec;
    const auto fail = [&](const char* what) {
        error = std::string(what) + " " + endpoint.address().to_string() + ":" +
                std::to_string(endpoint.port()) + ": " + ec.message();
    };
    if (acceptor_.open(endpoint.protocol(), ec); ec) {
        fail("Kan geen socket openen voor");
        return;
    }
    if (acceptor_.set_option(net::socket_base::reuse_address(true), ec); ec) {
        fail("Kan socketoptie niet zetten voor");
        return;
    }
    if (acceptor_.bind(endpoint, ec); ec) {
        fail("Kan niet binden aan");
        return;
    }
    if (acceptor_.listen(net::socket_base::max_listen_connections, ec); ec) {
        fail("Kan niet luisteren op");
        return;
    }
}

tcp::endpoint listener::local_endpoint() const {
    boost::system::error_code ec;
    return acceptor_.local_endpoint(ec);
}

void listener::run() {
    net::dispatch(acceptor_.get_executor(), [self = shared_from_this()] { self->do_accept(); });
}

void listener::stop() {
    net::post(acceptor_.get_executor(), [self = shared_from_this()] {
        boost::system::error_code ignored;
        self->acceptor_.close(ignored);
        self->retry_timer_.cancel();
    });
}

void listener::do_accept() {
    acceptor_.async_accept(
        net::make_strand(io_),
        [self = shared_from_this()](boost::system::error_code ec, connection_socket socket) {
            self->on_accept(ec, std::move(socket));
        });
}

connection_caps::slot listener::admit(connection_socket& socket) {
    boost::system::error_code ec;
    const auto remote = socket.remote_endpoint(ec);
    return ctx_.caps.admit(ec ? std::string("?") : remote.address().to_string());
}

void listener::on_accept(boost::system::error_code ec, connection_socket socket) {
    if (ec == net::error::operation_aborted || !acceptor_.is_open())
        return;
    if (ec) {
        // Out of file descriptors or memory: pause instead of spinning.
        log_line("accept failed: " + ec.message());
        retry_timer_.expires_after(std::chrono::milliseconds(100));
        retry_timer_.async_wait([self = shared_from_this()](boost::system::error_code wait_ec) {
            if (!wait_ec)
                self->do_accept();
        });
        return;
    }
    const auto open = ctx_.stats.connections.load(std::memory_order_relaxed);
    if (open >= static_cast<std::int64_t>(ctx_.config.max_connections)) {
        counters::add(ctx_.stats.connections_refused);
        boost::system::error_code ignored;
        socket.close(ignored);
    } else if (auto slot = admit(socket)) {
        boost::system::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        std::make_shared<session>(std::move(socket), tls_, ctx_, std::move(slot))->start();
    } else {
        counters::add(ctx_.stats.connections_refused);
        boost::system::error_code ignored;
        socket.close(ignored);
    }
    do_accept();
}

} // namespace velmarin::relay
