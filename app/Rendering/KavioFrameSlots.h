#pragma once
// The two frame slots of a composition pass: a cue's decoded frame is uploaded into slot A (or,
// for the incoming cue of a transition, slot B) before its layer renderer draws it. Each slot
// keeps one texture, remade only when the frame's format or size changes. Because an upload
// overwrites the slot at once while the frame's draws run later, at commit, one pass must not
// fetch two cues into the same slot.
//
// Texture per frame format: 'BGRA' BGRA8Unorm, full width; 'RGhA' RGBA16Float, full width;
// '2vuy' RGBA8Unorm, two pixels a texel (width / 2); 'v210' RGBA32Uint, six pixels a texel
// (width / 6). A width that leaves no whole texel, a side over 16384, or rows shorter than the
// texels they must hold make the frame refused (logged once until a frame uploads again).
//
// Native frames go into a set of plane textures per slot instead (R8Unorm / R16Unorm for luma,
// alpha and separate chroma planes, RG8Unorm / RG16Unorm for interleaved chroma pairs), each
// remade only when its plane's format or size changes.
//
// Threads: the render thread (the composition pass); a packed upload waits for the GPU's
// thread, a plane upload does not (see uploadPlanes).

#include "GpuTypes.h"
#include "Rendering/QVTMetalLayerRendererInterface.h"
#include "VideoFrame.h"

#include <memory>

class GpuTexture;
class QVTMetalManager;

class KavioFrameSlots {
public:
    enum Slot { A = 0, B = 1 };

    explicit KavioFrameSlots(QVTMetalManager& manager);

    // The slot's texture holding the frame, or nullptr for a refused frame (the slot keeps its
    // last picture) or without a GPU.
    std::shared_ptr<GpuTexture> uploadFrame(const VideoFrame& frame, Slot slot);
    // A Native frame's planes in the slot's plane textures, with the frame's layout, for the
    // layer renderer's renderWithPlanes. The uploads are queued without waiting and hold the
    // frame until the render thread has read it. No luma texture for a refused frame (not
    // Native, a side over 16384, rows shorter than their planes) or without a GPU.
    QVTPlaneTextures uploadPlanes(const VideoFrameRef& frame, Slot slot);
    // The slot's texture as last filled.
    std::shared_ptr<GpuTexture> texture(Slot slot) const { return slots_[slot]; }

    // The texture format and width in texels that hold a frame of that format and width.
    static GpuPixelFormat textureFormatForFrame(MediaPixelFormat format);
    static std::uint32_t texelsForWidth(MediaPixelFormat format, int width);

private:
    void refuse(const VideoFrame& frame);

    QVTMetalManager& manager_;
    std::shared_ptr<GpuTexture> slots_[2];
    std::shared_ptr<GpuTexture> planes_[2][VideoFramePlanes::kMaxPlanes];
    bool loggedRefusal_ = false;
};
