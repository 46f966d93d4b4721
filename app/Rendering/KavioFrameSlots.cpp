#include "Rendering/KavioFrameSlots.h"

#include "Rendering/KavioRenderingSupport.h"
#include "Rendering/QVTMetalManager.h"

#include "Log.h"

KavioFrameSlots::KavioFrameSlots(QVTMetalManager& manager)
    : manager_(manager)
{
}

GpuPixelFormat KavioFrameSlots::textureFormatForFrame(MediaPixelFormat format)
{
    switch (format) {
    case MediaPixelFormat::YUV422_8:
        return GpuPixelFormat::RGBA8Unorm;
    case MediaPixelFormat::YUV422_10:
        return GpuPixelFormat::RGBA32Uint;
    case MediaPixelFormat::RGBAHalf:
        return GpuPixelFormat::RGBA16Float;
    default:
        return GpuPixelFormat::BGRA8Unorm;
    }
}

std::uint32_t KavioFrameSlots::texelsForWidth(MediaPixelFormat format, int width)
{
    const int pixelsPerTexel = format == MediaPixelFormat::YUV422_8 ? 2 : format == MediaPixelFormat::YUV422_10 ? 6 : 1;
    return width > 0 ? std::uint32_t(width / pixelsPerTexel) : 0;
}

std::shared_ptr<GpuTexture> KavioFrameSlots::uploadFrame(const VideoFrame& frame, Slot slot)
{
    const GpuPixelFormat format = textureFormatForFrame(frame.pixelFormat());
    const std::uint32_t texels = texelsForWidth(frame.pixelFormat(), frame.width());
    const auto height = std::uint32_t(std::max(0, frame.height()));
    const bool fits = texels > 0 && height > 0 && frame.data()
                      && KavioRenderingSupport::isUsableSize(QSizeF(frame.width(), frame.height()))
                      && std::size_t(std::max(0, frame.bytesPerRow())) >= GpuPixelFormats::bytesPerRow(format, texels);
    auto device = manager_.device();
    if (!fits || !device) {
        if (!loggedRefusal_)
            KLOG_ERROR("frame of {}x{} ({} bytes a row) does not fit its packing, skipped", frame.width(), frame.height(),
                       frame.bytesPerRow());
        loggedRefusal_ = true;
        return nullptr;
    }
    auto& texture = slots_[slot];
    if (!texture || texture->width() != texels || texture->height() != height || texture->pixelFormat() != format)
        texture = device->newTexture({format, texels, height});
    if (!texture || !texture->replaceRegion({0, 0, texels, height}, frame.data(), std::size_t(frame.bytesPerRow())))
        return nullptr;
    loggedRefusal_ = false;
    return texture;
}
