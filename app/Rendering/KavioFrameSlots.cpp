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

void KavioFrameSlots::refuse(const VideoFrame& frame)
{
    if (!loggedRefusal_)
        KLOG_ERROR("frame of {}x{} ({} bytes a row) does not fit its packing, skipped", frame.width(), frame.height(),
                   frame.bytesPerRow());
    loggedRefusal_ = true;
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
        refuse(frame);
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

QVTPlaneTextures KavioFrameSlots::uploadPlanes(const VideoFrameRef& frame, Slot slot)
{
    QVTPlaneTextures result;
    if (!frame)
        return result;
    const VideoFramePlanes& layout = frame->planes();
    const bool wide = layout.bytesPerSample == 2;
    auto device = manager_.device();
    bool fits = device && frame->pixelFormat() == MediaPixelFormat::Native && layout.count >= 2
                && layout.count <= VideoFramePlanes::kMaxPlanes && (wide || layout.bytesPerSample == 1)
                && KavioRenderingSupport::isUsableSize(QSizeF(frame->width(), frame->height()));
    struct Plane {
        GpuPixelFormat format;
        std::uint32_t width, height;
    };
    Plane planes[VideoFramePlanes::kMaxPlanes] = {};
    for (int i = 0; fits && i < layout.count; ++i) {
        const bool chroma = i == 1 || (i == 2 && !layout.interleavedChroma);
        const bool pairs = chroma && layout.interleavedChroma;
        const GpuPixelFormat format = pairs ? (wide ? GpuPixelFormat::RG16Unorm : GpuPixelFormat::RG8Unorm)
                                            : (wide ? GpuPixelFormat::R16Unorm : GpuPixelFormat::R8Unorm);
        planes[i] = {format, std::uint32_t(chroma ? layout.chromaWidth(frame->width()) : frame->width()),
                     std::uint32_t(chroma ? layout.chromaHeight(frame->height()) : frame->height())};
        fits = layout.data[i] && layout.bytesPerRow[i] > 0
               && std::size_t(layout.bytesPerRow[i]) >= GpuPixelFormats::bytesPerRow(format, planes[i].width);
    }
    if (!fits) {
        refuse(*frame);
        return result;
    }
    for (int i = 0; i < layout.count; ++i) {
        auto& texture = planes_[slot][i];
        const Plane& p = planes[i];
        if (!texture || texture->width() != p.width || texture->height() != p.height || texture->pixelFormat() != p.format)
            texture = device->newTexture({p.format, p.width, p.height});
        if (!texture
            || !texture->replaceRegion({0, 0, p.width, p.height}, layout.data[i], std::size_t(layout.bytesPerRow[i]),
                                       frame))
            return QVTPlaneTextures{};
        result.textures[i] = texture;
    }
    result.layout = layout;
    loggedRefusal_ = false;
    return result;
}
