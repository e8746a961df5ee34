#include "wayland/RemoteDesktopProvider.h"

#include "wayland/MutterRemoteDesktop.h"
#include "wayland/PortalRemoteDesktop.h"

#include <cstdlib>
#include <cstring>
#include <gio/gio.h>
#include <vector>

namespace velmarin::wayland {

namespace {

using Opened = Expected<std::shared_ptr<RemoteDesktopSession>, SessionError>;

struct Provider {
    const char* name;    // for the log
    const char* service; // its well-known name on the session bus
    Opened (*open)(const RestoreTokenStore& tokens);
    bool asks; // shows the person a dialog unless a restore token spares it
};

Opened openMutter(const RestoreTokenStore&) {
    auto opened = MutterRemoteDesktop::open();
    if (!opened)
        return unexpected(opened.error());
    return std::shared_ptr<RemoteDesktopSession>(std::move(*opened));
}

Opened openPortal(const RestoreTokenStore& tokens) {
    auto opened = PortalRemoteDesktop::open(tokens.load ? tokens.load() : std::string());
    if (!opened)
        return unexpected(opened.error());
    if (tokens.save)
        tokens.save((*opened)->restoreToken());
    return std::shared_ptr<RemoteDesktopSession>(std::move(*opened));
}

// In order of preference: no dialog first.
const std::vector<Provider>& providers() {
    static const std::vector<Provider> all{
        {"GNOME (mutter)", "org.gnome.Mutter.RemoteDesktop", openMutter, false},
        {"desktop portal", "org.freedesktop.portal.Desktop", openPortal, true},
    };
    return all;
}

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// Which of `names` have an owner on the session bus, through a private
// connection that is closed again (the shared one would outlive a change of
// DBUS_SESSION_BUS_ADDRESS).
std::vector<bool> owned(const std::vector<const char*>& names) {
    std::vector<bool> result(names.size(), false);
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!address)
        return result;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    g_free(address);
    if (!connection)
        return result;
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    for (std::size_t i = 0; i < names.size(); ++i) {
        GVariant* reply = g_dbus_connection_call_sync(
            connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "NameHasOwner", g_variant_new("(s)", names[i]), G_VARIANT_TYPE("(b)"),
            G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
        if (!reply)
            continue;
        gboolean has = FALSE;
        g_variant_get(reply, "(b)", &has);
        g_variant_unref(reply);
        result[i] = has;
    }
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
    return result;
}

const Provider* firstReachable() {
    std::vector<const char*> names;
    for (const Provider& provider : providers())
        names.push_back(provider.service);
    const std::vector<bool> reachable = owned(names);
    for (std::size_t i = 0; i < reachable.size(); ++i)
        if (reachable[i])
            return &providers()[i];
    return nullptr;
}

} // namespace

bool isWaylandSession() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    if (type && std::strcmp(type, "wayland") == 0)
        return true;
    return isSet("WAYLAND_DISPLAY") && !isSet("DISPLAY");
}

std::optional<std::string> reachableRemoteDesktop() {
    if (const Provider* provider = firstReachable())
        return std::string(provider->name);
    return std::nullopt;
}

bool remoteDesktopGranted(const RestoreTokenStore& tokens) {
    const Provider* provider = firstReachable();
    return provider && (!provider->asks || (tokens.load && !tokens.load().empty()));
}

Expected<void, SessionError> requestRemoteDesktopGrant(const RestoreTokenStore& tokens) {
    // The session only serves to be granted; it closes again at once.
    if (auto opened = openPortal(tokens); !opened)
        return unexpected(opened.error());
    return {};
}

Opened openRemoteDesktop(const RestoreTokenStore& tokens) {
    const Provider* provider = firstReachable();
    if (!provider)
        return unexpected(SessionError{"no remote-desktop provider on the session bus (neither "
                                       "GNOME's org.gnome.Mutter.RemoteDesktop nor the desktop "
                                       "portal is running)"});
    return provider->open(tokens);
}

} // namespace velmarin::wayland
