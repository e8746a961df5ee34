#include "ui/viewer/Thumbnail.h"

#include "video/playback/PictureScaler.h"

#include <QBuffer>
#include <QImage>

#include <cstdint>

namespace velmarin::ui {

QSize thumbnailSize(int pictureWidth, int pictureHeight) {
    if (pictureWidth <= 0 || pictureHeight <= 0)
        return {};
    const auto height =
        static_cast<int>(std::int64_t(kThumbnailWidth) * pictureHeight / pictureWidth);
    if (height <= 0)
        return {};
    return {kThumbnailWidth, height};
}

QByteArray makeThumbnail(const video::Picture& picture) {
    const QSize size = thumbnailSize(picture.width(), picture.height());
    if (size.isEmpty())
        return {};
    // Into a padded frame: swscale may write a little past each row.
    video::PictureScaler scaler;
    const video::Picture rgb =
        scaler.scaled(picture, size.width(), size.height(), AV_PIX_FMT_RGB24);
    if (rgb.isNull())
        return {};
    const QImage image(rgb.plane(0), size.width(), size.height(), rgb.stride(0),
                       QImage::Format_RGB888);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "JPEG", 50))
        return {};
    return jpeg;
}

} // namespace velmarin::ui
