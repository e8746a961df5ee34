// velmarin_test_portal: a desktop portal for tests, on the session bus as
// org.freedesktop.portal.Desktop. It offers the remote-desktop session with
// its screen cast of the primary monitor or, when several are allowed, of
// all of them; it answers every request through a Request
// object's Response signal, checks the options it is given, and behind it
// runs a real mutter remote-desktop session: the stream's node is mutter's,
// OpenPipeWireRemote connects to the session's PipeWire, input goes to
// mutter.
//
// There is no dialog. Starting a session without a restore token this
// portal issued (and has not seen used) counts as asking the person; a
// known token restores silently. org.velmarin.TestPortal at
// /org/velmarin/TestPortal tells the number of asks (Asks) and makes the
// next ask be cancelled (CancelNext).

#include "wayland/MutterRemoteDesktop.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gio/gunixsocketaddress.h>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>

namespace {

using velmarin::wayland::MutterRemoteDesktop;

constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
constexpr const char* controlPath = "/org/velmarin/TestPortal";

constexpr const char* introspection = R"(
<node>
  <interface name="org.freedesktop.portal.RemoteDesktop">
    <method name="CreateSession"><arg type="a{sv}"/><arg type="o" direction="out"/></method>
    <method name="SelectDevices">
      <arg type="o"/><arg type="a{sv}"/><arg type="o" direction="out"/></method>
    <method name="Start">
      <arg type="o"/><arg type="s"/><arg type="a{sv}"/><arg type="o" direction="out"/></method>
    <method name="NotifyPointerMotionAbsolute">
      <arg type="o"/><arg type="a{sv}"/><arg type="u"/><arg type="d"/><arg type="d"/></method>
    <method name="NotifyPointerButton">
      <arg type="o"/><arg type="a{sv}"/><arg type="i"/><arg type="u"/></method>
    <method name="NotifyPointerAxisDiscrete">
      <arg type="o"/><arg type="a{sv}"/><arg type="u"/><arg type="i"/></method>
    <method name="NotifyKeyboardKeycode">
      <arg type="o"/><arg type="a{sv}"/><arg type="i"/><arg type="u"/></method>
    <property name="AvailableDeviceTypes" type="u" access="read"/>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.portal.ScreenCast">
    <method name="SelectSources">
      <arg type="o"/><arg type="a{sv}"/><arg type="o" direction="out"/></method>
    <method name="OpenPipeWireRemote">
      <arg type="o"/><arg type="a{sv}"/><arg type="h" direction="out"/></method>
    <property name="AvailableSourceTypes" type="u" access="read"/>
    <property name="AvailableCursorModes" type="u" access="read"/>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.portal.Request">
    <method name="Close"/>
    <signal name="Response"><arg type="u"/><arg type="a{sv}"/></signal>
  </interface>
  <interface name="org.freedesktop.portal.Session">
    <method name="Close"/>
    <signal name="Closed"><arg type="a{sv}"/></signal>
  </interface>
  <interface name="org.velmarin.TestPortal">
    <method name="Asks"><arg type="u" direction="out"/></method>
    <method name="CancelNext"/>
  </interface>
</node>)";

constexpr std::uint32_t monitorSource = 1;
constexpr std::uint32_t embeddedCursor = 2;
constexpr std::uint32_t keyboard = 1;
constexpr std::uint32_t pointer = 2;
constexpr std::uint32_t responseOk = 0;
constexpr std::uint32_t responseCancelled = 1;
constexpr std::uint32_t responseFailed = 2;

struct Session {
    std::string owner;
    guint registration = 0;
    bool sourcesSelected = false;
    bool multiple = false;
    bool devicesSelected = false;
    std::uint32_t devices = 0;
    std::uint32_t persistMode = 0;
    std::string restoreToken;
    std::unique_ptr<MutterRemoteDesktop> mutter; // once started
    std::set<std::uint32_t> streams;             // the nodes handed out

    ~Session(); // ends the session object and mutter's session
};

struct Portal {
    GDBusConnection* connection = nullptr;
    GDBusNodeInfo* node = nullptr;
    std::map<std::string, std::unique_ptr<Session>> sessions;
    std::set<std::string> tokens; // issued and not used yet
    std::uint32_t asks = 0;
    bool cancelNext = false;
} portal;

Session::~Session() {
    g_dbus_connection_unregister_object(portal.connection, registration);
}

GDBusInterfaceInfo* interface(const char* name) {
    return g_dbus_node_info_lookup_interface(portal.node, name);
}

guint registerObject(const std::string& path, const char* name, GDBusInterfaceMethodCallFunc onCall,
                     GDBusInterfaceGetPropertyFunc onGet = nullptr) {
    const GDBusInterfaceVTable vtable{onCall, onGet, nullptr, {}}; // copied by GDBus
    return g_dbus_connection_register_object(portal.connection, path.c_str(), interface(name),
                                             &vtable, nullptr, nullptr, nullptr);
}

void returnError(GDBusMethodInvocation* invocation, const std::string& error, const char* message) {
    g_dbus_method_invocation_return_dbus_error(
        invocation, ("org.freedesktop.portal.Error." + error).c_str(), message);
}

// ":1.42" as the portal's object paths spell it.
std::string pathElement(const char* uniqueName) {
    std::string element = uniqueName + 1;
    std::ranges::replace(element, '.', '_');
    return element;
}

bool validToken(const char* token) {
    return *token && std::all_of(token, token + std::strlen(token),
                                 [](char c) { return g_ascii_isalnum(c) || c == '_'; });
}

// An option of `type`: absent is fine (false, `value` untouched), another
// type is an error (sets `bad`).
bool option(GVariant* options, const char* key, const char* type, void* value, bool& bad) {
    g_autoptr(GVariant) found = g_variant_lookup_value(options, key, nullptr);
    if (!found)
        return false;
    const bool right = g_variant_is_of_type(found, G_VARIANT_TYPE(type + (*type == '&')));
    if (right)
        g_variant_get(found, type, value);
    else
        bad = true;
    return right;
}

// The session `path` of `sender`, or null after answering with an error.
Session* ownSession(GDBusMethodInvocation* invocation, const char* sender, const char* path) {
    auto found = portal.sessions.find(path);
    if (found != portal.sessions.end() && found->second->owner == sender)
        return found->second.get();
    returnError(invocation, "NotFound", "no such session");
    return nullptr;
}

void onSessionClose(GDBusConnection*, const gchar* sender, const gchar* path, const gchar*,
                    const gchar*, GVariant*, GDBusMethodInvocation* invocation, gpointer) {
    if (auto found = portal.sessions.find(path);
        found != portal.sessions.end() && found->second->owner == sender)
        portal.sessions.erase(found);
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

// A Request object for a call of `sender`; it answers once from the main
// loop, after the call's reply.
struct Request {
    std::string path;
    std::string sender;
    guint registration = 0;
    std::uint32_t response = responseOk;
    GVariantBuilder results;
};

Request* beginRequest(GDBusMethodInvocation* invocation, const char* sender, GVariant* options) {
    static unsigned counter = 0;
    const std::string generated = "portal" + std::to_string(++counter);
    const char* token = generated.c_str();
    bool bad = false;
    option(options, "handle_token", "&s", &token, bad);
    if (bad || !validToken(token)) {
        returnError(invocation, "InvalidArgument", "bad handle_token");
        return nullptr;
    }
    const std::string path =
        std::string(portalPath) + "/request/" + pathElement(sender) + "/" + token;
    const guint registration =
        registerObject(path, "org.freedesktop.portal.Request",
                       [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                          GVariant*, GDBusMethodInvocation* invocation, gpointer) {
                           g_dbus_method_invocation_return_value(invocation, nullptr);
                       });
    if (!registration) {
        returnError(invocation, "Failed", "request path in use");
        return nullptr;
    }
    auto* request = new Request{path, sender, registration};
    g_variant_builder_init(&request->results, G_VARIANT_TYPE("a{sv}"));
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", path.c_str()));
    return request;
}

void answer(Request* request, std::uint32_t response) {
    request->response = response;
    g_idle_add(
        [](gpointer data) -> gboolean {
            auto* r = static_cast<Request*>(data);
            g_dbus_connection_emit_signal(portal.connection, r->sender.c_str(), r->path.c_str(),
                                          "org.freedesktop.portal.Request", "Response",
                                          g_variant_new("(ua{sv})", r->response, &r->results),
                                          nullptr);
            g_dbus_connection_unregister_object(portal.connection, r->registration);
            delete r;
            return G_SOURCE_REMOVE;
        },
        request);
}

void createSession(GDBusMethodInvocation* invocation, const char* sender, GVariant* parameters) {
    g_autoptr(GVariant) options = g_variant_get_child_value(parameters, 0);
    const char* token = nullptr;
    bool bad = false;
    const bool given = option(options, "session_handle_token", "&s", &token, bad);
    Request* request = beginRequest(invocation, sender, options);
    if (!request)
        return;
    const std::string path =
        std::string(portalPath) + "/session/" + pathElement(sender) + "/" + (given ? token : "");
    guint registration = 0;
    if (given && validToken(token) && !portal.sessions.contains(path))
        registration = registerObject(path, "org.freedesktop.portal.Session", onSessionClose);
    if (!registration) {
        std::fprintf(stderr, "CreateSession: bad session_handle_token\n");
        return answer(request, responseFailed);
    }
    portal.sessions[path].reset(new Session{.owner = sender, .registration = registration});
    g_variant_builder_add_parsed(&request->results, "{'session_handle', <%s>}", path.c_str());
    answer(request, responseOk);
}

// Start: asks the person unless the session restores a token this portal
// issued; the person picks the primary monitor, or all when allowed to.
void start(Session& session, Request* request, const char* path) {
    const auto known = portal.tokens.find(session.restoreToken);
    if (!session.restoreToken.empty() && known != portal.tokens.end()) {
        portal.tokens.erase(known); // a token works once
        std::fprintf(stderr, "Start: restored without asking\n");
    } else {
        std::fprintf(stderr, "Start: asked (%u)\n", ++portal.asks);
        if (std::exchange(portal.cancelNext, false)) {
            answer(request, responseCancelled);
            portal.sessions.erase(path);
            return;
        }
    }
    auto mutter = MutterRemoteDesktop::open();
    if (!mutter) {
        std::fprintf(stderr, "Start: %s\n", mutter.error().message.c_str());
        return answer(request, responseFailed);
    }
    session.mutter = std::move(*mutter);
    GVariantBuilder streams;
    g_variant_builder_init(&streams, G_VARIANT_TYPE("a(ua{sv})"));
    for (const auto& monitor : session.mutter->monitors()) {
        if (!session.multiple && !monitor.primary)
            continue;
        g_variant_builder_add_parsed(
            &streams, "(%u, {'position': <(%i, %i)>, 'size': <(%i, %i)>, 'source_type': <%u>})",
            monitor.node, monitor.x, monitor.y, monitor.width, monitor.height, monitorSource);
        session.streams.insert(monitor.node);
    }
    g_variant_builder_add(&request->results, "{sv}", "streams", g_variant_builder_end(&streams));
    g_variant_builder_add_parsed(&request->results, "{'devices', <%u>}", session.devices);
    if (session.persistMode != 0) {
        g_autofree gchar* uuid = g_uuid_string_random();
        std::string issued = uuid;
        std::ranges::replace(issued, '-', '_');
        portal.tokens.insert(issued);
        g_variant_builder_add_parsed(&request->results, "{'restore_token', <%s>}", issued.c_str());
    }
    answer(request, responseOk);
}

// SelectSources, SelectDevices and Start: (o session, ..., a{sv} options).
void sessionRequest(GDBusMethodInvocation* invocation, const char* sender, const char* method,
                    GVariant* parameters) {
    const char* path = nullptr;
    g_variant_get_child(parameters, 0, "&o", &path);
    g_autoptr(GVariant) options =
        g_variant_get_child_value(parameters, g_variant_n_children(parameters) - 1);
    Session* session = ownSession(invocation, sender, path);
    Request* request = session ? beginRequest(invocation, sender, options) : nullptr;
    if (!request)
        return;
    auto fail = [&](const char* why) {
        std::fprintf(stderr, "%s: %s\n", method, why);
        answer(request, responseFailed);
    };
    if (session->mutter)
        return fail("session already started");
    bool bad = false;
    const std::string name = method;
    if (name == "SelectSources") {
        std::uint32_t types = monitorSource, cursor = 1;
        gboolean multiple = FALSE;
        option(options, "types", "u", &types, bad);
        option(options, "multiple", "b", &multiple, bad);
        option(options, "cursor_mode", "u", &cursor, bad);
        if (bad)
            return fail("option of the wrong type");
        if (types != monitorSource)
            return fail("only monitors can be cast");
        if (cursor != embeddedCursor)
            return fail("only the embedded cursor is available");
        // A remote-desktop session persists through SelectDevices.
        if (g_variant_lookup(options, "persist_mode", "*", nullptr) ||
            g_variant_lookup(options, "restore_token", "*", nullptr))
            return fail("remote-desktop sessions persist through SelectDevices");
        session->sourcesSelected = true;
        session->multiple = multiple;
    } else if (name == "SelectDevices") {
        std::uint32_t types = keyboard | pointer, persist = 0;
        const char* token = nullptr;
        option(options, "types", "u", &types, bad);
        option(options, "persist_mode", "u", &persist, bad);
        const bool restoring = option(options, "restore_token", "&s", &token, bad);
        if (bad)
            return fail("option of the wrong type");
        if (types == 0 || (types & ~(keyboard | pointer)) != 0)
            return fail("unavailable device types");
        if (persist > 2)
            return fail("unknown persist_mode");
        session->devices = types;
        session->persistMode = persist;
        session->restoreToken = restoring ? token : "";
        session->devicesSelected = true;
    } else if (!session->sourcesSelected || !session->devicesSelected) {
        return fail("sources and devices must be selected first");
    } else {
        return start(*session, request, path);
    }
    answer(request, responseOk);
}

void openPipeWireRemote(GDBusMethodInvocation* invocation, const char* sender,
                        GVariant* parameters) {
    const char* path = nullptr;
    g_variant_get_child(parameters, 0, "&o", &path);
    Session* session = ownSession(invocation, sender, path);
    if (!session)
        return;
    if (!session->mutter)
        return returnError(invocation, "Failed", "session not started");
    g_autofree gchar* socketPath =
        g_build_filename(g_getenv("XDG_RUNTIME_DIR"), "pipewire-0", nullptr);
    g_autoptr(GSocketAddress) address = g_unix_socket_address_new(socketPath);
    g_autoptr(GSocketClient) client = g_socket_client_new();
    g_autoptr(GSocketConnection) connection =
        g_socket_client_connect(client, G_SOCKET_CONNECTABLE(address), nullptr, nullptr);
    if (!connection)
        return returnError(invocation, "Failed", "no PipeWire");
    g_autoptr(GUnixFDList) fds = g_unix_fd_list_new(); // a copy of the socket for the caller
    g_unix_fd_list_append(fds, g_socket_get_fd(g_socket_connection_get_socket(connection)),
                          nullptr);
    g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(h)", 0),
                                                            fds);
}

void notify(GDBusMethodInvocation* invocation, const char* sender, const std::string& method,
            GVariant* parameters) {
    const char* path = nullptr;
    g_variant_get_child(parameters, 0, "&o", &path);
    Session* session = ownSession(invocation, sender, path);
    if (!session)
        return;
    const bool keyboardCall = method == "NotifyKeyboardKeycode";
    if (!session->mutter || (session->devices & (keyboardCall ? keyboard : pointer)) == 0)
        return returnError(invocation, "NotAllowed", "device not granted");
    MutterRemoteDesktop& mutter = *session->mutter;
    std::uint32_t unsignedArg = 0;
    gint32 signedArg = 0;
    if (method == "NotifyPointerMotionAbsolute") {
        double x = 0, y = 0;
        g_variant_get(parameters, "(&o@a{sv}udd)", nullptr, nullptr, &unsignedArg, &x, &y);
        if (!session->streams.contains(unsignedArg))
            return returnError(invocation, "InvalidArgument", "unknown stream");
        mutter.pointerMotion(unsignedArg, x, y);
    } else if (method == "NotifyPointerAxisDiscrete") {
        g_variant_get(parameters, "(&o@a{sv}ui)", nullptr, nullptr, &unsignedArg, &signedArg);
        if (unsignedArg > 1)
            return returnError(invocation, "InvalidArgument", "unknown axis");
        mutter.pointerAxisDiscrete(static_cast<MutterRemoteDesktop::Axis>(unsignedArg), signedArg);
    } else { // a button or a key: (code, state)
        g_variant_get(parameters, "(&o@a{sv}iu)", nullptr, nullptr, &signedArg, &unsignedArg);
        if (keyboardCall)
            mutter.keyboardKeycode(static_cast<std::uint32_t>(signedArg), unsignedArg != 0);
        else
            mutter.pointerButton(signedArg, unsignedArg != 0);
    }
    mutter.flush();
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

void onPortalCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*,
                  const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                  gpointer) {
    const std::string name = method;
    if (name == "CreateSession")
        createSession(invocation, sender, parameters);
    else if (name == "SelectSources" || name == "SelectDevices" || name == "Start")
        sessionRequest(invocation, sender, method, parameters);
    else if (name == "OpenPipeWireRemote")
        openPipeWireRemote(invocation, sender, parameters);
    else
        notify(invocation, sender, name, parameters);
}

GVariant* onPortalProperty(GDBusConnection*, const gchar*, const gchar*, const gchar* iface,
                           const gchar* property, GError**, gpointer) {
    const std::string name = property;
    if (name == "version")
        return g_variant_new_uint32(std::string(iface).ends_with("ScreenCast") ? 5 : 2);
    if (name == "AvailableDeviceTypes")
        return g_variant_new_uint32(keyboard | pointer);
    if (name == "AvailableSourceTypes")
        return g_variant_new_uint32(monitorSource);
    return g_variant_new_uint32(embeddedCursor);
}

void onControlCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                   GVariant*, GDBusMethodInvocation* invocation, gpointer) {
    if (std::string(method) == "Asks")
        return g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", portal.asks));
    portal.cancelNext = true;
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

} // namespace

int main() {
    GError* error = nullptr;
    portal.connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!portal.connection) {
        std::fprintf(stderr, "no session bus: %s\n", error->message);
        return 1;
    }
    portal.node = g_dbus_node_info_new_for_xml(introspection, nullptr);

    for (const char* name :
         {"org.freedesktop.portal.RemoteDesktop", "org.freedesktop.portal.ScreenCast"})
        registerObject(portalPath, name, onPortalCall, onPortalProperty);
    registerObject(controlPath, "org.velmarin.TestPortal", onControlCall);

    // A client's sessions end with its connection.
    g_dbus_connection_signal_subscribe(
        portal.connection, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
        "/org/freedesktop/DBus", nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
           GVariant* parameters, gpointer) {
            const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
            g_variant_get(parameters, "(&s&s&s)", &name, &oldOwner, &newOwner);
            if (!*newOwner && name[0] == ':')
                std::erase_if(portal.sessions,
                              [&](const auto& session) { return session.second->owner == name; });
        },
        nullptr, nullptr);

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_bus_own_name_on_connection(
        portal.connection, "org.freedesktop.portal.Desktop", G_BUS_NAME_OWNER_FLAGS_NONE, nullptr,
        [](GDBusConnection*, const gchar*, gpointer data) {
            std::fprintf(stderr, "lost the portal's name\n");
            g_main_loop_quit(static_cast<GMainLoop*>(data));
        },
        loop, nullptr);
    g_main_loop_run(loop);
    return 1;
}
