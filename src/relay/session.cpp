#include "relay/session.h"

#include "protocol/CryptoHelper.h"
#include "protocol/ProtocolEncoder.h"
#include "protocol/VideoFrame.h"
#include "relay/address_keys.h"
#include "relay/dutch_texts.h"
#include "relay/log.h"
#include "relay/message_type.h"
#include "relay/random_ids.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>

#include <algorithm>

namespace velmarin::relay {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
namespace proto = velmarin::protocol;
using proto::ProtocolEncoder::decode;

namespace {

// A client that keeps sending what the relay cannot use gets this many error
// answers, then its connection is closed.
constexpr unsigned kMaxErrorsPerConnection = 32;

// Room made ahead for the next message: the largest seen, but no more than
// this, so idle connections stay small after a large one.
constexpr std::size_t kKeptReadBuffer = 64 * 1024;

// What only the two peers of a session have to say to each other. From a
// Viewer that has asked to connect but is not (or no longer) paired these
// are dropped without an answer: a client may send them as soon as it has
// asked, and an error would hide the answer to its "connect".
bool is_peer_message(std::string_view type) {
    static constexpr std::string_view types[] = {
        proto::MouseEventMessage::kType,     proto::KeyEventMessage::kType,
        proto::SpecialKeysMessage::kType,    proto::ScreenInfoMessage::kType,
        proto::QualitySettingMessage::kType, proto::RequestKeyframeMessage::kType,
        proto::MonitorListMessage::kType,    proto::SelectMonitorMessage::kType,
        proto::SystemInfoMessage::kType,     proto::ChatMessage::kType,
        proto::ClipboardMessage::kType,      proto::DrawMessage::kType,
        proto::DrawClearMessage::kType,      proto::SpotlightMessage::kType,
        proto::FileOfferMessage::kType,      proto::FileAcceptMessage::kType,
        proto::FileRejectMessage::kType,     proto::FileChunkMessage::kType,
        proto::FileAckMessage::kType,        proto::FileCancelMessage::kType,
        proto::FileCompleteMessage::kType,   proto::PongMessage::kType,
    };
    return std::find(std::begin(types), std::end(types), type) != std::end(types);
}

std::shared_ptr<const std::string> encoded(const auto& message) {
    auto text = proto::ProtocolEncoder::encode(message);
    return text ? std::make_shared<const std::string>(std::move(*text)) : nullptr;
}

const std::shared_ptr<const std::string>& request_keyframe_text() {
    static const auto text = encoded(proto::RequestKeyframeMessage{});
    return text;
}

} // namespace

session::session(connection_socket&& socket, net::ssl::context& tls, server_context& context,
                 connection_caps::slot slot)
    : ws_(std::move(socket), tls.native_handle())
    , ctx_(context)
    , auth_timer_(ws_.get_executor())
    , idle_timer_(ws_.get_executor())
    , write_timer_(ws_.get_executor())
    , queue_(context.config.video_queue_bytes, context.config.control_queue_bytes,
             &context.stats.queued_bytes)
    , slot_(std::move(slot)) {
    beast::error_code ec;
    const auto remote = ws_.next_layer().socket().remote_endpoint(ec);
    if (!ec) {
        ip_ = remote.address().to_string();
        address_ = remote.address().is_v6() ? "[" + ip_ + "]:" : ip_ + ":";
        address_ += std::to_string(remote.port());
    } else {
        ip_ = address_ = "?";
    }
    counters::add(ctx_.stats.connections);
    counters::add(ctx_.stats.connections_total);
}

session::~session() {
    counters::add(ctx_.stats.connections, -1);
}

std::string session::describe() const {
    if (role_ == role::none || host_id_.empty())
        return address_;
    return address_ + (role_ == role::host ? " host=" : " viewer target=") + host_id_;
}

// --- Handshake ----------------------------------------------------------------

void session::start() {
    net::dispatch(ws_.get_executor(), [self = shared_from_this()] {
        self->auth_timer_.expires_after(self->ctx_.config.handshake_timeout);
        self->auth_timer_.async_wait(beast::bind_front_handler(&session::on_handshake_timer, self));
        self->ws_.next_layer().async_handshake(
            beast::bind_front_handler(&session::on_tls_handshake, self));
    });
}

void session::on_handshake_timer(beast::error_code ec) {
    // Until the WebSocket is accepted; from then on the WebSocket layer and
    // the registration timer watch the connection.
    if (!ec && !open_)
        close_now({});
}

void session::on_tls_handshake(beast::error_code ec, std::size_t) {
    if (ec)
        return close_now({});
    parser_.emplace();
    parser_->header_limit(8 * 1024);
    http::async_read(ws_.next_layer(), buffer_, *parser_,
                     beast::bind_front_handler(&session::on_http_request, shared_from_this()));
}

void session::on_http_request(beast::error_code ec, std::size_t) {
    if (ec)
        return close_now({});
    const auto& request = parser_->get();
    if (!websocket::is_upgrade(request))
        return reject_request(http::status::upgrade_required);
    // The endpoint lives at the root; a query string is tolerated.
    const auto target = request.target();
    if (target != "/" && !target.starts_with("/?"))
        return reject_request(http::status::not_found);

    const auto& config = ctx_.config;
    // Beast watches the handshakes; idleness is checked here (see
    // on_idle_timer), because Beast re-arms its timer for every message read.
    ws_.set_option(websocket::stream_base::timeout{config.handshake_timeout,
                                                   websocket::stream_base::none(), false});
    ws_.control_callback([this](websocket::frame_type, beast::string_view) { received_ = true; });
    ws_.set_option(websocket::stream_base::decorator([](websocket::response_type& response) {
        response.set(http::field::server, "velmarin-relay");
    }));
    ws_.read_message_max(config.max_message_bytes);
    ws_.auto_fragment(false);
    // Unmasked, unfragmented messages are written straight from their own
    // buffer; this one only carries control frames, so it can be small.
    ws_.write_buffer_bytes(512);
    ws_.async_accept(request,
                     beast::bind_front_handler(&session::on_ws_accept, shared_from_this()));
}

void session::reject_request(http::status status) {
    auto response = std::make_shared<http::response<http::string_body>>(status, 11);
    response->set(http::field::server, "velmarin-relay");
    response->set(http::field::content_type, "text/plain; charset=utf-8");
    response->body() = "Dit is een Velmarin-relay: alleen WebSocket-verbindingen op /.\n";
    if (status == http::status::upgrade_required)
        response->set(http::field::upgrade, "websocket");
    response->keep_alive(false);
    response->prepare_payload();
    http::async_write(ws_.next_layer(), *response,
                      [self = shared_from_this(), response](beast::error_code, std::size_t) {
                          self->close_now({});
                      });
}

void session::on_ws_accept(beast::error_code ec) {
    parser_.reset();
    if (ec)
        return close_now({});
    open_ = true;
    // The handshake's buffer is no longer needed; idle connections are many.
    buffer_.clear();
    buffer_.shrink_to_fit();
    auth_timer_.expires_after(ctx_.config.unauthenticated_timeout);
    auth_timer_.async_wait(beast::bind_front_handler(&session::on_auth_timer, shared_from_this()));
    arm_idle_timer();
    do_read();
}

void session::arm_idle_timer() {
    idle_timer_.expires_after(ctx_.config.idle_timeout / 2);
    idle_timer_.async_wait(beast::bind_front_handler(&session::on_idle_timer, shared_from_this()));
}

void session::on_idle_timer(beast::error_code ec) {
    // Half an idle time-out without anything from the peer: ping it, and
    // if the next half passes without an answer either, give up on it.
    if (ec || closing_)
        return;
    if (std::exchange(received_, false))
        quiet_checks_ = 0;
    else if (++quiet_checks_ >= 2)
        return close_now({});
    else if (!ping_pending_) {
        ping_pending_ = true;
        ws_.async_ping(
            {}, [self = shared_from_this()](beast::error_code) { self->ping_pending_ = false; });
    }
    arm_idle_timer();
}

void session::on_auth_timer(beast::error_code ec) {
    if (ec || authenticated_ || closing_)
        return;
    close_now("closing connection that did not register, connect or ask presence in time");
}

void session::mark_authenticated() {
    if (!authenticated_) {
        authenticated_ = true;
        auth_timer_.cancel();
    }
}

// --- Reading ------------------------------------------------------------------

void session::do_read() {
    if (!trusted())
        return do_read_unregistered();
    message_ = std::string();
    message_.reserve(message_reserve_);
    message_buffer_.emplace(message_, ctx_.config.max_message_bytes);
    ws_.async_read(*message_buffer_,
                   beast::bind_front_handler(&session::on_read, shared_from_this()));
}

void session::on_read_failed(beast::error_code ec) {
    if (ec == websocket::error::message_too_big)
        log_session(describe() + " closed: message over the size limit");
    // Nothing more will come from this peer, so whatever is still queued for
    // it is moot, and a write it does not read would otherwise hold the
    // connection open for as long as it likes.
    close_now({});
}

void session::stamp_read(std::size_t bytes) {
    counters::add(ctx_.stats.bytes_in, bytes);
    read_at_ = ws_.next_layer().taken_at();
    ctx_.stats.socket_wait.record(read_at_ - ws_.next_layer().arrived_at());
    received_ = true;
}

void session::on_read(beast::error_code ec, std::size_t bytes) {
    if (ec)
        return on_read_failed(ec);
    stamp_read(bytes);
    message_buffer_.reset();
    message_reserve_ = std::min(std::max(message_reserve_, message_.size()), kKeptReadBuffer);
    // A small message after larger ones must not hold their room while it
    // waits in a queue that counts only its size.
    if (message_.capacity() > 2 * message_.size() + 1024)
        message_.shrink_to_fit();
    auto data = std::make_shared<const std::string>(std::move(message_));

    if (ws_.got_text())
        handle_text(std::move(data));
    else
        handle_binary(std::move(data));
    if (!closing_)
        do_read();
}

void session::do_read_unregistered() {
    // Read in parts into room for one byte more than allowed: an oversized
    // text is noticed before it is stored whole, and video (dropped anyway
    // outside a pairing) is skipped part by part, never held.
    const auto limit = ctx_.config.unregistered_message_bytes;
    message_.resize(message_held_);
    message_buffer_.emplace(message_, limit + 1);
    ws_.async_read_some(
        *message_buffer_, limit + 1 - message_held_,
        beast::bind_front_handler(&session::on_read_unregistered, shared_from_this()));
}

void session::on_read_unregistered(beast::error_code ec, std::size_t bytes) {
    if (ec)
        return on_read_failed(ec);
    stamp_read(bytes);
    message_held_ = message_buffer_->size();
    message_buffer_.reset();
    if (ws_.got_binary()) {
        message_held_ = 0;
    } else if (message_held_ > ctx_.config.unregistered_message_bytes) {
        return close_now("closed: message over the size limit before registration");
    } else if (ws_.is_message_done()) {
        message_.resize(std::exchange(message_held_, 0));
        handle_text(std::make_shared<const std::string>(std::move(message_)));
        message_ = std::string();
    }
    if (!closing_)
        do_read();
}

void session::handle_text(std::shared_ptr<const std::string> text) {
    // A scan finds the type; the relay's own messages are then decoded once,
    // by their handler, and the rest are forwarded unparsed.
    const auto type = scan_message_type(*text);
    if (!type)
        return send_error(texts::malformed);
    if (*type == proto::RegisterMessage::kType)
        return handle_register(*text);
    if (*type == proto::ConnectMessage::kType) {
        asked_to_connect_ = true;
        // Queues of all connections together past the budget: no new
        // sessions until they drain or their receivers are closed.
        if (!paired() && ctx_.stats.queued_bytes.load(std::memory_order_relaxed) >=
                             static_cast<std::int64_t>(ctx_.config.queue_budget_bytes)) {
            counters::add(ctx_.stats.connects_refused);
            return send_error(texts::relay_overloaded);
        }
        return handle_connect(*text);
    }
    if (*type == proto::ChallengeResponseMessage::kType)
        return handle_challenge_response(*text);
    if (*type == proto::PresenceMessage::kType)
        return handle_presence(*text);
    if (*type == proto::DisconnectMessage::kType)
        return handle_disconnect();
    if (*type == proto::PingMessage::kType)
        return handle_ping(text);
    if (paired())
        return forward(std::move(text), false);
    // A Host, or a Viewer whose session just ended, may still have messages
    // under way that crossed the end of the session: drop them quietly.
    if (role_ == role::host || was_paired_ || (asked_to_connect_ && is_peer_message(*type)))
        return;
    send_error(texts::unexpected);
}

void session::handle_binary(std::shared_ptr<const std::string> data) {
    // Binary messages only carry video. A Host starts its video sender before
    // it connects, so its first frames can arrive ahead of its "register":
    // outside a pairing they are dropped without an answer. This buys a
    // silent connection no time: the registration timer does not count
    // traffic, and the message size limit still applies.
    if (paired())
        forward(std::move(data), true);
}

void session::handle_register(std::string_view text) {
    if (role_ != role::none)
        return send_error(texts::already_registered);
    const auto message = decode<proto::RegisterMessage>(text);
    if (!message)
        return send_error(texts::malformed);
    if (message->role != "host")
        return send_error(texts::only_hosts_register);
    if (!proto::CryptoHelper::isHexDigest(message->passwordHash))
        return send_error(texts::bad_password_hash);
    mark_authenticated();
    const auto registration =
        ctx_.hosts.register_host(shared_from_this(), message->requestedId, message->passwordHash);
    host_id_ = registration.id;
    role_ = role::host;
    send(proto::RegisteredMessage{host_id_});
    const char* how = "";
    switch (registration.how) {
    case registry::outcome::random:
    case registry::outcome::invalid:
        break;
    case registry::outcome::requested:
        how = " (requested ID)";
        break;
    case registry::outcome::took_over:
        how = " (requested ID, taken over from the previous connection with that password)";
        break;
    case registry::outcome::held:
        how = " (requested ID held by a live Host with another password)";
        break;
    case registry::outcome::reserved:
        how = " (requested ID kept for another password)";
        break;
    }
    log_session(describe() + " registered" + how);
}

void session::handle_connect(std::string_view text) {
    if (role_ == role::host)
        return send_error(texts::host_cannot_connect);
    if (paired())
        return send_error(texts::already_connected);
    const auto message = decode<proto::ConnectMessage>(text);
    if (!message)
        return send_error(texts::malformed);
    mark_authenticated();
    nonce_.clear();
    if (!is_host_id(message->targetId))
        return send_error(texts::not_found);
    if (const auto wait = ctx_.limiter.wait_time({ip_, network_key(ip_), message->targetId});
        wait.count() > 0)
        return send_error(texts::too_many_attempts(wait.count()));
    auto target = ctx_.hosts.lookup(message->targetId);
    if (target.status == host_status::offline)
        return send_error(texts::not_found);
    if (target.status == host_status::busy)
        return send_error(texts::host_busy);
    role_ = role::viewer;
    host_id_ = message->targetId;
    nonce_ = random_nonce();
    challenge_hash_ = std::move(target.password_hash);
    challenge_host_ = std::move(target.host);
    send(proto::ChallengeMessage{nonce_});
}

void session::handle_challenge_response(std::string_view text) {
    if (nonce_.empty())
        return send_error(texts::no_challenge);
    const auto message = decode<proto::ChallengeResponseMessage>(text);
    if (!message)
        return send_error(texts::malformed);
    const std::string nonce = std::exchange(nonce_, {}); // single use, whatever the outcome
    const std::string hash = std::exchange(challenge_hash_, {});
    // The try is counted before the answer is compared, so answers arriving
    // together on many connections cannot all pass the same check.
    const guess_limiter::who who{ip_, network_key(ip_), host_id_};
    if (const auto wait = ctx_.limiter.reserve(who); wait.count() > 0)
        return send_error(texts::too_many_attempts(wait.count()));
    const auto expected = proto::CryptoHelper::expectedResponse(hash, nonce);
    const bool right = constant_time_equal(expected, message->response);
    // The relay cannot message a Host about this; its operator reads it here.
    if (const auto failures = ctx_.limiter.settle(who, right))
        log_line("host=" + host_id_ + ": " + std::to_string(*failures) +
                 " mislukte inlogpogingen sinds de laatste geslaagde");
    if (!right) {
        counters::add(ctx_.stats.auth_failures);
        log_session(describe() + " auth failure");
        return send_error(texts::wrong_password);
    }
    const auto host = challenge_host_.lock();
    challenge_host_.reset();
    const auto outcome = ctx_.hosts.pair(host_id_, host, shared_from_this());
    if (outcome == host_status::offline || !host)
        return send_error(texts::not_found);
    if (outcome == host_status::busy)
        return send_error(texts::host_busy);
    peer_ = std::static_pointer_cast<session>(host);
    peer_identity_ = host.get();
    was_paired_ = true;
    send(proto::ConnectedMessage{});
    log_session(describe() + " paired");
}

void session::handle_presence(std::string_view text) {
    const auto message = decode<proto::PresenceMessage>(text);
    if (!message)
        return send_error(texts::malformed);
    mark_authenticated();
    if (message->ids.size() > ctx_.config.max_presence_ids)
        return send_error(texts::too_many_ids(ctx_.config.max_presence_ids));
    // Budgets in IDs, so asking about the whole ID space takes months.
    const auto now = token_bucket::clock::now();
    const auto rate = presence_limiter::per_minute(ctx_.config.presence_per_connection);
    if (!presence_budget_)
        presence_budget_.emplace(rate, now);
    const auto ids = static_cast<double>(message->ids.size());
    if (const double wait = presence_budget_->wait_for(rate, ids, now); wait > 0)
        return send_error(texts::too_many_presence_requests(wait_seconds(wait)));
    if (const auto wait = ctx_.presence.take(ip_, network_key(ip_), message->ids.size(), now))
        return send_error(texts::too_many_presence_requests(wait));
    presence_budget_->take(rate, ids, now);
    send(proto::PresenceResultMessage{ctx_.hosts.statuses(message->ids)});
}

void session::handle_disconnect() {
    if (role_ == role::host) {
        // The Host is leaving: its Viewer is told and its ID is free again.
        ctx_.hosts.unregister_host(host_id_, this);
        log_session(describe() + " unregistered");
        end_pairing_locally();
        role_ = role::none;
        return close_gracefully();
    }
    if (role_ == role::viewer && paired()) {
        ctx_.hosts.unpair(host_id_, this);
        log_session(describe() + " unpaired");
        end_pairing_locally();
    }
    nonce_.clear();
}

void session::handle_ping(const std::shared_ptr<const std::string>& text) {
    if (paired())
        return forward(text, false); // the peer answers
    const auto ping = decode<proto::PingMessage>(*text);
    if (!ping)
        return send_error(texts::malformed);
    send(proto::PongMessage{ping->timestamp});
}

// --- Pairing --------------------------------------------------------------------

void session::forward(std::shared_ptr<const std::string> data, bool binary) {
    if (const auto peer = peer_.lock()) {
        counters::add(ctx_.stats.messages_forwarded);
        peer->deliver_from_peer(std::move(data), binary, read_at_);
    }
}

void session::end_pairing_locally() {
    peer_.reset();
    peer_identity_ = nullptr;
}

void session::on_viewer_paired(std::shared_ptr<registry_peer> viewer) {
    net::post(ws_.get_executor(), [self = shared_from_this(), viewer = std::move(viewer)] {
        if (self->closing_)
            return;
        self->peer_ = std::static_pointer_cast<session>(viewer);
        self->peer_identity_ = viewer.get();
        self->was_paired_ = true;
        self->send(proto::ViewerConnectedMessage{});
    });
}

void session::on_viewer_left(const registry_peer* viewer) {
    net::post(ws_.get_executor(), [self = shared_from_this(), viewer] {
        if (self->closing_ || self->peer_identity_ != viewer)
            return;
        self->end_pairing_locally();
        self->send(proto::ViewerDisconnectedMessage{});
        log_session(self->describe() + " viewer left");
    });
}

void session::on_host_left(const registry_peer* host) {
    net::post(ws_.get_executor(), [self = shared_from_this(), host] {
        if (self->closing_ || self->peer_identity_ != host)
            return;
        self->end_pairing_locally();
        self->send(proto::HostDisconnectedMessage{});
        log_session(self->describe() + " host left");
    });
}

void session::on_replaced() {
    net::post(ws_.get_executor(), [self = shared_from_this()] {
        if (self->closing_)
            return;
        // The ID is no longer ours: leaving must not unregister the newcomer
        // (the registry checks) nor tell a Viewer twice (it was told).
        self->end_pairing_locally();
        self->close_now("replaced by a new registration with the same password");
    });
}

void session::deliver_from_peer(std::shared_ptr<const std::string> data, bool binary,
                                outgoing_queue::clock::time_point read_at) {
    // Dispatched rather than posted: when this connection's strand is free
    // the message is queued and its write started at once, inside the
    // sender's handler, instead of waiting behind everything else the
    // thread has to do first.
    net::dispatch(
        ws_.get_executor(), [self = shared_from_this(), data = std::move(data), binary, read_at] {
            if (self->closing_ || !self->open_)
                return;
            if (!binary)
                return self->send_control(data, read_at);
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(data->data());
            const auto frame = proto::parseFrame({bytes, data->size()});
            // Video only ever comes from the peer's socket, so `read_at` is set.
            switch (self->queue_.push_video(data, frame && frame->isKeyframe, read_at)) {
            case outgoing_queue::push_result::queued:
                return self->do_write();
            case outgoing_queue::push_result::dropped_need_key:
                log_session(self->describe() + " too slow: dropping video until the next keyframe");
                self->request_keyframe_from_peer();
                [[fallthrough]];
            case outgoing_queue::push_result::dropped:
            case outgoing_queue::push_result::overflow:
                counters::add(self->ctx_.stats.frames_dropped);
                return;
            }
        });
}

void session::request_keyframe_from_peer() {
    // Sent as if this side had asked, so the picture recovers at once.
    if (const auto peer = peer_.lock())
        peer->deliver_from_peer(request_keyframe_text(), false, {});
}

// --- Writing --------------------------------------------------------------------

template <class M> void session::send(const M& message) {
    if (auto text = encoded(message))
        send_control(std::move(text));
}

void session::send_error(std::string_view text) {
    if (++errors_sent_ > kMaxErrorsPerConnection)
        return close_now("closed after too many bad messages");
    send(proto::ErrorMessage{std::string(text)});
}

void session::send_control(std::shared_ptr<const std::string> text,
                           outgoing_queue::clock::time_point read_at) {
    if (closing_)
        return;
    if (queue_.push_control(std::move(text), read_at) == outgoing_queue::push_result::overflow) {
        counters::add(ctx_.stats.slow_closed);
        return close_now("closed: messages could not be delivered (receiver too slow)");
    }
    do_write();
}

void session::do_write() {
    if (!open_ || (closing_ && !close_after_flush_))
        return;
    if (const auto* message = queue_.start_write()) {
        ws_.binary(message->binary);
        ws_.next_layer().more_follows(queue_.more_after_head());
        start_write_clock();
        ws_.async_write(net::buffer(*message->data),
                        beast::bind_front_handler(&session::on_write, shared_from_this()));
        return;
    }
    if (!queue_.writing())
        ws_.next_layer().release_write_buffer(); // idle connections are many
    if (close_after_flush_ && !queue_.writing() && !close_started_) {
        close_started_ = true;
        start_write_clock();
        ws_.async_close(websocket::close_code::normal,
                        [self = shared_from_this()](beast::error_code) { self->close_now({}); });
    }
}

void session::on_write(beast::error_code ec, std::size_t bytes) {
    write_pending_ = false;
    if (ec)
        return close_now({});
    counters::add(ctx_.stats.bytes_out, bytes);
    if (const auto* sent = queue_.in_flight();
        sent && sent->received != outgoing_queue::clock::time_point{})
        ctx_.stats.forward_latency.record(ws_.next_layer().flushed_at() - sent->received);
    queue_.finish_write();
    do_write();
}

// One timer per connection, not one per write: it is armed for the write
// time-out when a write starts and none is armed, and when it fires while a
// write is still out, it waits for the rest of that write's time-out.
void session::start_write_clock() {
    write_started_ = outgoing_queue::clock::now();
    write_pending_ = true;
    if (!write_timer_armed_)
        arm_write_timer(ctx_.config.write_timeout);
}

void session::arm_write_timer(outgoing_queue::clock::duration after) {
    write_timer_armed_ = true;
    write_timer_.expires_after(after);
    write_timer_.async_wait(
        beast::bind_front_handler(&session::on_write_timer, shared_from_this()));
}

void session::on_write_timer(beast::error_code ec) {
    write_timer_armed_ = false;
    if (ec || cleaned_up_ || !write_pending_)
        return;
    const auto waited = outgoing_queue::clock::now() - write_started_;
    if (waited < ctx_.config.write_timeout)
        return arm_write_timer(ctx_.config.write_timeout - waited);
    counters::add(ctx_.stats.write_timeouts);
    close_now("closed: a write did not finish in " +
              std::to_string(ctx_.config.write_timeout.count()) + " s (peer not reading)");
}

// --- Closing --------------------------------------------------------------------

void session::close_gracefully() {
    close_after_flush_ = true;
    closing_ = true;
    do_write();
}

void session::close_now(std::string_view reason) {
    if (!reason.empty())
        log_session(describe() + " " + std::string(reason));
    ws_.next_layer().shutdown_and_close();
    on_closed();
}

void session::on_closed() {
    if (cleaned_up_)
        return;
    cleaned_up_ = true;
    closing_ = true;
    auth_timer_.cancel();
    idle_timer_.cancel();
    write_timer_.cancel();
    // The budget gets the bytes back now, not when the last handler lets go.
    queue_.clear();
    if (role_ == role::host) {
        ctx_.hosts.unregister_host(host_id_, this);
        log_session(describe() + " unregistered (connection closed)");
    } else if (role_ == role::viewer && paired()) {
        ctx_.hosts.unpair(host_id_, this);
        log_session(describe() + " unpaired (connection closed)");
    }
    end_pairing_locally();
}

} // namespace velmarin::relay
