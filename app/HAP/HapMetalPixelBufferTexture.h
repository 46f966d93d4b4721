#pragma once
// Holds the GPU planes of the current Hap frame: each plane of a decoded frame goes as it is,
// block-compressed, into a compressed texture kept and reused while the plane's size and format
// hold. It also names the fragment function that turns the planes into RGBA for the frame's
// Hap flavour. This is the one place Hap planes are uploaded.
//
// A frame that fails a check (none, a compressed size not a multiple of 4, an unknown plane
// code, too few bytes) is logged and leaves the planes as they were; fragmentForFrame() then
// answers the plain sampling function.
//
// Threads: one thread at a time (the movie frame source's render pass). Uploads do not wait
// for the GPU's thread: they are queued ahead of the command buffers committed afterwards, and
// the frame is held until they have read it.

#include "HapDecoderFrame.h"

#include "GpuTypes.h"

#include <memory>
#include <vector>

class GpuDevice;
class GpuFunction;
class GpuLibrary;
class GpuTexture;

class HapMetalPixelBufferTexture {
public:
    // Loads the three fragment functions from the library.
    HapMetalPixelBufferTexture(std::shared_ptr<GpuDevice> device, const GpuLibrary& library);

    void setDecodedFrame(HapFrameRef frame);
    // The frame last given, valid or not.
    const HapFrameRef& decodedFrame() const { return decodedFrame_; }
    bool frameValid() const { return frameValid_; }
    // The frame's plane count (0 without a frame).
    int textureCount() const;
    // Plane 0, then plane 1 when one was ever made (a one-plane frame after a two-plane frame
    // keeps the old second texture: textureCount() tells how many count).
    std::vector<std::shared_ptr<GpuTexture>> texturesArray() const;
    // Plane 0 or 1; nullptr otherwise.
    std::shared_ptr<GpuTexture> textureForIndex(int index) const;
    // Hap Q: the scaled CoCg-Y function; Hap Q Alpha: its alpha variant; else (and without a
    // valid frame, logged) the plain sampling function.
    std::shared_ptr<GpuFunction> fragmentForFrame() const;
    // Whether the last plane's format is an sRGB format (never, on this GPU layer).
    bool srgb() const { return srgb_; }

    // The compressed texture format of a Hap texture format; BGRA8Unorm for anything else,
    // logged "unhandled case, expect crash soon: %i".
    static GpuPixelFormat convertToMetalPixelFormat(HapTextureFormat format);

private:
    void updateIsSrgbForTexturePixelFormat(GpuPixelFormat format);
    bool uploadPlane(const HapDecoderFrame& frame, int index, std::uint32_t width, std::uint32_t height);

    std::shared_ptr<GpuDevice> device_;
    std::shared_ptr<GpuTexture> textureLayerOne_;
    std::shared_ptr<GpuTexture> textureLayerTwo_;
    HapFrameRef decodedFrame_;
    bool frameValid_ = false;
    bool srgb_ = false;
    std::shared_ptr<GpuFunction> fragmentFunctionScaledCoCgYToRGBA_;
    std::shared_ptr<GpuFunction> fragmentFunctionScaledCoCgYPlusAToRGBA_;
    std::shared_ptr<GpuFunction> fragmentFunctionDefault_;
};
