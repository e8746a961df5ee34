#pragma once

// Picks the display widget: OpenGL where a graphics processor draws it,
// otherwise the software one. VELMARIN_DISPLAY=software or =gl forces one.

#include <QWidget>

#include <memory>

namespace velmarin::ui {

class RemoteDisplayBridge;

// An OpenGL context can be made current.
bool openGLAvailable();
// … and it is drawn by a graphics processor (or VELMARIN_DISPLAY=gl asks for
// it anyway): the display widget to use.
bool openGLPreferred();

std::unique_ptr<QWidget> makeRemoteDisplayView(RemoteDisplayBridge& bridge,
                                               QWidget* parent = nullptr);

} // namespace velmarin::ui
