#pragma once

// The display view drawn with OpenGL: the picture's planes are uploaded as
// textures (the only copy made on the GUI thread) and converted to RGB in a
// shader, aspect-fit and letterboxed on black. QOpenGLWidget draws into its
// own framebuffer and swaps whole frames, so there is no tearing.

#include "ui/viewer/DisplayWidgetBase.h"

#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>

#include <array>
#include <memory>

namespace velmarin::ui {

class GLDisplayWidget : public DisplayWidgetBase<QOpenGLWidget>, protected QOpenGLFunctions {
    Q_OBJECT

public:
    // Attaches itself to `bridge` when shown and detaches when destroyed.
    explicit GLDisplayWidget(RemoteDisplayBridge& bridge, QWidget* parent = nullptr);
    ~GLDisplayWidget() override;

    void showPicture(const video::Picture& picture) override;

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void upload();
    void uploadPlane(int index, int width, int height, GLenum format, int bytesPerPixel,
                     const std::uint8_t* data, int stride);

    video::Picture m_picture;
    bool m_uploaded = false;
    std::unique_ptr<QOpenGLShaderProgram> m_program;
    std::array<GLuint, 3> m_textures{};
    std::array<QSize, 3> m_textureSizes;
    std::array<GLenum, 3> m_textureFormats{};
    bool m_rowLengthSupported = false;
};

} // namespace velmarin::ui
