#pragma once

// Picks the display widget: OpenGL where a context can be made current,
// otherwise the software one. VELMARIN_DISPLAY=software forces the latter.

#include <QWidget>

#include <memory>

namespace velmarin::ui {

class RemoteDisplayBridge;

bool openGLAvailable();

std::unique_ptr<QWidget> makeRemoteDisplayView(RemoteDisplayBridge& bridge,
                                               QWidget* parent = nullptr);

} // namespace velmarin::ui
