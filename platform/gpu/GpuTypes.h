#pragma once
// Plain value types of the GPU layer: pixel formats, regions, colours and blend settings.
//
// Conventions shared by the whole layer: a texture's row 0 is its top row, texture coordinate
// v = 0 samples row 0, and render passes into textures keep normalised device coordinate
// y = +1 at row 0, so pictures drawn and read back keep their orientation.

#include <cstddef>
#include <cstdint>

enum class GpuPixelFormat {
    Invalid = 0,
    BGRA8Unorm,   // 4 bytes a pixel, B G R A in memory
    RGBA16Float,  // 8 bytes a pixel, half floats R G B A
    BC1_RGBA,     // DXT1: 8 bytes per 4 x 4 block
    BC3_RGBA,     // DXT5: 16 bytes per 4 x 4 block
    BC4_RUnorm,   // RGTC1: 8 bytes per 4 x 4 block, one channel
    RGBA8Unorm,   // 4 bytes a texel, R G B A in memory; '2vuy' frames: Cb Y0 Cr Y1, two pixels a texel
    RGBA32Uint,   // 16 bytes a texel, four 32-bit words; 'v210' frames: six pixels a texel.
                  // Integer texels: sampled with usampler2D and nearest filtering only
    // Planes of decoded pictures (luma, chroma, interleaved chroma pairs, alpha), sampled as
    // normalised values 0..1 of the whole 8 or 16 bits. 16-bit texels are little-endian.
    R8Unorm,      // 1 byte a texel
    RG8Unorm,     // 2 bytes a texel
    R16Unorm,     // 2 bytes a texel
    RG16Unorm,    // 4 bytes a texel
};

namespace GpuPixelFormats {
// True for the block-compressed formats (4 x 4 blocks).
bool isCompressed(GpuPixelFormat format);
// True for the formats render passes draw into (BGRA8Unorm, RGBA16Float).
bool isRenderable(GpuPixelFormat format);
// Bytes of one pixel of an uncompressed format; 0 for compressed or invalid formats.
std::size_t bytesPerPixel(GpuPixelFormat format);
// Bytes of one 4 x 4 block of a compressed format; 0 otherwise.
std::size_t bytesPerBlock(GpuPixelFormat format);
// Bytes of one row of pixels (uncompressed) or of one row of blocks (compressed), tightly packed.
std::size_t bytesPerRow(GpuPixelFormat format, std::uint32_t width);
// Bytes of a whole tightly packed image of that size.
std::size_t imageBytes(GpuPixelFormat format, std::uint32_t width, std::uint32_t height);
}  // namespace GpuPixelFormats

// A rectangle of texels, origin at the top-left (row 0).
struct GpuRegion {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

struct GpuClearColor {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double alpha = 1.0;
};

// Area of the target a render pass draws into, in pixels from the top-left.
struct GpuViewport {
    double originX = 0.0;
    double originY = 0.0;
    double width = 0.0;
    double height = 0.0;
    double znear = 0.0;
    double zfar = 1.0;
};

enum class GpuLoadAction { DontCare, Load, Clear };
enum class GpuPrimitiveType { Triangle, TriangleStrip };
enum class GpuBlendFactor { Zero, One, SourceAlpha, OneMinusSourceAlpha };
enum class GpuBlendOperation { Add };
