#include "GpuTypes.h"

namespace GpuPixelFormats {

bool isCompressed(GpuPixelFormat format)
{
    return bytesPerBlock(format) != 0;
}

bool isRenderable(GpuPixelFormat format)
{
    return format == GpuPixelFormat::BGRA8Unorm || format == GpuPixelFormat::RGBA16Float;
}

std::size_t bytesPerPixel(GpuPixelFormat format)
{
    switch (format) {
    case GpuPixelFormat::R8Unorm:
        return 1;
    case GpuPixelFormat::RG8Unorm:
    case GpuPixelFormat::R16Unorm:
        return 2;
    case GpuPixelFormat::BGRA8Unorm:
    case GpuPixelFormat::RGBA8Unorm:
    case GpuPixelFormat::RG16Unorm:
        return 4;
    case GpuPixelFormat::RGBA16Float:
        return 8;
    case GpuPixelFormat::RGBA32Uint:
        return 16;
    default:
        return 0;
    }
}

std::size_t bytesPerBlock(GpuPixelFormat format)
{
    switch (format) {
    case GpuPixelFormat::BC1_RGBA:
    case GpuPixelFormat::BC4_RUnorm:
        return 8;
    case GpuPixelFormat::BC3_RGBA:
        return 16;
    default:
        return 0;
    }
}

std::size_t bytesPerRow(GpuPixelFormat format, std::uint32_t width)
{
    if (isCompressed(format))
        return std::size_t((width + 3) / 4) * bytesPerBlock(format);
    return std::size_t(width) * bytesPerPixel(format);
}

std::size_t imageBytes(GpuPixelFormat format, std::uint32_t width, std::uint32_t height)
{
    const std::size_t rows = isCompressed(format) ? (height + 3) / 4 : height;
    return bytesPerRow(format, width) * rows;
}

}  // namespace GpuPixelFormats
