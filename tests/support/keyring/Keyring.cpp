#include "support/keyring/Keyring.h"

#include "support/Shell.h"

#include <gio/gio.h>
#include <sstream>
#include <stdexcept>

namespace velmarin::testing::keyring {

namespace {

[[noreturn]] void fail(const std::string& what, GError* error) {
    const std::string message = error ? error->message : "";
    g_clear_error(&error);
    throw std::runtime_error(what + ": " + message);
}

// The reply of `method` on `bus` (the session bus when null); throws when
// there is none.
GVariant* call(GDBusConnection* bus, const char* destination, const char* path,
               const char* interface, const char* method, GVariant* parameters) {
    GError* error = nullptr;
    g_autoptr(GDBusConnection) session = nullptr;
    if (!bus && !(bus = session = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error)))
        fail("no session bus", error);
    GVariant* reply =
        g_dbus_connection_call_sync(bus, destination, path, interface, method, parameters, nullptr,
                                    G_DBUS_CALL_FLAGS_NONE, 10'000, nullptr, &error);
    if (!reply)
        fail(std::string(method) + " failed", error);
    return reply;
}

GVariant* callService(const char* method, GVariant* parameters) {
    return call(nullptr, "org.freedesktop.secrets", "/org/freedesktop/secrets",
                "org.freedesktop.Secret.Service", method, parameters);
}

GVariant* callBus(GDBusConnection* bus, const char* method, GVariant* parameters) {
    return call(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                method, parameters);
}

} // namespace

std::optional<std::string> lookup(const std::string& service, const std::string& account) {
    auto [out, status] =
        runShell("env -u SECRET_SERVICE_BUS_NAME secret-tool lookup service " +
                 shellQuoted(service) + " account " + shellQuoted(account) + " 2>/dev/null");
    return status == 0 ? std::optional(out) : std::nullopt;
}

int itemCount(const std::string& service, const std::string& account) {
    const auto [out, status] =
        runShell("env -u SECRET_SERVICE_BUS_NAME secret-tool search --all service " +
                 shellQuoted(service) + " account " + shellQuoted(account) + " 2>&1");
    int count = 0;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        count += line.starts_with("[/") ? 1 : 0;
    return count;
}

void lockDefaultCollection() {
    g_autoptr(GVariant) alias = callService("ReadAlias", g_variant_new("(s)", "default"));
    const gchar* collection = nullptr;
    g_variant_get(alias, "(&o)", &collection);
    const gchar* paths[] = {collection, nullptr};
    g_variant_unref(callService("Lock", g_variant_new("(^ao)", paths)));
}

// The connection's calls are dispatched in a main context that nobody
// iterates, so they stay unanswered (GDBus itself would answer calls to
// unregistered paths with an error at once).
struct SilentService::State {
    GMainContext* context = g_main_context_new();
    GDBusConnection* connection = nullptr;
    guint subtree = 0;

    ~State() {
        if (connection) {
            g_dbus_connection_unregister_subtree(connection, subtree);
            g_dbus_connection_close_sync(connection, nullptr, nullptr);
            g_object_unref(connection);
        }
        g_main_context_unref(context);
    }
};

SilentService::SilentService(const std::string& busName)
    : m_state(std::make_unique<State>()) {
    GError* error = nullptr;
    g_autofree gchar* address =
        g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (address) {
        g_main_context_push_thread_default(m_state->context);
        m_state->connection = g_dbus_connection_new_for_address_sync(
            address,
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        g_main_context_pop_thread_default(m_state->context);
    }
    if (!m_state->connection)
        fail("no session bus", error);
    static const GDBusSubtreeVTable vtable = {};
    m_state->subtree = g_dbus_connection_register_subtree(
        m_state->connection, "/org/freedesktop/secrets", &vtable,
        G_DBUS_SUBTREE_FLAGS_DISPATCH_TO_UNENUMERATED_NODES, nullptr, nullptr, nullptr);
    g_variant_unref(
        callBus(m_state->connection, "RequestName", g_variant_new("(su)", busName.c_str(), 4u)));
}

SilentService::~SilentService() = default;

void setActivationDisplay(const std::string& display) {
    g_variant_unref(callBus(nullptr, "UpdateActivationEnvironment",
                            g_variant_new_parsed("({'DISPLAY': %s},)", display.c_str())));
}

} // namespace velmarin::testing::keyring
