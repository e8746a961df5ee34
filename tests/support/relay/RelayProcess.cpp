#include "support/relay/RelayProcess.h"

#include "support/Process.h"
#include "support/Shell.h"

#include <boost/asio/ip/tcp.hpp>

#include <fstream>
#include <mutex>
#include <sstream>
#include <unistd.h>

namespace velmarin::testing {
namespace {

using namespace std::chrono_literals;

namespace net = boost::asio;
using tcp = net::ip::tcp;

const auto loopback = net::ip::make_address("127.0.0.1");

// A port the kernel just handed out; another process may take it before the
// relay binds it, which startOn() detects and the caller retries.
std::uint16_t freeLoopbackPort() {
    net::io_context io;
    return tcp::acceptor(io, {loopback, 0}).local_endpoint().port();
}

bool acceptsConnections(std::uint16_t port) {
    net::io_context io;
    tcp::socket socket(io);
    boost::system::error_code error;
    socket.connect({loopback, port}, error);
    return !error;
}

} // namespace

std::string RelayProcess::certDir() {
    static std::once_flag once;
    std::call_once(once, [] {
        // dev-cert is idempotent and locks the directory, so parallel test
        // processes may all call it.
        if (runShell("'" VELMARIN_DEV_CERT_SCRIPT "' '" VELMARIN_TEST_CERT_DIR "'").second != 0)
            throw std::runtime_error("RelayProcess: scripts/dev-cert failed");
    });
    return VELMARIN_TEST_CERT_DIR;
}

RelayProcess::RelayProcess(std::vector<std::string> extraArgs)
    : m_extraArgs(std::move(extraArgs)) {
    char pattern[] = "/tmp/velmarin-relay-XXXXXX.log";
    const int fd = ::mkstemps(pattern, 4);
    if (fd < 0)
        throw std::runtime_error("RelayProcess: cannot create a log file");
    ::close(fd);
    m_logFile = pattern;
    for (int attempt = 0; attempt < 10; ++attempt)
        if (startOn(freeLoopbackPort()))
            return;
    throw std::runtime_error("RelayProcess: the relay did not start; log:\n" + logText());
}

RelayProcess::~RelayProcess() {
    stop();
    ::unlink(m_logFile.c_str());
}

bool RelayProcess::startOn(std::uint16_t port) {
    const std::string dir = certDir();
    std::vector<std::string> args = {VELMARIN_RELAY_BINARY,
                                     "--listen",
                                     "127.0.0.1",
                                     "--port",
                                     std::to_string(port),
                                     "--cert",
                                     dir + "/relay.crt",
                                     "--key",
                                     dir + "/relay.key",
                                     "--threads",
                                     "2",
                                     "--stats-interval",
                                     "0"};
    args.insert(args.end(), m_extraArgs.begin(), m_extraArgs.end());
    m_pid = spawnProcess(args, m_logFile);
    m_port = port;
    bool exited = false;
    if (pollUntil(
            [&] {
                return (exited = ::waitpid(m_pid, nullptr, WNOHANG) == m_pid) ||
                       acceptsConnections(port);
            },
            10s, 5ms)) {
        if (exited)
            m_pid = -1; // usually the port was taken meanwhile
        return !exited;
    }
    stop();
    throw std::runtime_error("RelayProcess: relay did not accept connections within 10 s");
}

void RelayProcess::stop(int signal) {
    if (m_pid > 0)
        stopProcess(m_pid, signal);
    m_pid = -1;
}

void RelayProcess::restart(int signal) {
    stop(signal);
    // The old listener may linger for a moment; keep trying the same port.
    if (!pollUntil([&] { return startOn(m_port); }, 5s, 50ms))
        throw std::runtime_error("RelayProcess: restart on port " + std::to_string(m_port) +
                                 " failed; log:\n" + logText());
}

std::string RelayProcess::logText() const {
    std::ifstream in(m_logFile);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace velmarin::testing
