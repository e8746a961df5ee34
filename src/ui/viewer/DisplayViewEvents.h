#pragma once

// Event handling shared by the display widgets: what they forward of the
// user's mouse, keys and dropped files.

#include "ui/viewer/DisplayView.h"

class QDragEnterEvent;
class QDropEvent;
class QInputEvent;
class QKeyEvent;
class QWidget;

namespace velmarin::ui {

// Focus on click, mouse moves without a pressed button, drops.
void prepareDisplayWidget(QWidget& widget);
void forwardMouse(DisplayView& view, QInputEvent* event);
void forwardKey(DisplayView& view, QKeyEvent* event);
// Accepts drags that carry local files.
void acceptFileDrag(QDragEnterEvent* event);
void forwardDrop(DisplayView& view, QDropEvent* event);

} // namespace velmarin::ui
