#include "wayland/MutterRemoteDesktop.h"

#include "log/LogSink.h"
#include "wayland/PrivateBus.h"

#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace velmarin::wayland {

namespace {

constexpr const char* remoteDesktopService = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* screenCastService = "org.gnome.Mutter.ScreenCast";
constexpr const char* remoteDesktopSession = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr int callTimeoutMs = 5000;
// The stream's node appears shortly after Start; mutter 43 answers in well
// under a second.
constexpr auto nodeTimeout = std::chrono::seconds(5);
// evdev KEY_LEFTSHIFT: pressed and released to create the virtual keyboard.
constexpr std::uint32_t warmUpKey = 42;

// A monitor as mutter's display configuration places it.
struct LaidOut {
    std::string connector;
    CastMonitor place; // without its node
};

} // namespace

struct MutterRemoteDesktop::Bus : PrivateBus {
    struct Stream {
        std::string path;
        CastMonitor monitor;
        bool nodeKnown = false;
        guint nodeSignal = 0;
    };

    std::string remoteDesktopPath;
    std::string screenCastPath;
    std::deque<Stream> streams; // the signals keep pointers to them
    guint closedSignal = 0;
    guint nameWatch = 0;
    bool closed = false;

    ~Bus() {
        if (!connection)
            return;
        for (const Stream& stream : streams)
            if (stream.nodeSignal)
                g_dbus_connection_signal_unsubscribe(connection, stream.nodeSignal);
        if (closedSignal)
            g_dbus_connection_signal_unsubscribe(connection, closedSignal);
        if (nameWatch)
            g_bus_unwatch_name(nameWatch);
    }

    // The reply of a method call, or null with `error` set.
    GVariant* call(const char* service, const std::string& path, const char* interface,
                   const char* method, GVariant* parameters, const char* replyType,
                   ErrorHolder& error) {
        return g_dbus_connection_call_sync(
            connection, service, path.c_str(), interface, method, parameters,
            replyType ? G_VARIANT_TYPE(replyType) : nullptr, G_DBUS_CALL_FLAGS_NONE, callTimeoutMs,
            nullptr, &error.error);
    }

    // The single object path of a "(o)" reply.
    Expected<std::string, SessionError> callForPath(const char* service, const std::string& path,
                                                    const char* interface, const char* method,
                                                    GVariant* parameters) {
        ErrorHolder error;
        GVariant* reply = call(service, path, interface, method, parameters, "(o)", error);
        if (!reply)
            return unexpected(SessionError{error.text(std::string(method))});
        const gchar* result = nullptr;
        g_variant_get(reply, "(&o)", &result);
        std::string value(result);
        g_variant_unref(reply);
        return value;
    }
};

namespace {

// The monitors of mutter's current configuration, the primary first; empty
// when it cannot be read. A logical monitor that mirrors several shows the
// picture of its first.
std::vector<LaidOut> currentLayout(GDBusConnection* connection) {
    constexpr const char* stateType = "(ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})a{sv})";
    ErrorHolder error;
    GVariant* state = g_dbus_connection_call_sync(
        connection, "org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig",
        "org.gnome.Mutter.DisplayConfig", "GetCurrentState", nullptr, G_VARIANT_TYPE(stateType),
        G_DBUS_CALL_FLAGS_NONE, callTimeoutMs, nullptr, &error.error);
    if (!state) {
        logging::log(logging::Level::info, "capture", "%s",
                     error.text("no display configuration").c_str());
        return {};
    }
    // The current mode of each connector: its size in device pixels.
    std::vector<std::pair<std::string, std::pair<int, int>>> modes;
    GVariantIter* monitors = nullptr;
    GVariantIter* logical = nullptr;
    g_variant_get(state, stateType, nullptr, &monitors, &logical, nullptr);
    const gchar* connector = nullptr;
    GVariantIter* monitorModes = nullptr;
    while (g_variant_iter_loop(monitors, "((&s&s&s&s)a(siiddada{sv})@a{sv})", &connector, nullptr,
                               nullptr, nullptr, &monitorModes, nullptr)) {
        gint32 width = 0, height = 0;
        GVariant* properties = nullptr;
        while (g_variant_iter_loop(monitorModes, "(&siidd@ad@a{sv})", nullptr, &width, &height,
                                   nullptr, nullptr, nullptr, &properties)) {
            gboolean current = FALSE;
            if (g_variant_lookup(properties, "is-current", "b", &current) && current)
                modes.emplace_back(connector, std::pair(int(width), int(height)));
        }
    }
    std::vector<LaidOut> layout;
    gint32 x = 0, y = 0;
    guint32 transform = 0;
    gboolean primary = FALSE;
    GVariantIter* shown = nullptr;
    while (g_variant_iter_loop(logical, "(iiduba(ssss)@a{sv})", &x, &y, nullptr, &transform,
                               &primary, &shown, nullptr)) {
        const gchar* first = nullptr;
        if (!g_variant_iter_next(shown, "(&s&s&s&s)", &first, nullptr, nullptr, nullptr))
            continue;
        LaidOut monitor{first, CastMonitor{.x = x, .y = y, .primary = primary != FALSE}};
        for (const auto& [name, size] : modes)
            if (name == first) {
                // A quarter turn (transforms 1, 3, 5, 7) swaps the sides.
                const bool turned = transform % 2 == 1;
                monitor.place.width = turned ? size.second : size.first;
                monitor.place.height = turned ? size.first : size.second;
            }
        layout.insert(primary ? layout.begin() : layout.end(), std::move(monitor));
    }
    g_variant_iter_free(monitors);
    g_variant_iter_free(logical);
    g_variant_unref(state);
    return layout;
}

} // namespace

Expected<std::unique_ptr<MutterRemoteDesktop>, SessionError> MutterRemoteDesktop::open() {
    auto bus = std::make_unique<Bus>();
    if (auto connected = bus->connect(); !connected)
        return unexpected(connected.error());
    // Signals are delivered to the context that is the thread's default
    // while subscribing: ours, iterated by pump().
    const PrivateBus::Subscribing subscribing(*bus);
    ErrorHolder error;

    auto remoteDesktop =
        bus->callForPath(remoteDesktopService, "/org/gnome/Mutter/RemoteDesktop",
                         "org.gnome.Mutter.RemoteDesktop", "CreateSession", nullptr);
    if (!remoteDesktop)
        return unexpected(remoteDesktop.error());
    bus->remoteDesktopPath = *remoteDesktop;

    GVariant* idReply =
        bus->call(remoteDesktopService, bus->remoteDesktopPath, "org.freedesktop.DBus.Properties",
                  "Get", g_variant_new("(ss)", remoteDesktopSession, "SessionId"), "(v)", error);
    if (!idReply)
        return unexpected(SessionError{error.text("SessionId")});
    GVariant* idValue = nullptr;
    g_variant_get(idReply, "(v)", &idValue);
    const std::string sessionId = g_variant_is_of_type(idValue, G_VARIANT_TYPE_STRING)
                                      ? g_variant_get_string(idValue, nullptr)
                                      : std::string();
    g_variant_unref(idValue);
    g_variant_unref(idReply);

    GVariantBuilder castOptions;
    g_variant_builder_init(&castOptions, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&castOptions, "{sv}", "remote-desktop-session-id",
                          g_variant_new_string(sessionId.c_str()));
    auto screenCast = bus->callForPath(screenCastService, "/org/gnome/Mutter/ScreenCast",
                                       "org.gnome.Mutter.ScreenCast", "CreateSession",
                                       g_variant_new("(a{sv})", &castOptions));
    if (!screenCast)
        return unexpected(screenCast.error());
    bus->screenCastPath = *screenCast;

    // Every monitor is cast; the capture picks one. Without a layout, the
    // primary one ("") at the origin, sized by its stream.
    std::vector<LaidOut> layout = currentLayout(bus->connection);
    if (layout.empty())
        layout.push_back(LaidOut{"", CastMonitor{.primary = true}});
    for (const LaidOut& monitor : layout) {
        // cursor-mode 1: the pointer drawn into the frames.
        GVariantBuilder recordOptions;
        g_variant_builder_init(&recordOptions, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&recordOptions, "{sv}", "cursor-mode", g_variant_new_uint32(1));
        auto stream = bus->callForPath(
            screenCastService, bus->screenCastPath, "org.gnome.Mutter.ScreenCast.Session",
            "RecordMonitor", g_variant_new("(sa{sv})", monitor.connector.c_str(), &recordOptions));
        if (!stream)
            return unexpected(stream.error());
        Bus::Stream& added = bus->streams.emplace_back(Bus::Stream{*stream, monitor.place});
        added.nodeSignal = g_dbus_connection_signal_subscribe(
            bus->connection, screenCastService, "org.gnome.Mutter.ScreenCast.Stream",
            "PipeWireStreamAdded", added.path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
               GVariant* parameters, gpointer data) {
                auto* stream = static_cast<Bus::Stream*>(data);
                g_variant_get(parameters, "(u)", &stream->monitor.node);
                stream->nodeKnown = true;
            },
            &added, nullptr);
    }
    bus->closedSignal = g_dbus_connection_signal_subscribe(
        bus->connection, remoteDesktopService, remoteDesktopSession, "Closed",
        bus->remoteDesktopPath.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
           gpointer data) { static_cast<Bus*>(data)->closed = true; },
        bus.get(), nullptr);

    // A mutter that exits or crashes sends no Closed.
    bus->nameWatch = g_bus_watch_name_on_connection(
        bus->connection, remoteDesktopService, G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
        [](GDBusConnection*, const gchar*, gpointer data) {
            static_cast<Bus*>(data)->closed = true;
        },
        bus.get(), nullptr);

    // Starting the remote-desktop session starts the linked screen cast.
    GVariant* started = bus->call(remoteDesktopService, bus->remoteDesktopPath,
                                  remoteDesktopSession, "Start", nullptr, nullptr, error);
    if (!started)
        return unexpected(SessionError{error.text("Start")});
    g_variant_unref(started);

    const auto deadline = std::chrono::steady_clock::now() + nodeTimeout;
    const auto allKnown = [&bus] {
        for (const Bus::Stream& stream : bus->streams)
            if (!stream.nodeKnown)
                return false;
        return true;
    };
    for (;;) {
        bus->pump();
        if (allKnown() || bus->closed)
            break;
        if (std::chrono::steady_clock::now() > deadline)
            return unexpected(SessionError{"no PipeWire stream for the screen cast"});
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (bus->closed)
        return unexpected(SessionError{"mutter closed the remote-desktop session"});

    std::unique_ptr<MutterRemoteDesktop> session(new MutterRemoteDesktop(std::move(bus)));
    // Mutter creates the virtual pointer and keyboard on the first event of
    // each kind, and clients learn of the new device only after it: that
    // first event never reaches them. Spend one of each here (a pointer
    // motion by nothing, so the user's pointer stays where it is), and give
    // the clients a moment to see the devices.
    session->notify("NotifyPointerMotionRelative", g_variant_new("(dd)", 0.0, 0.0));
    session->keyboardKeycode(warmUpKey, true);
    session->keyboardKeycode(warmUpKey, false);
    session->flush();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return session;
}

MutterRemoteDesktop::MutterRemoteDesktop(std::unique_ptr<Bus> bus)
    : m_bus(std::move(bus)) {
    for (const Bus::Stream& stream : m_bus->streams)
        m_monitors.push_back(stream.monitor);
}

MutterRemoteDesktop::~MutterRemoteDesktop() {
    if (!alive())
        return;
    ErrorHolder error;
    GVariant* stopped = m_bus->call(remoteDesktopService, m_bus->remoteDesktopPath,
                                    remoteDesktopSession, "Stop", nullptr, nullptr, error);
    if (stopped)
        g_variant_unref(stopped);
}

void MutterRemoteDesktop::notify(const char* method, void* parameters) {
    // No reply wanted: the calls go out in order and nothing waits.
    g_dbus_connection_call(m_bus->connection, remoteDesktopService,
                           m_bus->remoteDesktopPath.c_str(), remoteDesktopSession, method,
                           static_cast<GVariant*>(parameters), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
                           nullptr, nullptr, nullptr);
}

void MutterRemoteDesktop::pointerMotion(std::uint32_t node, double x, double y) {
    for (const Bus::Stream& stream : m_bus->streams)
        if (stream.monitor.node == node)
            notify("NotifyPointerMotionAbsolute",
                   g_variant_new("(sdd)", stream.path.c_str(), x, y));
}

void MutterRemoteDesktop::pointerButton(int evdevButton, bool pressed) {
    notify("NotifyPointerButton", g_variant_new("(ib)", evdevButton, pressed ? TRUE : FALSE));
}

void MutterRemoteDesktop::pointerAxisDiscrete(Axis axis, int steps) {
    notify("NotifyPointerAxisDiscrete",
           g_variant_new("(ui)", static_cast<std::uint32_t>(axis), steps));
}

void MutterRemoteDesktop::keyboardKeycode(std::uint32_t evdevKeycode, bool pressed) {
    notify("NotifyKeyboardKeycode", g_variant_new("(ub)", evdevKeycode, pressed ? TRUE : FALSE));
}

void MutterRemoteDesktop::flush() {
    ErrorHolder error;
    if (!g_dbus_connection_flush_sync(m_bus->connection, nullptr, &error.error))
        logging::log(logging::Level::warning, "input", "%s",
                     error.text("remote-desktop input not sent").c_str());
}

bool MutterRemoteDesktop::alive() const {
    m_bus->pump();
    std::lock_guard lock(m_bus->mutex);
    return !m_bus->closed && !g_dbus_connection_is_closed(m_bus->connection);
}

} // namespace velmarin::wayland
