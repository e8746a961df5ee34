#pragma once

// The small picture of the Host's screen kept with a recent connection.

#include "video/Picture.h"

#include <QByteArray>
#include <QSize>

namespace velmarin::ui {

inline constexpr int kThumbnailWidth = 160;

// 160 pixels wide, height 160 × height / width truncated; empty when the
// picture is too flat to give a row.
QSize thumbnailSize(int pictureWidth, int pictureHeight);

// The picture scaled to thumbnailSize as JPEG (quality 50); empty on failure.
QByteArray makeThumbnail(const video::Picture& picture);

} // namespace velmarin::ui
