#pragma once

// The symbols of the screens. Each is drawn from the desktop's icon theme
// where the theme has a fitting icon, otherwise from a small vector symbol
// bundled with the program, so no button is ever blank. Bundled symbols take
// the palette's text colour at the moment they are painted (light and dark
// palettes alike) unless a fixed colour is asked for, and are drawn sharp at
// any device pixel ratio.

#include <QColor>
#include <QIcon>

namespace velmarin::ui {

enum class Symbol {
    share,       // the sharing tab
    link,        // the connecting tab
    desktop,     // the devices tab
    warning,     // the blocked view
    refresh,     // new password
    copy,        // copy password
    lockClosed,  // fixed ID and password on
    lockOpen,    // … off
    playCircle,  // automatic start
    power,       // start at login
    play,        // "Start delen"
    stop,        // "Stop delen"
    chat,
    closeCircle, // close the About window; a missing permission
    checkCircle, // a granted permission
    menu,
    logo,
    plus,        // add a device
    xmark,       // cancel the form
    pencil,      // rename
    trash,       // delete; clear the drawing
    eye,         // show the password
    eyeSlash,    // hide it again
    chats,       // the chat panel's title
    send,        // send a chat message
    monitor,     // the Viewer toolbar: monitor menu
    laser,       // … laser pointer
    penTip,      // … pen
    spotlight,   // … spotlight
    keyboard,    // … Ctrl-Alt-Del
    info,        // … system information
    gauge,       // … quality
    record,      // … start recording
    recordStop,  // … stop recording
    fullScreen,  // … full screen
    document,    // a file being transferred
    documentDrop, // a file dragged over the remote screen
};

// The theme icon when one fits and no colour is asked for; the bundled
// symbol, in `color` or the palette's text colour, otherwise.
QIcon symbolIcon(Symbol symbol, const QColor& color = {});

// Always the bundled symbol (for symbols whose colour carries meaning).
QIcon bundledSymbolIcon(Symbol symbol, const QColor& color = {});

} // namespace velmarin::ui
