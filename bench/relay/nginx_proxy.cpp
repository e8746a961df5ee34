#include "nginx_proxy.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace velmarin::bench {
namespace {

long open_files_limit() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    return static_cast<long>(limit.rlim_cur);
}

bool accepts(std::uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

} // namespace

std::string nginx_proxy::binary() {
    for (const char* candidate : {"/usr/sbin/nginx", "/usr/bin/nginx"}) {
        if (::access(candidate, X_OK) == 0)
            return candidate;
    }
    return {};
}

nginx_proxy::nginx_proxy(std::uint16_t port, std::uint16_t backend_port,
                         const std::string& cert_dir)
    : port_(port) {
    const auto exe = binary();
    if (exe.empty())
        throw std::runtime_error("nginx is not installed (scripts/install-bench-deps)");
    char pattern[] = "/tmp/velmarin-nginx-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("cannot create a directory for nginx");
    dir_ = pattern;
    std::ofstream conf(dir_ + "/nginx.conf");
    // One worker, to compare with a one-thread relay core for core.
    conf << (::geteuid() == 0 ? "user root;\n" : "") << "worker_processes 1;\n"
         << "worker_rlimit_nofile " << open_files_limit() << ";\n"
         << "pid " << dir_ << "/nginx.pid;\n"
         << "error_log " << dir_ << "/error.log warn;\n"
         << "events { worker_connections 50000; }\n"
         << "http {\n"
         << "  access_log off;\n"
         << "  client_body_temp_path " << dir_ << "/body;\n"
         << "  proxy_temp_path " << dir_ << "/proxy;\n"
         << "  fastcgi_temp_path " << dir_ << "/fastcgi;\n"
         << "  uwsgi_temp_path " << dir_ << "/uwsgi;\n"
         << "  scgi_temp_path " << dir_ << "/scgi;\n"
         << "  server {\n"
         << "    listen 127.0.0.1:" << port << " ssl;\n"
         << "    ssl_certificate " << cert_dir << "/relay.crt;\n"
         << "    ssl_certificate_key " << cert_dir << "/relay.key;\n"
         << "    location / {\n"
         << "      proxy_pass http://127.0.0.1:" << backend_port << ";\n"
         << "      proxy_http_version 1.1;\n"
         << "      proxy_set_header Upgrade $http_upgrade;\n"
         << "      proxy_set_header Connection \"upgrade\";\n"
         << "      proxy_buffering off;\n"
         << "      proxy_read_timeout 1h;\n"
         << "      proxy_send_timeout 1h;\n"
         << "    }\n"
         << "  }\n"
         << "}\n";
    conf.close();
    const std::string conf_path = dir_ + "/nginx.conf";
    std::vector<std::string> args = {exe, "-p", dir_, "-c", conf_path, "-g", "daemon off;"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // Its own process group, so master and workers can be stopped together.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const int rc = posix_spawn(&pid_, exe.c_str(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0)
        throw std::runtime_error("cannot start nginx");
    for (int i = 0; i < 500 && !accepts(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!accepts(port))
        throw std::runtime_error("nginx did not start; see " + dir_ + "/error.log");
}

nginx_proxy::~nginx_proxy() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

} // namespace velmarin::bench
