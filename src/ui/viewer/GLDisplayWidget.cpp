#include "ui/viewer/GLDisplayWidget.h"

#include "ui/viewer/YuvShader.h"
#include "video/playback/AspectFit.h"

#include <QOpenGLContext>

#include <cmath>

#ifndef GL_UNPACK_ROW_LENGTH
#define GL_UNPACK_ROW_LENGTH 0x0CF2
#endif

namespace velmarin::ui {

GLDisplayWidget::GLDisplayWidget(RemoteDisplayBridge& bridge, QWidget* parent)
    : DisplayWidgetBase(bridge, parent) {
    attachToBridge();
}

GLDisplayWidget::~GLDisplayWidget() {
    if (m_program && context()) {
        makeCurrent();
        glDeleteTextures(3, m_textures.data());
        m_program.reset();
        doneCurrent();
    }
}

void GLDisplayWidget::showPicture(const video::Picture& picture) {
    m_picture = picture;
    m_uploaded = false;
    update();
}

void GLDisplayWidget::initializeGL() {
    initializeOpenGLFunctions();
    const QOpenGLContext* gl = context();
    m_rowLengthSupported = !gl->isOpenGLES() || gl->format().majorVersion() >= 3;
    m_program = std::make_unique<QOpenGLShaderProgram>();
    m_program->addShaderFromSourceCode(QOpenGLShader::Vertex, kYuvVertexShader);
    m_program->addShaderFromSourceCode(QOpenGLShader::Fragment, kYuvFragmentShader);
    m_program->bindAttributeLocation("position", 0);
    m_program->bindAttributeLocation("texCoord", 1);
    if (!m_program->link())
        qWarning("Display shader does not link: %s", qPrintable(m_program->log()));
    glGenTextures(3, m_textures.data());
    for (GLuint texture : m_textures) {
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    m_textureSizes = {};
    m_uploaded = false;
}

void GLDisplayWidget::uploadPlane(int index, int width, int height, GLenum format,
                                  int bytesPerPixel, const std::uint8_t* data, int stride) {
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(index));
    glBindTexture(GL_TEXTURE_2D, m_textures[static_cast<std::size_t>(index)]);
    const QSize size(width, height);
    auto& knownSize = m_textureSizes[static_cast<std::size_t>(index)];
    auto& knownFormat = m_textureFormats[static_cast<std::size_t>(index)];
    if (knownSize != size || knownFormat != format) {
        glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), width, height, 0, format,
                     GL_UNSIGNED_BYTE, nullptr);
        knownSize = size;
        knownFormat = format;
    }
    if (stride == width * bytesPerPixel || m_rowLengthSupported) {
        glPixelStorei(GL_UNPACK_ROW_LENGTH, stride / bytesPerPixel);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, GL_UNSIGNED_BYTE, data);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    } else {
        // OpenGL ES 2 has no row length: one row at a time.
        for (int y = 0; y < height; ++y)
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, y, width, 1, format, GL_UNSIGNED_BYTE,
                            data + std::ptrdiff_t(y) * stride);
    }
}

void GLDisplayWidget::upload() {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    const int w = m_picture.width();
    const int h = m_picture.height();
    const int cw = (w + 1) / 2;
    const int ch = (h + 1) / 2;
    uploadPlane(0, w, h, GL_LUMINANCE, 1, m_picture.plane(0), m_picture.stride(0));
    if (m_picture.format() == AV_PIX_FMT_NV12) {
        uploadPlane(1, cw, ch, GL_LUMINANCE_ALPHA, 2, m_picture.plane(1), m_picture.stride(1));
    } else {
        uploadPlane(1, cw, ch, GL_LUMINANCE, 1, m_picture.plane(1), m_picture.stride(1));
        uploadPlane(2, cw, ch, GL_LUMINANCE, 1, m_picture.plane(2), m_picture.stride(2));
    }
    m_uploaded = true;
}

void GLDisplayWidget::paintGL() {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    if (m_picture.isNull() || !m_program || !m_program->isLinked())
        return;
    if (!m_uploaded)
        upload();
    // Other drawing in this context since the last upload (the window's own
    // composition after a resize) may have bound other textures to the units.
    for (std::size_t i = 0; i < m_textures.size(); ++i) {
        glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(i));
        glBindTexture(GL_TEXTURE_2D, m_textures[i]);
    }

    const qreal ratio = devicePixelRatioF();
    const int areaWidth = static_cast<int>(std::lround(width() * ratio));
    const int areaHeight = static_cast<int>(std::lround(height() * ratio));
    const protocol::PixelRect fit =
        video::aspectFit(m_picture.width(), m_picture.height(), areaWidth, areaHeight);
    if (fit.width <= 0 || fit.height <= 0)
        return;
    // GL's origin is bottom-left.
    glViewport(fit.x, areaHeight - fit.y - fit.height, fit.width, fit.height);

    static const GLfloat positions[] = {-1, -1, 1, -1, -1, 1, 1, 1};
    static const GLfloat texCoords[] = {0, 1, 1, 1, 0, 0, 1, 0};
    const bool nv12 = m_picture.format() == AV_PIX_FMT_NV12;
    const YuvConversion conversion = yuvConversion(m_picture);
    m_program->bind();
    m_program->setUniformValue("texY", 0);
    m_program->setUniformValue("texU", 1);
    m_program->setUniformValue("texV", nv12 ? 1 : 2);
    m_program->setUniformValue("interleavedChroma", nv12 ? 1.0f : 0.0f);
    m_program->setUniformValue("yuvToRgb", conversion.matrix);
    m_program->setUniformValue("yuvOffset", conversion.offset);
    m_program->enableAttributeArray(0);
    m_program->enableAttributeArray(1);
    m_program->setAttributeArray(0, GL_FLOAT, positions, 2);
    m_program->setAttributeArray(1, GL_FLOAT, texCoords, 2);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    m_program->disableAttributeArray(0);
    m_program->disableAttributeArray(1);
    m_program->release();
    glActiveTexture(GL_TEXTURE0);
}

} // namespace velmarin::ui
