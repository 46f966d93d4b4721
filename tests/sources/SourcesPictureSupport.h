#pragma once
// Pictures of the GPU-backed source suites: a texture read back as an image, and images kept
// for the developer to look at (KAVIO_SCREENSHOT_DIR, set by the suite's build).

#include "GpuTexture.h"

#include <QDir>
#include <QImage>
#include <QString>

#include <memory>

inline QImage readBack(const std::shared_ptr<GpuTexture>& texture)
{
    QImage image(int(texture->width()), int(texture->height()), QImage::Format_ARGB32);
    GpuRegion region;
    region.width = texture->width();
    region.height = texture->height();
    texture->getBytes(image.bits(), std::size_t(image.bytesPerLine()), region);
    return image;
}

inline void saveForTheDeveloper(const QImage& image, const QString& name)
{
    QDir().mkpath(QStringLiteral(KAVIO_SCREENSHOT_DIR));
    image.save(QStringLiteral(KAVIO_SCREENSHOT_DIR "/%1.png").arg(name));
}
