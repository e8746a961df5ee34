#include "support/transport/Peer.h"

#include "protocol/CryptoHelper.h"

#include <stdexcept>

namespace velmarin::testing {

using namespace protocol;
using transport::WebSocketResult;

void RecordingLog::write(logging::Level level, std::string_view, std::string_view line) {
    static constexpr const char* kPrefix[] = {"D ", "I ", "W ", "E "};
    std::lock_guard lock(m_mutex);
    m_lines.push_back(kPrefix[static_cast<int>(level)] + std::string(line));
}

int RecordingLog::count(std::string_view prefix) const {
    std::lock_guard lock(m_mutex);
    int n = 0;
    for (const auto& line : m_lines)
        n += line.compare(2, prefix.size(), prefix) == 0 ? 1 : 0;
    return n;
}

Peer::Peer(const std::string& url)
    : m_manager(std::make_unique<transport::WebSocketManager>(url, m_log)) {
    m_manager->setOnMessage([this](transport::WebSocketMessage message) {
        std::lock_guard lock(m_mutex);
        m_inbox.push_back(std::move(message));
        m_changed.notify_all();
    });
    m_manager->setOnDisconnect([this](const transport::WebSocketError& error) {
        std::lock_guard lock(m_mutex);
        m_disconnects.push_back(error);
        m_changed.notify_all();
    });
}

WebSocketResult Peer::connect() {
    return transport::waitFor([this](auto done) { m_manager->connect(std::move(done)); });
}

WebSocketResult Peer::sendText(std::string text) {
    return transport::waitFor(
        [&](auto done) { m_manager->sendText(std::move(text), std::move(done)); });
}

WebSocketResult Peer::sendData(std::vector<std::uint8_t> bytes) {
    return transport::waitFor(
        [&](auto done) { m_manager->sendData(std::move(bytes), std::move(done)); });
}

std::optional<transport::WebSocketMessage> Peer::next(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait_for(lock, timeout, [this] { return !m_inbox.empty(); }))
        return std::nullopt;
    auto message = std::move(m_inbox.front());
    m_inbox.pop_front();
    return message;
}

bool Peer::waitForDisconnects(int count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout,
                              [&] { return static_cast<int>(m_disconnects.size()) >= count; });
}

std::vector<transport::WebSocketError> Peer::disconnects() const {
    std::lock_guard lock(m_mutex);
    return m_disconnects;
}

std::string registerPeer(Peer& host, const std::string& password) {
    host.send(RegisterMessage{.passwordHash = CryptoHelper::sha256hex(password)});
    const auto registered = host.nextOf<RegisteredMessage>();
    return registered ? registered->id : std::string();
}

bool pairPeer(Peer& viewer, const std::string& hostID, const std::string& password) {
    viewer.send(ConnectMessage{.targetId = hostID});
    const auto challenge = viewer.nextOf<ChallengeMessage>();
    return challenge &&
           viewer.send(ChallengeResponseMessage{
               .response = CryptoHelper::challengeResponse(password, challenge->nonce)}) &&
           viewer.nextOf<ConnectedMessage>();
}

PairedPeers::PairedPeers(const std::string& url, const std::string& password)
    : host(url)
    , viewer(url) {
    if (!host.connect() || !viewer.connect())
        throw std::runtime_error("peers could not connect");
    hostID = registerPeer(host, password);
    if (hostID.empty() || !pairPeer(viewer, hostID, password) ||
        !host.nextOf<ViewerConnectedMessage>())
        throw std::runtime_error("peers were not paired");
}

} // namespace velmarin::testing
