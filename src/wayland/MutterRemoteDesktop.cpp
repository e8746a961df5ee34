#include "wayland/MutterRemoteDesktop.h"

#include "log/LogSink.h"
#include "wayland/PrivateBus.h"

#include <chrono>
#include <mutex>
#include <thread>

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

} // namespace

struct MutterRemoteDesktop::Bus : PrivateBus {
    std::string remoteDesktopPath;
    std::string screenCastPath;
    std::string streamPath;
    guint nodeSignal = 0;
    guint closedSignal = 0;
    guint nameWatch = 0;
    std::uint32_t node = 0;
    bool nodeKnown = false;
    bool closed = false;

    ~Bus() {
        if (!connection)
            return;
        if (nodeSignal)
            g_dbus_connection_signal_unsubscribe(connection, nodeSignal);
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

Expected<std::unique_ptr<MutterRemoteDesktop>, SessionError>
MutterRemoteDesktop::open(const std::string& connector) {
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

    // cursor-mode 1: the pointer drawn into the frames.
    GVariantBuilder recordOptions;
    g_variant_builder_init(&recordOptions, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&recordOptions, "{sv}", "cursor-mode", g_variant_new_uint32(1));
    auto stream = bus->callForPath(screenCastService, bus->screenCastPath,
                                   "org.gnome.Mutter.ScreenCast.Session", "RecordMonitor",
                                   g_variant_new("(sa{sv})", connector.c_str(), &recordOptions));
    if (!stream)
        return unexpected(stream.error());
    bus->streamPath = *stream;

    bus->nodeSignal = g_dbus_connection_signal_subscribe(
        bus->connection, screenCastService, "org.gnome.Mutter.ScreenCast.Stream",
        "PipeWireStreamAdded", bus->streamPath.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
           GVariant* parameters, gpointer data) {
            auto* self = static_cast<Bus*>(data);
            guint32 node = 0;
            g_variant_get(parameters, "(u)", &node);
            self->node = node;
            self->nodeKnown = true;
        },
        bus.get(), nullptr);
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
    for (;;) {
        bus->pump();
        if (bus->nodeKnown || bus->closed)
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
    : m_bus(std::move(bus))
    {
    m_node = m_bus->node;
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

void MutterRemoteDesktop::pointerMotion(double x, double y) {
    notify("NotifyPointerMotionAbsolute", g_variant_new("(sdd)", m_bus->streamPath.c_str(), x, y));
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
