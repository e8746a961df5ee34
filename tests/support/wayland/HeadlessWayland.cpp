#include "support/wayland/HeadlessWayland.h"

#include "support/Shell.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace velmarin::testing {

namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void restore(const char* name, const std::optional<std::string>& value) {
    if (value)
        setenv(name, value->c_str(), 1);
    else
        unsetenv(name);
}

bool nameOwned(const char* name) {
    return runShell(
               std::string("gdbus call --session --dest org.freedesktop.DBus --object-path "
                           "/org/freedesktop/DBus --method org.freedesktop.DBus.NameHasOwner ") +
               name + " 2>/dev/null")
               .first.find("true") != std::string::npos;
}

} // namespace

HeadlessWayland::HeadlessWayland(int width, int height)
    : HeadlessWayland(std::vector<std::pair<int, int>>{{width, height}}) {}

HeadlessWayland::HeadlessWayland(const std::vector<std::pair<int, int>>& monitors, bool xwayland)
    : m_oldBus(environment("DBUS_SESSION_BUS_ADDRESS"))
    , m_oldRuntimeDir(environment("XDG_RUNTIME_DIR"))
    , m_oldDisplay(environment("DISPLAY"))
    , m_oldXAuthority(environment("XAUTHORITY")) {
    char dir[] = "/tmp/velmarin-wayland.XXXXXX";
    if (!mkdtemp(dir))
        throw std::runtime_error("mkdtemp failed");
    m_runtimeDir = dir;
    chmod(dir, 0700);
    setenv("XDG_RUNTIME_DIR", dir, 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + m_runtimeDir + "/bus").c_str(), 1);
    try {
        spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile",
               "--address=unix:path=" + m_runtimeDir + "/bus"},
              "dbus.log");
        waitFor("the session bus", [](const HeadlessWayland& s) {
            return std::filesystem::exists(s.m_runtimeDir + "/bus");
        });
        spawn({"pipewire"}, "pipewire.log");
        waitFor("PipeWire", [](const HeadlessWayland& s) {
            return std::filesystem::exists(s.m_runtimeDir + "/pipewire-0");
        });
        spawn({"wireplumber"}, "wireplumber.log");
        // The monitors side by side from the left, the first primary.
        std::vector<std::string> mutter{"mutter", "--headless", "--wayland",
                                        "--wayland-display=" + m_waylandDisplay};
        if (!xwayland)
            mutter.push_back("--no-x11");
        for (const auto& [width, height] : monitors) {
            mutter.push_back("--virtual-monitor");
            mutter.push_back(std::to_string(width) + "x" + std::to_string(height));
        }
        m_mutter = spawn(mutter, "mutter.log");
        waitFor("mutter's screen cast", [](const HeadlessWayland&) {
            return nameOwned("org.gnome.Mutter.ScreenCast") &&
                   nameOwned("org.gnome.Mutter.RemoteDesktop");
        });
        if (xwayland) {
            // "Using public X11 display :0, (using :1 for managed services)"
            static constexpr std::string_view announced = "Using public X11 display ";
            waitFor("Xwayland", [](const HeadlessWayland& s) {
                return s.log("mutter.log").find(announced) != std::string::npos;
            });
            const std::string text = log("mutter.log");
            const auto at = text.find(announced) + announced.size();
            setenv("DISPLAY", text.substr(at, text.find(',', at) - at).c_str(), 1);
            for (const auto& file : std::filesystem::directory_iterator(m_runtimeDir))
                if (file.path().filename().string().starts_with(".mutter-Xwaylandauth."))
                    setenv("XAUTHORITY", file.path().c_str(), 1);
        }
    } catch (...) {
        shutdown();
        throw;
    }
}

HeadlessWayland::~HeadlessWayland() {
    shutdown();
}

void HeadlessWayland::shutdown() {
    for (auto pid = m_pids.rbegin(); pid != m_pids.rend(); ++pid) {
        kill(*pid, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (waitpid(*pid, nullptr, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(*pid, SIGKILL);
                waitpid(*pid, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    m_pids.clear();
    std::error_code ignored;
    if (!m_runtimeDir.empty())
        std::filesystem::remove_all(m_runtimeDir, ignored);
    m_runtimeDir.clear();
    restore("DBUS_SESSION_BUS_ADDRESS", m_oldBus);
    restore("XDG_RUNTIME_DIR", m_oldRuntimeDir);
    restore("DISPLAY", m_oldDisplay);
    restore("XAUTHORITY", m_oldXAuthority);
}

pid_t HeadlessWayland::spawn(const std::vector<std::string>& command, const std::string& logFile) {
    // Everything the child needs is built before fork: the test process has
    // threads (GDBus, PipeWire), and the child may not allocate.
    const std::string log = m_runtimeDir + "/" + logFile;
    std::vector<char*> argv;
    for (const std::string& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> variables{"WAYLAND_DISPLAY=" + m_waylandDisplay};
    for (char** variable = environ; *variable; ++variable) {
        const std::string_view entry(*variable);
        if (!entry.starts_with("WAYLAND_DISPLAY=") && !entry.starts_with("DISPLAY="))
            variables.emplace_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) {
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            close(fd);
        }
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    m_pids.push_back(pid);
    return pid;
}

void HeadlessWayland::waitFor(const char* what, bool (*ready)(const HeadlessWayland&)) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ready(*this)) {
        if (std::chrono::steady_clock::now() > deadline) {
            // The directory goes with the session: the logs go into the message.
            std::string logs;
            for (const auto& file : std::filesystem::directory_iterator(m_runtimeDir)) {
                if (file.path().extension() != ".log")
                    continue;
                std::ifstream in(file.path());
                std::stringstream text;
                text << in.rdbuf();
                logs += "\n--- " + file.path().filename().string() + "\n" + text.str();
            }
            throw std::runtime_error(std::string("headless Wayland: no ") + what + logs);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void HeadlessWayland::startWev() {
    // Line-buffered, so the log is complete whenever it is read.
    spawn({"stdbuf", "-oL", "wev"}, "wev.log");
    waitFor("wev window", [](const HeadlessWayland& s) {
        return s.wevLog().find("xdg_surface") != std::string::npos &&
               s.wevLog().find("configure") != std::string::npos;
    });
    // Mutter fades a new window in; a picture taken before shows it blended.
    std::this_thread::sleep_for(std::chrono::seconds(1));
}

void HeadlessWayland::startService(const std::vector<std::string>& command,
                                   const std::string& logFile, const std::string& busName) {
    spawn(command, logFile);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!nameOwned(busName.c_str())) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::ifstream in(m_runtimeDir + "/" + logFile);
            std::stringstream text;
            text << in.rdbuf();
            throw std::runtime_error("headless Wayland: " + command.front() + " did not take " +
                                     busName + "\n" + text.str());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void HeadlessWayland::killMutter() {
    kill(m_mutter, SIGKILL);
    waitpid(m_mutter, nullptr, 0);
    std::erase(m_pids, m_mutter);
}

std::string HeadlessWayland::wevLog() const {
    return log("wev.log");
}

std::string HeadlessWayland::log(const std::string& file) const {
    std::ifstream in(m_runtimeDir + "/" + file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace velmarin::testing
