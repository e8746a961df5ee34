#include "support/keyring/Keyring.h"

#include "support/Shell.h"

#include <gio/gio.h>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace velmarin::testing::keyring {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct VariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;

VariantPtr call(const char* destination, const char* path, const char* interface,
                const char* method, GVariant* parameters) {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        const std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("no session bus: " + message);
    }
    VariantPtr reply(g_dbus_connection_call_sync(bus, destination, path, interface, method,
                                                 parameters, nullptr, G_DBUS_CALL_FLAGS_NONE,
                                                 10'000, nullptr, &error));
    g_object_unref(bus);
    if (!reply) {
        const std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error(std::string(method) + " failed: " + message);
    }
    return reply;
}

} // namespace

std::optional<std::string> lookup(const std::string& service, const std::string& account) {
    auto [out, status] = runShell("env -u SECRET_SERVICE_BUS_NAME secret-tool lookup service " +
                                  quoted(service) + " account " + quoted(account) + " 2>/dev/null");
    if (status != 0)
        return std::nullopt;
    return out;
}

int itemCount(const std::string& service, const std::string& account) {
    const auto [out, status] =
        runShell("env -u SECRET_SERVICE_BUS_NAME secret-tool search --all service " +
                 quoted(service) + " account " + quoted(account) + " 2>&1");
    int count = 0;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        count += line.rfind("[/", 0) == 0 ? 1 : 0;
    return count;
}

void lockDefaultCollection() {
    const VariantPtr alias =
        call("org.freedesktop.secrets", "/org/freedesktop/secrets",
             "org.freedesktop.Secret.Service", "ReadAlias", g_variant_new("(s)", "default"));
    const gchar* collection = nullptr;
    g_variant_get(alias.get(), "(&o)", &collection);
    const gchar* paths[] = {collection, nullptr};
    call("org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
         "Lock", g_variant_new("(^ao)", paths));
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
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (address) {
        g_main_context_push_thread_default(m_state->context);
        m_state->connection = g_dbus_connection_new_for_address_sync(
            address,
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        g_main_context_pop_thread_default(m_state->context);
        g_free(address);
    }
    if (!m_state->connection) {
        const std::string message = error ? error->message : "";
        g_clear_error(&error);
        throw std::runtime_error("no session bus: " + message);
    }
    static const GDBusSubtreeVTable vtable = {};
    m_state->subtree = g_dbus_connection_register_subtree(
        m_state->connection, "/org/freedesktop/secrets", &vtable,
        G_DBUS_SUBTREE_FLAGS_DISPATCH_TO_UNENUMERATED_NODES, nullptr, nullptr, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        m_state->connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
        "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", busName.c_str(), 4u), nullptr,
        G_DBUS_CALL_FLAGS_NONE, 10'000, nullptr, &error);
    if (!reply) {
        const std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("RequestName failed: " + message);
    }
    g_variant_unref(reply);
}

SilentService::~SilentService() = default;

void setActivationDisplay(const std::string& display) {
    GVariantBuilder environment;
    g_variant_builder_init(&environment, G_VARIANT_TYPE("a{ss}"));
    g_variant_builder_add(&environment, "{ss}", "DISPLAY", display.c_str());
    call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
         "UpdateActivationEnvironment", g_variant_new("(a{ss})", &environment));
}

} // namespace velmarin::testing::keyring
