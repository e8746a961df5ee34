#include "wayland/PortalRemoteDesktop.h"

#include "log/LogSink.h"
#include "wayland/PrivateBus.h"

#include <gio/gunixfdlist.h>
#include <algorithm>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <utility>

namespace velmarin::wayland {

namespace {

constexpr const char* portalService = "org.freedesktop.portal.Desktop";
constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
constexpr const char* remoteDesktopInterface = "org.freedesktop.portal.RemoteDesktop";
constexpr const char* screenCastInterface = "org.freedesktop.portal.ScreenCast";
constexpr const char* sessionInterface = "org.freedesktop.portal.Session";
constexpr int callTimeoutMs = 5000;

// Option values of the portal's interfaces.
constexpr std::uint32_t sourceMonitor = 1;
constexpr std::uint32_t cursorEmbedded = 2;
constexpr std::uint32_t deviceKeyboard = 1;
constexpr std::uint32_t devicePointer = 2;
constexpr std::uint32_t persistUntilRevoked = 2;
constexpr std::uint32_t responseCancelled = 1;
constexpr std::uint32_t warmUpKey = 42; // evdev KEY_LEFTSHIFT

struct VariantHolder {
    GVariant* value = nullptr;
    ~VariantHolder() {
        if (value)
            g_variant_unref(value);
    }
};

// A token for a request or session object path: letters, digits and '_'.
std::string newToken() {
    static std::mutex mutex;
    static std::uint32_t counter = 0;
    std::lock_guard lock(mutex);
    char text[40];
    g_snprintf(text, sizeof text, "velmarin_%u_%08x", ++counter, g_random_int());
    return text;
}

GVariantBuilder* optionsWithToken(const std::string& token) {
    GVariantBuilder* options = g_variant_builder_new(G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    return options;
}

} // namespace

struct PortalRemoteDesktop::Bus : PrivateBus {
    std::string sender; // the unique name as the portal's object paths spell it
    std::string session;
    std::string restoreToken;
    int remote = -1; // the first PipeWire connection, until taken
    guint closedSignal = 0;
    guint nameWatch = 0;
    bool closed = false;
    // `mutex` also guards `remote`.

    ~Bus() {
        if (remote >= 0)
            close(remote);
        if (!connection)
            return;
        if (closedSignal)
            g_dbus_connection_signal_unsubscribe(connection, closedSignal);
        if (nameWatch)
            g_bus_unwatch_name(nameWatch);
    }


    std::string requestPath(const std::string& token) const {
        return std::string(portalPath) + "/request/" + sender + "/" + token;
    }

    // Calls a method that answers through a Request object, and waits for
    // its Response: the results, or an error (refused when cancelled).
    Expected<GVariant*, SessionError> request(const char* interface, const char* method,
                                              GVariant* parameters, const std::string& token,
                                              std::chrono::milliseconds timeout) {
        struct Response {
            bool arrived = false;
            std::uint32_t code = 0;
            GVariant* results = nullptr;
        } response;
        auto onResponse = [](GDBusConnection*, const gchar*, const gchar*, const gchar*,
                             const gchar*, GVariant* values, gpointer data) {
            auto* r = static_cast<Response*>(data);
            if (r->arrived || !g_variant_is_of_type(values, G_VARIANT_TYPE("(ua{sv})")))
                return;
            r->arrived = true;
            g_variant_get(values, "(u@a{sv})", &r->code, &r->results);
        };
        // Subscribed before the call: the portal may answer before its reply
        // to the call arrives.
        const std::string expected = requestPath(token);
        guint subscriptions[2] = {g_dbus_connection_signal_subscribe(
                                      connection, portalService, "org.freedesktop.portal.Request",
                                      "Response", expected.c_str(), nullptr,
                                      G_DBUS_SIGNAL_FLAGS_NONE, onResponse, &response, nullptr),
                                  0};
        struct Unsubscribe {
            GDBusConnection* connection;
            guint* ids;
            ~Unsubscribe() {
                for (int i = 0; i < 2; ++i)
                    if (ids[i])
                        g_dbus_connection_signal_unsubscribe(connection, ids[i]);
            }
        } unsubscribe{connection, subscriptions};

        ErrorHolder error;
        VariantHolder reply{g_dbus_connection_call_sync(
            connection, portalService, portalPath, interface, method, parameters,
            G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, callTimeoutMs, nullptr, &error.error)};
        if (!reply.value)
            return unexpected(SessionError{error.text(method)});
        const gchar* handle = nullptr;
        g_variant_get(reply.value, "(&o)", &handle);
        // A portal that does not build the path from the token answers on
        // the path it returned.
        if (expected != handle)
            subscriptions[1] = g_dbus_connection_signal_subscribe(
                connection, portalService, "org.freedesktop.portal.Request", "Response", handle,
                nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onResponse, &response, nullptr);

        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            pump();
            if (response.arrived || closed)
                break;
            if (std::chrono::steady_clock::now() > deadline) {
                VariantHolder ignored{g_dbus_connection_call_sync(
                    connection, portalService, handle, "org.freedesktop.portal.Request", "Close",
                    nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, callTimeoutMs, nullptr, nullptr)};
                return unexpected(SessionError{std::string(method) + ": no answer in time"});
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!response.arrived)
            return unexpected(SessionError{std::string(method) + ": the portal went away"});
        if (response.code != 0) {
            g_variant_unref(response.results);
            SessionError failure{std::string(method) + ": the portal answered " +
                                 std::to_string(response.code)};
            failure.refused = response.code == responseCancelled;
            return unexpected(failure);
        }
        return response.results;
    }

    // A new connection to the PipeWire daemon of the session, or -1.
    int openRemote(std::string& failure) {
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
        GUnixFDList* fds = nullptr;
        ErrorHolder error;
        VariantHolder reply{g_dbus_connection_call_with_unix_fd_list_sync(
            connection, portalService, portalPath, screenCastInterface, "OpenPipeWireRemote",
            g_variant_new("(oa{sv})", session.c_str(), &options), G_VARIANT_TYPE("(h)"),
            G_DBUS_CALL_FLAGS_NONE, callTimeoutMs, nullptr, &fds, nullptr, &error.error)};
        if (!reply.value) {
            failure = error.text("OpenPipeWireRemote");
            return -1;
        }
        gint32 index = -1;
        g_variant_get(reply.value, "(h)", &index);
        const int fd = fds ? g_unix_fd_list_get(fds, index, &error.error) : -1;
        if (fds)
            g_object_unref(fds);
        if (fd < 0)
            failure = error.text("OpenPipeWireRemote gave no connection");
        return fd;
    }
};

Expected<std::unique_ptr<PortalRemoteDesktop>, SessionError>
PortalRemoteDesktop::open(const std::string& restoreToken, Timeouts timeouts) {
    auto bus = std::make_unique<Bus>();
    if (auto connected = bus->connect(); !connected)
        return unexpected(connected.error());
    // Signals are delivered to the context that is the thread's default
    // while subscribing: ours, iterated by pump().
    const PrivateBus::Subscribing subscribing(*bus);
    ErrorHolder error;
    // ":1.42" is "1_42" in the portal's object paths.
    std::string sender = g_dbus_connection_get_unique_name(bus->connection) + 1;
    for (char& c : sender)
        if (c == '.')
            c = '_';
    bus->sender = sender;

    bus->nameWatch = g_bus_watch_name_on_connection(
        bus->connection, portalService, G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
        [](GDBusConnection*, const gchar*, gpointer data) {
            static_cast<Bus*>(data)->closed = true;
        },
        bus.get(), nullptr);

    const std::string sessionToken = newToken();
    std::string token = newToken();
    GVariantBuilder* options = optionsWithToken(token);
    g_variant_builder_add(options, "{sv}", "session_handle_token",
                          g_variant_new_string(sessionToken.c_str()));
    auto created = bus->request(remoteDesktopInterface, "CreateSession",
                                g_variant_new("(a{sv})", options), token, timeouts.request);
    g_variant_builder_unref(options);
    if (!created)
        return unexpected(created.error());
    VariantHolder createdResults{*created};
    const gchar* sessionHandle = nullptr;
    if (!g_variant_lookup(createdResults.value, "session_handle", "&s", &sessionHandle) &&
        !g_variant_lookup(createdResults.value, "session_handle", "&o", &sessionHandle))
        return unexpected(SessionError{"CreateSession: no session_handle"});
    bus->session = sessionHandle;
    if (!g_variant_is_object_path(sessionHandle))
        return unexpected(SessionError{"CreateSession: session_handle is no object path"});

    bus->closedSignal = g_dbus_connection_signal_subscribe(
        bus->connection, portalService, sessionInterface, "Closed", bus->session.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
           gpointer data) { static_cast<Bus*>(data)->closed = true; },
        bus.get(), nullptr);
    // From here on the destructor closes the session.
    std::unique_ptr<PortalRemoteDesktop> result(new PortalRemoteDesktop(std::move(bus)));
    Bus& b = *result->m_bus;

    token = newToken();
    options = optionsWithToken(token);
    g_variant_builder_add(options, "{sv}", "types", g_variant_new_uint32(sourceMonitor));
    g_variant_builder_add(options, "{sv}", "multiple", g_variant_new_boolean(TRUE));
    g_variant_builder_add(options, "{sv}", "cursor_mode", g_variant_new_uint32(cursorEmbedded));
    auto sources =
        b.request(screenCastInterface, "SelectSources",
                  g_variant_new("(oa{sv})", b.session.c_str(), options), token, timeouts.request);
    g_variant_builder_unref(options);
    if (!sources)
        return unexpected(sources.error());
    g_variant_unref(*sources);

    // A remote-desktop session keeps its choice (monitor and devices alike)
    // through the devices' request.
    token = newToken();
    options = optionsWithToken(token);
    g_variant_builder_add(options, "{sv}", "types",
                          g_variant_new_uint32(deviceKeyboard | devicePointer));
    g_variant_builder_add(options, "{sv}", "persist_mode",
                          g_variant_new_uint32(persistUntilRevoked));
    if (!restoreToken.empty())
        g_variant_builder_add(options, "{sv}", "restore_token",
                              g_variant_new_string(restoreToken.c_str()));
    auto devices =
        b.request(remoteDesktopInterface, "SelectDevices",
                  g_variant_new("(oa{sv})", b.session.c_str(), options), token, timeouts.request);
    g_variant_builder_unref(options);
    if (!devices)
        return unexpected(devices.error());
    g_variant_unref(*devices);

    token = newToken();
    options = optionsWithToken(token);
    auto started = b.request(remoteDesktopInterface, "Start",
                             g_variant_new("(osa{sv})", b.session.c_str(), "", options), token,
                             timeouts.start);
    g_variant_builder_unref(options);
    if (!started)
        return unexpected(started.error());
    VariantHolder startResults{*started};

    guint32 granted = 0;
    if (g_variant_lookup(startResults.value, "devices", "u", &granted) &&
        (granted & (deviceKeyboard | devicePointer)) != (deviceKeyboard | devicePointer))
        return unexpected(SessionError{"Start: keyboard and pointer not granted"});
    VariantHolder streams{
        g_variant_lookup_value(startResults.value, "streams", G_VARIANT_TYPE("a(ua{sv})"))};
    if (!streams.value || g_variant_n_children(streams.value) == 0)
        return unexpected(SessionError{"Start: no stream"});
    // The portal names no primary monitor: the first stream counts as it.
    // Monitors without a position are put in a row, each right of the last,
    // so that every one has a place of its own.
    int right = 0;
    for (gsize i = 0; i < g_variant_n_children(streams.value); ++i) {
        VariantHolder properties;
        CastMonitor monitor{.primary = i == 0};
        g_variant_get_child(streams.value, i, "(u@a{sv})", &monitor.node, &properties.value);
        g_variant_lookup(properties.value, "size", "(ii)", &monitor.width, &monitor.height);
        if (!g_variant_lookup(properties.value, "position", "(ii)", &monitor.x, &monitor.y))
            monitor.x = right;
        right = std::max(right, monitor.x + monitor.width);
        result->m_monitors.push_back(monitor);
    }
    const gchar* newToken = nullptr;
    if (g_variant_lookup(startResults.value, "restore_token", "&s", &newToken))
        b.restoreToken = newToken;

    std::string failure;
    b.remote = b.openRemote(failure);
    if (b.remote < 0)
        return unexpected(SessionError{failure});
    // GNOME's portal hands input to mutter, which creates its virtual
    // keyboard on the first key and loses that key to the clients: spend a
    // Shift press and release on it, long before the first real key.
    result->keyboardKeycode(warmUpKey, true);
    result->keyboardKeycode(warmUpKey, false);
    result->flush();
    return result;
}

PortalRemoteDesktop::PortalRemoteDesktop(std::unique_ptr<Bus> bus)
    : m_bus(std::move(bus)) {}

PortalRemoteDesktop::~PortalRemoteDesktop() {
    if (!alive())
        return;
    VariantHolder closed{g_dbus_connection_call_sync(
        m_bus->connection, portalService, m_bus->session.c_str(), sessionInterface, "Close",
        nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, callTimeoutMs, nullptr, nullptr)};
}

std::string PortalRemoteDesktop::restoreToken() const {
    return m_bus->restoreToken;
}

int PortalRemoteDesktop::takePipeWireRemote() {
    {
        std::lock_guard lock(m_bus->mutex);
        if (m_bus->remote >= 0)
            return std::exchange(m_bus->remote, -1);
    }
    std::string failure;
    const int fd = m_bus->openRemote(failure);
    if (fd < 0)
        logging::log(logging::Level::warning, "capture", "%s", failure.c_str());
    return fd;
}

void PortalRemoteDesktop::notify(const char* method, void* parameters) {
    // No reply wanted: the calls go out in order and nothing waits.
    g_dbus_connection_call(m_bus->connection, portalService, portalPath, remoteDesktopInterface,
                           method, static_cast<GVariant*>(parameters), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

void PortalRemoteDesktop::pointerMotion(std::uint32_t node, double x, double y) {
    notify("NotifyPointerMotionAbsolute",
           g_variant_new("(o@a{sv}udd)", m_bus->session.c_str(),
                         g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0), node, x, y));
}

void PortalRemoteDesktop::pointerButton(int evdevButton, bool pressed) {
    notify("NotifyPointerButton",
           g_variant_new("(o@a{sv}iu)", m_bus->session.c_str(),
                         g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0), evdevButton,
                         pressed ? 1u : 0u));
}

void PortalRemoteDesktop::pointerAxisDiscrete(Axis axis, int steps) {
    notify("NotifyPointerAxisDiscrete",
           g_variant_new("(o@a{sv}ui)", m_bus->session.c_str(),
                         g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0),
                         static_cast<std::uint32_t>(axis), steps));
}

void PortalRemoteDesktop::keyboardKeycode(std::uint32_t evdevKeycode, bool pressed) {
    notify("NotifyKeyboardKeycode",
           g_variant_new("(o@a{sv}iu)", m_bus->session.c_str(),
                         g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0),
                         static_cast<gint32>(evdevKeycode), pressed ? 1u : 0u));
}

void PortalRemoteDesktop::flush() {
    ErrorHolder error;
    if (!g_dbus_connection_flush_sync(m_bus->connection, nullptr, &error.error))
        logging::log(logging::Level::warning, "input", "%s",
                     error.text("remote-desktop input not sent").c_str());
}

bool PortalRemoteDesktop::alive() const {
    m_bus->pump();
    std::lock_guard lock(m_bus->mutex);
    return !m_bus->closed && !g_dbus_connection_is_closed(m_bus->connection);
}

} // namespace velmarin::wayland
