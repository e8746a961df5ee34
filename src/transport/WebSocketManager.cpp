#include "transport/WebSocketManager.h"

#include "transport/RelayEndpoint.h"
#include "transport/WebSocketConnection.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>

#include <future>
#include <utility>

namespace velmarin::transport {

namespace asio = boost::asio;

struct WebSocketManager::Runtime {
    asio::io_context io{1};
    asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
    std::thread thread{[this] { io.run(); }};
};

WebSocketManager::WebSocketManager(std::string serverURL, std::shared_ptr<logging::Sink> log)
    : m_serverURL(std::move(serverURL))
    , m_log(std::move(log))
    , m_runtime(std::make_unique<Runtime>()) {}

WebSocketManager::~WebSocketManager() {
    disconnect();
    // Let the close handshake and every pending completion run, then stop.
    m_runtime->work.reset();
    m_runtime->thread.join();
}

bool WebSocketManager::isConnected() const {
    std::lock_guard lock(m_mutex);
    return m_connected;
}

void WebSocketManager::log(logging::Level level, const std::string& line) const {
    if (m_log)
        m_log->write(level, "network", line);
    else
        logging::write(level, "network", line);
}

void WebSocketManager::connect(Completion done) {
    disconnect();

    const auto fail = [this, &done](const std::string& reason) {
        log(logging::Level::error, "WebSocket connection failed: " + reason);
        if (done)
            done(unexpected(WebSocketError::connectionFailed(reason)));
    };
    auto endpoint = parseWebSocketURL(m_serverURL);
    if (!endpoint) {
        fail("ongeldig serveradres " + m_serverURL);
        return;
    }
    asio::ssl::context tls(asio::ssl::context::tls_client);
    boost::system::error_code error;
    tls.set_default_verify_paths(error);
    if (const std::string caFile = relayCAFile(); !caFile.empty()) {
        tls.load_verify_file(caFile, error);
        if (error) {
            fail("het CA-bestand " + caFile + " kan niet worden gelezen");
            return;
        }
    }

    // The connection reports to the manager through callbacks that check it
    // is still the current one: a replaced connection stays silent.
    auto connection =
        std::make_shared<WebSocketConnection>(m_runtime->io, std::move(tls), std::move(*endpoint));
    const std::weak_ptr<WebSocketConnection> weak = connection;
    WebSocketConnection::Events events;
    events.message = [this, weak](WebSocketMessage message) {
        MessageHandler handler;
        {
            std::lock_guard lock(m_mutex);
            if (m_connection != weak.lock())
                return;
            handler = m_onMessage;
        }
        if (handler)
            handler(std::move(message));
    };
    events.readFailed = [this, weak](const boost::system::error_code& error) {
        if (auto current = weak.lock())
            onReadFailed(current, WebSocketError::failed(describeError(error)));
    };
    connection->setEvents(std::move(events));
    {
        std::lock_guard lock(m_mutex);
        m_connection = connection;
    }
    connection->start([this, weak, done = std::move(done)](const boost::system::error_code& error) {
        const auto current = weak.lock();
        bool stillCurrent = false;
        {
            std::lock_guard lock(m_mutex);
            stillCurrent = current && m_connection == current;
            if (stillCurrent && !error)
                m_connected = true;
            else if (stillCurrent)
                m_connection.reset(); // the connection closed itself
        }
        if (!error && stillCurrent) {
            log(logging::Level::info, "WebSocket connected to " + m_serverURL);
            if (done)
                done({});
            return;
        }
        // A connection replaced while its pong was on the way counts as
        // aborted, whatever the network said.
        const std::string reason = describeError(error ? error : asio::error::operation_aborted);
        log(logging::Level::error, "WebSocket connection failed: " + reason);
        if (done)
            done(unexpected(WebSocketError::connectionFailed(reason)));
    });
}

void WebSocketManager::onReadFailed(const std::shared_ptr<WebSocketConnection>& connection,
                                    const WebSocketError& error) {
    DisconnectHandler handler;
    {
        std::lock_guard lock(m_mutex);
        if (m_connection != connection || !m_connected)
            return; // the owner disconnected: stay silent
        m_connected = false;
        handler = m_onDisconnect;
    }
    log(logging::Level::error, "WebSocket receive error: " + error.reason());
    if (handler)
        handler(error);
}

void WebSocketManager::disconnect() {
    std::shared_ptr<WebSocketConnection> connection;
    {
        std::lock_guard lock(m_mutex);
        m_connected = false;
        connection = std::move(m_connection);
        m_connection.reset();
    }
    if (connection)
        connection->shutdown();
}

void WebSocketManager::sendText(std::string text, Completion done) {
    send(false, std::move(text), {}, std::move(done));
}

void WebSocketManager::sendData(std::vector<std::uint8_t> bytes, Completion done) {
    send(true, {}, std::move(bytes), std::move(done));
}

void WebSocketManager::send(bool binary, std::string text, std::vector<std::uint8_t> data,
                            Completion done) {
    std::shared_ptr<WebSocketConnection> connection;
    {
        std::lock_guard lock(m_mutex);
        connection = m_connection;
    }
    if (!connection) {
        if (done)
            done(unexpected(WebSocketError::notConnected()));
        return;
    }
    connection->write(binary, std::move(text), std::move(data),
                      [done = std::move(done)](const boost::system::error_code& error) {
                          if (!done)
                              return;
                          if (error)
                              done(unexpected(WebSocketError::failed(describeError(error))));
                          else
                              done({});
                      });
}

void WebSocketManager::setOnMessage(MessageHandler handler) {
    std::lock_guard lock(m_mutex);
    m_onMessage = std::move(handler);
}

void WebSocketManager::setOnDisconnect(DisconnectHandler handler) {
    std::lock_guard lock(m_mutex);
    m_onDisconnect = std::move(handler);
}

WebSocketResult waitFor(const std::function<void(WebSocketManager::Completion)>& operation) {
    auto promise = std::make_shared<std::promise<WebSocketResult>>();
    auto future = promise->get_future();
    operation([promise](WebSocketResult result) { promise->set_value(std::move(result)); });
    return future.get();
}

} // namespace velmarin::transport
