#pragma once

// One client connection: TLS and WebSocket handshake, then the relay's side
// of the protocol (register, connect/challenge, presence, ping) and, once
// paired, forwarding to the peer connection.
//
// Everything below runs on the connection's strand. The public entry points
// may be called from any thread; they hand their work to that strand. A connection
// never touches another connection's state: it hands messages over with
// deliver_from_peer(), and the registry tells both sides about pairing.

#include "relay/lean_tls_stream.h"
#include "relay/outgoing_queue.h"
#include "relay/registry.h"
#include "relay/server_context.h"
#include "relay/token_bucket.h"

#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velmarin::relay {

class session final : public registry_peer, public std::enable_shared_from_this<session> {
public:
    session(connection_socket&& socket, boost::asio::ssl::context& tls, server_context& context,
            connection_caps::slot slot = {});
    ~session() override;

    void start();

    // A message from the paired peer, to be sent on unchanged. Any thread.
    // `read_at` is when this side took it off its socket (unset for the
    // relay's own messages), for the forwarding latency.
    void deliver_from_peer(std::shared_ptr<const std::string> data, bool binary,
                           outgoing_queue::clock::time_point read_at);

    // registry_peer; any thread.
    void on_viewer_paired(std::shared_ptr<registry_peer> viewer) override;
    void on_viewer_left(const registry_peer* viewer) override;
    void on_host_left(const registry_peer* host) override;
    void on_replaced() override;

private:
    enum class role { none, host, viewer };

    void on_handshake_timer(boost::beast::error_code ec);
    void on_tls_handshake(boost::beast::error_code ec, std::size_t);
    void on_http_request(boost::beast::error_code ec, std::size_t);
    void reject_request(boost::beast::http::status status);
    void on_ws_accept(boost::beast::error_code ec);
    void on_auth_timer(boost::beast::error_code ec);
    void arm_idle_timer();
    void on_idle_timer(boost::beast::error_code ec);

    void do_read();
    void on_read(boost::beast::error_code ec, std::size_t bytes);
    void do_read_unregistered();
    void on_read_unregistered(boost::beast::error_code ec, std::size_t bytes);
    void on_read_failed(boost::beast::error_code ec);
    void stamp_read(std::size_t bytes);
    // Whether messages up to the full size limit are read: once a Host has
    // registered or a Viewer has been paired.
    bool trusted() const { return role_ == role::host || was_paired_; }
    void handle_text(std::shared_ptr<const std::string> text);
    void handle_binary(std::shared_ptr<const std::string> data);
    void handle_register(std::string_view text);
    void handle_connect(std::string_view text);
    void handle_challenge_response(std::string_view text);
    void handle_presence(std::string_view text);
    void handle_disconnect();
    void handle_ping(const std::shared_ptr<const std::string>& text);

    bool paired() const { return peer_identity_ != nullptr; }
    void forward(std::shared_ptr<const std::string> data, bool binary);
    void end_pairing_locally();
    void mark_authenticated();
    void request_keyframe_from_peer();

    template <class M> void send(const M& message);
    void send_control(std::shared_ptr<const std::string> text,
                      outgoing_queue::clock::time_point read_at = {});
    void send_error(std::string_view text);
    void do_write();
    void on_write(boost::beast::error_code ec, std::size_t bytes);
    void start_write_clock();
    void arm_write_timer(outgoing_queue::clock::duration after);
    void on_write_timer(boost::beast::error_code ec);

    void close_gracefully();
    void close_now(std::string_view reason);
    void on_closed();

    std::string describe() const; // "address" or "address id=…" for log lines

    boost::beast::websocket::stream<lean_tls_stream> ws_;
    boost::beast::flat_buffer buffer_; // the HTTP upgrade request
    // Each WebSocket message is read straight into a string of its own that
    // is then handed on as it is, without a copy.
    std::string message_;
    std::optional<
        boost::asio::dynamic_string_buffer<char, std::char_traits<char>, std::allocator<char>>>
        message_buffer_;
    std::size_t message_reserve_ = 0;
    std::size_t message_held_ = 0; // of a text read in steps before registration
    std::optional<boost::beast::http::request_parser<boost::beast::http::empty_body>> parser_;
    server_context& ctx_;
    std::string address_; // "ip:port"
    std::string ip_;
    connection_timer auth_timer_; // TLS and HTTP handshake first, then registration
    connection_timer idle_timer_; // every half idle time-out once open
    // Watches the one outstanding write.
    connection_timer write_timer_;
    outgoing_queue queue_;

    role role_ = role::none;
    std::string host_id_; // Host: its own ID; Viewer: the ID it connects to
    std::string nonce_;   // the open challenge, single use
    std::string challenge_hash_;
    std::weak_ptr<registry_peer> challenge_host_;
    std::weak_ptr<session> peer_;
    const void* peer_identity_ = nullptr; // still valid for comparison once the peer is gone
    bool was_paired_ = false;
    bool asked_to_connect_ = false;
    bool authenticated_ = false;
    bool open_ = false;
    bool closing_ = false;
    bool close_after_flush_ = false;
    bool close_started_ = false;
    bool cleaned_up_ = false;
    unsigned errors_sent_ = 0;
    outgoing_queue::clock::time_point read_at_{}; // of the message being handled
    bool received_ = false; // anything, control frames included, since the last idle check
    bool ping_pending_ = false;
    unsigned quiet_checks_ = 0;
    bool write_pending_ = false;
    bool write_timer_armed_ = false;
    outgoing_queue::clock::time_point write_started_{};
    connection_caps::slot slot_; // this connection's place under the per-address caps
    std::optional<token_bucket> presence_budget_; // IDs this connection may still ask about
};

} // namespace velmarin::relay
