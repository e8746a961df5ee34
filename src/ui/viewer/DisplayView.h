#pragma once

// A surface that shows the Host's screen and delivers the user's input over
// it: implemented by the display widgets, driven by RemoteDisplayBridge.
// GUI thread only.

#include "video/Picture.h"

#include <QRectF>
#include <QStringList>

#include <functional>

class QInputEvent;
class QKeyEvent;

namespace velmarin::ui {

class DisplayView {
public:
    virtual ~DisplayView() = default;

    // Shows the picture letterboxed on black; an empty picture leaves black.
    virtual void showPicture(const video::Picture& picture) = 0;
    // The view's bounds in its own coordinates (input is mapped against it).
    virtual QRectF viewBounds() const = 0;

    // While true, mouse input is not forwarded (an annotation tool is in
    // use); keys still are.
    bool captureSuspended = false;

    // Set by the bridge. Mouse presses, releases, moves and wheel turns.
    std::function<void(const QInputEvent& event)> onMouseEvent;
    std::function<void(const QKeyEvent& event)> onKeyEvent;
    // Local files dropped on the view.
    std::function<void(const QStringList& paths)> onFilesDropped;
};

} // namespace velmarin::ui
