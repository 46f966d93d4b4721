#include "HAP/HapMetalPixelBufferTexture.h"

#include "GpuDevice.h"
#include "GpuLibrary.h"
#include "GpuTexture.h"
#include "Log.h"

HapMetalPixelBufferTexture::HapMetalPixelBufferTexture(std::shared_ptr<GpuDevice> device, const GpuLibrary& library)
    : device_(std::move(device))
    , fragmentFunctionScaledCoCgYToRGBA_(library.newFunction("textureToScreenSamplingShader_ScaledCoCgYToRGBA"))
    , fragmentFunctionScaledCoCgYPlusAToRGBA_(library.newFunction("textureToScreenSamplingShader_ScaledCoCgYPlusAToRGBA"))
    , fragmentFunctionDefault_(library.newFunction("textureToScreenSamplingShader"))
{
}

GpuPixelFormat HapMetalPixelBufferTexture::convertToMetalPixelFormat(HapTextureFormat format)
{
    switch (format) {
    case HapTextureFormat::RGB_DXT1:
        return GpuPixelFormat::BC1_RGBA;
    case HapTextureFormat::RGBA_DXT5:
    case HapTextureFormat::YCoCg_DXT5:
        return GpuPixelFormat::BC3_RGBA;
    case HapTextureFormat::A_RGTC1:
        return GpuPixelFormat::BC4_RUnorm;
    default:
        KLOG_ERROR("unhandled case, expect crash soon: {}", int(format));
        return GpuPixelFormat::BGRA8Unorm;
    }
}

void HapMetalPixelBufferTexture::updateIsSrgbForTexturePixelFormat(GpuPixelFormat format)
{
    if (format != GpuPixelFormat::BC1_RGBA && format != GpuPixelFormat::BC3_RGBA && format != GpuPixelFormat::BC4_RUnorm)
        KLOG_ERROR("issrgb default case not expected: {}", int(format));
    srgb_ = false;
}

void HapMetalPixelBufferTexture::setDecodedFrame(HapFrameRef frame)
{
    decodedFrame_ = std::move(frame);
    frameValid_ = false;
    if (!decodedFrame_) {
        KLOG_ERROR("\t\terr: decodedFrame nil, bailing. {}", "setDecodedFrame");
        return;
    }
    const HapDecoderFrame& f = *decodedFrame_;
    const auto width = std::uint32_t(std::max(0, f.dxtImgSize().width));
    const auto height = std::uint32_t(std::max(0, f.dxtImgSize().height));
    if (width % 4 != 0 || height % 4 != 0 || width == 0 || height == 0) {
        KLOG_ERROR("\t\terr: width isn't a multiple of 4, bailing. {}", "setDecodedFrame");
        return;
    }
    for (int i = 0; i < f.dxtPlaneCount(); ++i)
        if (!uploadPlane(f, i, width, height))
            return;
}

bool HapMetalPixelBufferTexture::uploadPlane(const HapDecoderFrame& frame, int index, std::uint32_t width,
                                             std::uint32_t height)
{
    if (index > 1) {
        // Hap frames never have more than two planes.
        KLOG_ERROR("ERR: Index should be 1 or 2. Got {}.", index);
        frameValid_ = false;
        return false;
    }
    const std::uint32_t code = frame.dxtPixelFormat(index);
    const HapPlaneFormat plane = hapPlaneFormat(code, index);
    if (plane.textureFormat == HapTextureFormat::Unknown) {
        KLOG_ERROR("\t\terr: unrecognized pixel format ({:X}) at index {} in {}", code, index, "setDecodedFrame");
        KLOG_ERROR("{}, {}", "\t\tpixel format fourcc is", fourCCString(code));
        frameValid_ = false;
        return false;
    }
    const GpuPixelFormat format = convertToMetalPixelFormat(plane.textureFormat);
    updateIsSrgbForTexturePixelFormat(format);
    const std::uint32_t rowBytes = std::uint32_t(plane.bitsPerPixel) * width / 8;
    const std::uint64_t needed = std::uint64_t(rowBytes) * height;
    if (frame.dxtDataSize(index) < needed) {
        KLOG_ERROR("\t\terr: new data length incorrect, {} vs {} in {}", needed, frame.dxtDataSize(index),
                   "setDecodedFrame");
        frameValid_ = false;
        return false;
    }
    frameValid_ = true;
    auto& slot = index == 0 ? textureLayerOne_ : textureLayerTwo_;
    if (!slot || slot->width() != width || slot->height() != height || slot->pixelFormat() != format) {
        slot = device_->newTexture({format, width, height});
        if (!slot) {
            frameValid_ = false;
            return false;
        }
        slot->setLabel("Hap Texture index " + std::to_string(index));
    }
    // One row of 4 x 4 blocks holds four pixel rows. Queued without waiting for the render
    // thread: the held frame keeps the bytes until the upload has read them.
    slot->replaceRegion({0, 0, width, height}, frame.dxtData(index), 4 * std::size_t(rowBytes), decodedFrame_);
    return true;
}

int HapMetalPixelBufferTexture::textureCount() const
{
    return decodedFrame_ ? decodedFrame_->dxtPlaneCount() : 0;
}

std::vector<std::shared_ptr<GpuTexture>> HapMetalPixelBufferTexture::texturesArray() const
{
    std::vector<std::shared_ptr<GpuTexture>> textures;
    if (textureLayerOne_)
        textures.push_back(textureLayerOne_);
    if (textureLayerTwo_)
        textures.push_back(textureLayerTwo_);
    return textures;
}

std::shared_ptr<GpuTexture> HapMetalPixelBufferTexture::textureForIndex(int index) const
{
    return index == 0 ? textureLayerOne_ : index == 1 ? textureLayerTwo_ : nullptr;
}

std::shared_ptr<GpuFunction> HapMetalPixelBufferTexture::fragmentForFrame() const
{
    if (!frameValid_ || !decodedFrame_) {
        KLOG_ERROR("unexpected invalid frame");
        return fragmentFunctionDefault_;
    }
    switch (decodedFrame_->codecSubType()) {
    case fourCC("HapY"):
        return fragmentFunctionScaledCoCgYToRGBA_;
    case fourCC("HapM"):
        return fragmentFunctionScaledCoCgYPlusAToRGBA_;
    default:
        return fragmentFunctionDefault_;
    }
}
