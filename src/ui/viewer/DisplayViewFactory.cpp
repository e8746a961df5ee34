#include "ui/viewer/DisplayViewFactory.h"

#include "ui/viewer/GLDisplayWidget.h"
#include "ui/viewer/SoftwareDisplayWidget.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>

namespace velmarin::ui {

bool openGLAvailable() {
    if (qEnvironmentVariable("VELMARIN_DISPLAY") == QLatin1String("software"))
        return false;
    static const bool available = [] {
        QOpenGLContext context;
        if (!context.create())
            return false;
        QOffscreenSurface surface;
        surface.setFormat(context.format());
        surface.create();
        return surface.isValid() && context.makeCurrent(&surface);
    }();
    return available;
}

std::unique_ptr<QWidget> makeRemoteDisplayView(RemoteDisplayBridge& bridge, QWidget* parent) {
    if (openGLAvailable())
        return std::make_unique<GLDisplayWidget>(bridge, parent);
    return std::make_unique<SoftwareDisplayWidget>(bridge, parent);
}

} // namespace velmarin::ui
