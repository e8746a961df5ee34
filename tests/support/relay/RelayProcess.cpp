#include "support/relay/RelayProcess.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace velmarin::testing {
namespace {

using namespace std::chrono_literals;

// Closes the descriptor when the scope ends.
struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port the kernel just handed out; another process may take it before the
// relay binds it, which startOn() detects and the caller retries.
std::uint16_t freeLoopbackPort() {
    const Fd s{::socket(AF_INET, SOCK_STREAM, 0)};
    auto address = loopback(0);
    socklen_t length = sizeof address;
    if (s.fd < 0 || ::bind(s.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(s.fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("RelayProcess: no free loopback port");
    return ntohs(address.sin_port);
}

bool acceptsConnections(std::uint16_t port) {
    const Fd s{::socket(AF_INET, SOCK_STREAM, 0)};
    const auto address = loopback(port);
    return s.fd >= 0 &&
           ::connect(s.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

pid_t spawn(const std::vector<std::string>& args, const std::string& logFile) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!logFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("RelayProcess: cannot start " + args[0]);
    return pid;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace

std::string RelayProcess::relayBinary() {
    return VELMARIN_RELAY_BINARY;
}

std::string RelayProcess::certDir() {
    static std::once_flag once;
    std::call_once(once, [] {
        // dev-cert is idempotent and locks the directory, so parallel test
        // processes may all call it.
        const pid_t pid = spawn({VELMARIN_DEV_CERT_SCRIPT, VELMARIN_TEST_CERT_DIR}, {});
        const int status = waitFor(pid);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            throw std::runtime_error("RelayProcess: scripts/dev-cert failed");
    });
    return VELMARIN_TEST_CERT_DIR;
}

std::string RelayProcess::caFile() const {
    return certDir() + "/ca.crt";
}

std::string RelayProcess::hostPort() const {
    return "localhost:" + std::to_string(m_port);
}

RelayProcess::RelayProcess(std::vector<std::string> extraArgs)
    : m_extraArgs(std::move(extraArgs)) {
    char pattern[] = "/tmp/velmarin-relay-XXXXXX.log";
    const int fd = ::mkstemps(pattern, 4);
    if (fd < 0)
        throw std::runtime_error("RelayProcess: cannot create a log file");
    ::close(fd);
    m_logFile = pattern;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (startOn(freeLoopbackPort()))
            return;
    }
    throw std::runtime_error("RelayProcess: the relay did not start; log:\n" + logText());
}

RelayProcess::~RelayProcess() {
    stop();
    ::unlink(m_logFile.c_str());
}

bool RelayProcess::startOn(std::uint16_t port) {
    const std::string dir = certDir();
    std::vector<std::string> args = {
        relayBinary(), "--listen",         "127.0.0.1", "--port",           std::to_string(port),
        "--cert",      dir + "/relay.crt", "--key",     dir + "/relay.key", "--threads",
        "2",           "--stats-interval", "0"};
    args.insert(args.end(), m_extraArgs.begin(), m_extraArgs.end());
    m_pid = spawn(args, m_logFile);
    m_port = port;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1; // exited: usually the port was taken meanwhile
            return false;
        }
        if (acceptsConnections(port))
            return true;
        std::this_thread::sleep_for(5ms);
    }
    stop();
    throw std::runtime_error("RelayProcess: relay did not accept connections within 10 s");
}

void RelayProcess::stop(int signal) {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, signal);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(m_pid, SIGKILL);
            waitFor(m_pid);
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    m_pid = -1;
}

void RelayProcess::restart(int signal) {
    stop(signal);
    // The old listener may linger for a moment; keep trying the same port.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!startOn(m_port)) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("RelayProcess: restart on port " + std::to_string(m_port) +
                                     " failed; log:\n" + logText());
        std::this_thread::sleep_for(50ms);
    }
}

std::string RelayProcess::logText() const {
    std::ifstream in(m_logFile);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace velmarin::testing
