#pragma once

// A private connection to the session bus with a main context of its own,
// for the remote-desktop sessions: the compositor (and the portal) end a
// session with the connection that made it, and their signals must reach
// this session's context, not the application's. GDBus; library-internal.

#include "common/Expected.h"
#include "wayland/RemoteDesktopSession.h"

#include <gio/gio.h>

#include <mutex>
#include <string>

namespace velmarin::wayland {

// Owns a GError; `text` describes it after `what`.
struct ErrorHolder {
    GError* error = nullptr;
    ~ErrorHolder() { g_clear_error(&error); }
    std::string text(const std::string& what) const {
        return what + ": " + (error ? error->message : "unknown error");
    }
};

struct PrivateBus {
    GMainContext* context = g_main_context_new();
    GDBusConnection* connection = nullptr;
    // Guards the iteration of `context` and whatever its signals write.
    mutable std::mutex mutex;

    PrivateBus() = default;
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    // Closes the connection (unsubscribe first) and lets the callbacks'
    // pending idles run before the context goes.
    ~PrivateBus();

    // Connects to the bus of DBUS_SESSION_BUS_ADDRESS.
    Expected<void, SessionError> connect();
    // Runs what is pending on `context`.
    void pump();

    // While alive, `context` is the thread's default: signals subscribed
    // meanwhile are delivered to it (and so to pump()).
    struct Subscribing {
        explicit Subscribing(PrivateBus& bus)
            : context(bus.context) {
            g_main_context_push_thread_default(context);
        }
        ~Subscribing() { g_main_context_pop_thread_default(context); }
        GMainContext* context;
    };
};

} // namespace velmarin::wayland
