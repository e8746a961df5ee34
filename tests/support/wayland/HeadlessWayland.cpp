#include "support/wayland/HeadlessWayland.h"

#include "support/Process.h"
#include "support/Shell.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

namespace velmarin::testing {

namespace {

using namespace std::chrono_literals;

bool nameOwned(const std::string& name) {
    return runShell("gdbus call --session --dest org.freedesktop.DBus --object-path "
                    "/org/freedesktop/DBus --method org.freedesktop.DBus.NameHasOwner " +
                    name + " 2>/dev/null")
               .first.find("true") != std::string::npos;
}

} // namespace

HeadlessWayland::HeadlessWayland(int width, int height)
    : HeadlessWayland(std::vector<std::pair<int, int>>{{width, height}}) {}

HeadlessWayland::HeadlessWayland(const std::vector<std::pair<int, int>>& monitors, bool xwayland) {
    for (const char* name :
         {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "DISPLAY", "XAUTHORITY"}) {
        const char* value = std::getenv(name);
        m_saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    char dir[] = "/tmp/velmarin-wayland.XXXXXX";
    if (!mkdtemp(dir))
        throw std::runtime_error("mkdtemp failed");
    m_runtimeDir = dir;
    setenv("XDG_RUNTIME_DIR", dir, 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + m_runtimeDir + "/bus").c_str(), 1);
    const auto exists = [this](const char* file) {
        return [path = m_runtimeDir + file] { return std::filesystem::exists(path); };
    };
    try {
        spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile",
               "--address=unix:path=" + m_runtimeDir + "/bus"},
              "dbus.log");
        waitFor("the session bus", exists("/bus"));
        spawn({"pipewire"}, "pipewire.log");
        waitFor("PipeWire", exists("/pipewire-0"));
        spawn({"wireplumber"}, "wireplumber.log");
        std::vector<std::string> mutter{"mutter", "--headless", "--wayland",
                                        "--wayland-display=" + m_waylandDisplay};
        if (!xwayland)
            mutter.push_back("--no-x11");
        for (const auto& [width, height] : monitors)
            mutter.insert(mutter.end(), {"--virtual-monitor",
                                         std::to_string(width) + "x" + std::to_string(height)});
        m_mutter = spawn(mutter, "mutter.log");
        waitFor("mutter's screen cast", [] {
            return nameOwned("org.gnome.Mutter.ScreenCast") &&
                   nameOwned("org.gnome.Mutter.RemoteDesktop");
        });
        if (xwayland) {
            // "Using public X11 display :0, (using :1 for managed services)"
            static constexpr std::string_view announced = "Using public X11 display ";
            waitFor("Xwayland",
                    [this] { return log("mutter.log").find(announced) != std::string::npos; });
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
    for (auto pid = m_pids.rbegin(); pid != m_pids.rend(); ++pid)
        stopProcess(*pid, SIGTERM, 3s);
    m_pids.clear();
    std::error_code ignored;
    if (!m_runtimeDir.empty())
        std::filesystem::remove_all(m_runtimeDir, ignored);
    m_runtimeDir.clear();
    for (const auto& [name, value] : m_saved)
        value ? setenv(name, value->c_str(), 1) : unsetenv(name);
}

pid_t HeadlessWayland::spawn(const std::vector<std::string>& command, const std::string& logFile) {
    std::vector<std::string> inSession{"env", "-u", "DISPLAY",
                                       "WAYLAND_DISPLAY=" + m_waylandDisplay};
    inSession.insert(inSession.end(), command.begin(), command.end());
    m_pids.push_back(spawnProcess(inSession, m_runtimeDir + "/" + logFile));
    return m_pids.back();
}

void HeadlessWayland::waitFor(const std::string& what, const std::function<bool()>& ready) {
    if (pollUntil(ready, 10s, 20ms))
        return;
    // The directory goes with the session: the logs go into the message.
    std::string logs;
    for (const auto& file : std::filesystem::directory_iterator(m_runtimeDir))
        if (file.path().extension() == ".log")
            logs += "\n--- " + file.path().filename().string() + "\n" +
                    log(file.path().filename().string());
    throw std::runtime_error("headless Wayland: no " + what + logs);
}

void HeadlessWayland::startWev() {
    // Line-buffered, so the log is complete whenever it is read.
    spawn({"stdbuf", "-oL", "wev"}, "wev.log");
    waitFor("wev window", [this] {
        const std::string text = wevLog();
        return text.find("xdg_surface") != std::string::npos &&
               text.find("configure") != std::string::npos;
    });
    // Mutter fades a new window in; a picture taken before shows it blended.
    std::this_thread::sleep_for(1s);
}

void HeadlessWayland::startService(const std::vector<std::string>& command,
                                   const std::string& logFile, const std::string& busName) {
    spawn(command, logFile);
    waitFor(command.front() + " owning " + busName, [&] { return nameOwned(busName); });
}

void HeadlessWayland::killMutter() {
    stopProcess(m_mutter, SIGKILL);
    std::erase(m_pids, m_mutter);
}

std::string HeadlessWayland::log(const std::string& file) const {
    std::ifstream in(m_runtimeDir + "/" + file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace velmarin::testing
