#include "transport/WebSocketError.h"

#include <boost/asio/error.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/websocket/error.hpp>
#include <openssl/err.h>
#include <openssl/ssl.h>

namespace velmarin::transport {

namespace asio = boost::asio;
namespace beast = boost::beast;

std::string WebSocketError::description() const {
    switch (m_kind) {
    case Kind::connectionFailed:
        return "Verbinding mislukt: " + m_reason;
    case Kind::notConnected:
        return "WebSocket is niet verbonden";
    case Kind::failed:
        break;
    }
    return m_reason;
}

std::string describeError(const boost::system::error_code& error) {
    namespace ws = beast::websocket;
    const auto& category = error.category();
    if (category == asio::error::get_ssl_category()) {
        if (ERR_GET_REASON(static_cast<unsigned long>(error.value())) ==
            SSL_R_CERTIFICATE_VERIFY_FAILED)
            return "het certificaat van de server wordt niet vertrouwd";
        return "de beveiligde verbinding is mislukt (" + error.message() + ")";
    }
    if (error == asio::ssl::error::stream_truncated || error == asio::error::eof ||
        error == asio::error::connection_reset || error == asio::error::broken_pipe ||
        error == asio::error::connection_aborted)
        return "de verbinding is onderbroken";
    if (error == asio::error::connection_refused)
        return "de server weigert de verbinding";
    if (error == asio::error::host_not_found || error == asio::error::host_not_found_try_again ||
        error == asio::error::no_data || error == asio::error::service_not_found)
        return "de server is niet gevonden";
    if (error == asio::error::network_unreachable || error == asio::error::host_unreachable ||
        error == asio::error::network_down)
        return "het netwerk is niet bereikbaar";
    if (error == asio::error::timed_out || error == beast::error::timeout)
        return "de server antwoordt niet";
    if (error == asio::error::not_connected)
        return "de verbinding is gesloten";
    if (error == asio::error::no_buffer_space)
        return "de verzendwachtrij is vol";
    if (error == asio::error::operation_aborted)
        return "de verbinding is afgebroken";
    if (error == ws::error::closed)
        return "de server heeft de verbinding gesloten";
    if (error == ws::error::message_too_big || error == ws::error::buffer_overflow)
        return "een bericht is groter dan 5 MiB";
    if (error == ws::condition::handshake_failed ||
        category == beast::http::make_error_code(beast::http::error::end_of_stream).category())
        return "de server weigert de WebSocket-verbinding";
    if (error == ws::condition::protocol_violation)
        return "de server houdt zich niet aan het WebSocket-protocol";
    return error.message();
}

} // namespace velmarin::transport
