#include "wayland/PrivateBus.h"

namespace velmarin::wayland {

PrivateBus::~PrivateBus() {
    if (connection) {
        g_dbus_connection_close_sync(connection, nullptr, nullptr);
        g_object_unref(connection);
    }
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_unref(context);
}

Expected<void, SessionError> PrivateBus::connect() {
    ErrorHolder error;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error.error);
    if (!address)
        return unexpected(SessionError{error.text("no session bus")});
    connection = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error.error);
    g_free(address);
    if (!connection)
        return unexpected(SessionError{error.text("cannot connect to the session bus")});
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    return {};
}

void PrivateBus::pump() {
    std::lock_guard lock(mutex);
    while (g_main_context_iteration(context, FALSE)) {
    }
}

} // namespace velmarin::wayland
