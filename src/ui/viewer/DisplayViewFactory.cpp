#include "ui/viewer/DisplayViewFactory.h"

#include "ui/viewer/GLDisplayWidget.h"
#include "ui/viewer/SoftwareDisplayWidget.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

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

bool openGLPreferred() {
    const QString choice = qEnvironmentVariable("VELMARIN_DISPLAY");
    if (choice == QLatin1String("gl"))
        return openGLAvailable();
    static const bool hardware = [] {
        if (!openGLAvailable())
            return false;
        QOpenGLContext context;
        QOffscreenSurface surface;
        if (!context.create())
            return false;
        surface.setFormat(context.format());
        surface.create();
        if (!context.makeCurrent(&surface))
            return false;
        const auto* renderer =
            reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
        const QByteArray name = QByteArray(renderer ? renderer : "").toLower();
        // OpenGL drawn by the processor (Mesa's llvmpipe and softpipe) shows a
        // 1080p picture several times slower than the software widget.
        return !name.contains("llvmpipe") && !name.contains("softpipe") &&
               !name.contains("software rasterizer");
    }();
    return openGLAvailable() && hardware;
}

std::unique_ptr<QWidget> makeRemoteDisplayView(RemoteDisplayBridge& bridge, QWidget* parent) {
    if (openGLPreferred())
        return std::make_unique<GLDisplayWidget>(bridge, parent);
    return std::make_unique<SoftwareDisplayWidget>(bridge, parent);
}

} // namespace velmarin::ui
