#pragma once

// Child processes of the fixtures (relay, Xvfb, the headless session's
// programs): started with posix_spawn, which is safe in a test process that
// already has threads, and always reaped.

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace velmarin::testing {

// Starts `command` (looked up in PATH); its output and errors are appended
// to `logFile` unless empty.
inline pid_t spawnProcess(const std::vector<std::string>& command,
                          const std::string& logFile = {}) {
    std::vector<char*> argv;
    for (const auto& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!logFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + command[0]);
    return pid;
}

// Polls `ready` every `interval` until it holds or `timeout` passed.
inline bool pollUntil(const std::function<bool()>& ready, std::chrono::milliseconds timeout,
                      std::chrono::milliseconds interval = std::chrono::milliseconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(interval);
    }
    return true;
}

// Sends `signal` to `pid` and reaps it, with SIGKILL after `grace`; returns
// its wait status.
inline int stopProcess(pid_t pid, int signal = SIGTERM,
                       std::chrono::milliseconds grace = std::chrono::seconds(5)) {
    int status = 0;
    ::kill(pid, signal);
    if (pollUntil([&] { return ::waitpid(pid, &status, WNOHANG) != 0; }, grace))
        return status;
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace velmarin::testing
