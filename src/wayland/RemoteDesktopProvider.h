#pragma once

// Which compositor interface a Wayland session's sharing goes through, and
// opening a session with it. The providers are tried in order; the first
// one that is reachable on the session bus opens the session.

#include "common/Expected.h"
#include "wayland/RemoteDesktopSession.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velmarin::wayland {

// True on a Wayland desktop: XDG_SESSION_TYPE says so, or there is a
// Wayland display and no X display.
bool isWaylandSession();

// The name of the first provider whose service answers on the session bus
// (a quick look, no session is created, nothing is shown); nothing when
// none does.
std::optional<std::string> reachableRemoteDesktop();

// Where the desktop portal's restore token is kept between sessions: with it
// the portal restores the person's earlier consent without asking again
// (each token works once; the new one replaces it).
struct RestoreTokenStore {
    std::function<std::string()> load;
    std::function<void(const std::string&)> save;
};

// Whether sharing would start without asking anyone: GNOME's own interfaces
// ask nothing, and the portal does not ask again while a restore token is
// kept.
bool remoteDesktopGranted(const RestoreTokenStore& tokens);

// Asks the desktop portal for the person's consent now (the portal's
// dialog) and keeps the restore token, so that sharing starts later without
// asking. Blocks until the person answered: not for the GUI thread.
Expected<void, SessionError> requestRemoteDesktopGrant(const RestoreTokenStore& tokens);

// Opens a session of every monitor with the first reachable provider
// (GNOME's own interfaces, which ask nothing, then the desktop portal), or
// says that none is reachable.
Expected<std::shared_ptr<RemoteDesktopSession>, SessionError>
openRemoteDesktop(const RestoreTokenStore& tokens = {});

} // namespace velmarin::wayland
