#pragma once
// A 2D texture of the GPU device (GpuDevice::newTexture makes them).
//
// replaceRegion, getBytes and clearToZero take effect at once, as the call returns, ahead of
// any command buffer committed afterwards and behind every one committed before. They run on
// the render thread while the caller waits (inline on the render thread itself, so completion
// handlers may use them); the replaceRegion that takes an owner of the bytes keeps that order
// without the wait. Size and format never change; the owner holds the texture through a
// shared_ptr, and command buffers that use it keep it alive until they have executed.

#include "GpuTypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct GpuDeviceCore;
struct GpuTextureDescriptor;

class GpuTexture {
public:
    // For the device only; use GpuDevice::newTexture.
    GpuTexture(std::shared_ptr<GpuDeviceCore> core, unsigned name, const GpuTextureDescriptor& descriptor);
    // Deletes the OpenGL texture on the render thread, without waiting.
    ~GpuTexture();
    GpuTexture(const GpuTexture&) = delete;
    GpuTexture& operator=(const GpuTexture&) = delete;

    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }
    GpuPixelFormat pixelFormat() const { return format_; }

    // A name for logs and debugging. Not thread-safe: set it before sharing the texture.
    const std::string& label() const { return label_; }
    void setLabel(std::string label) { label_ = std::move(label); }

    // Writes bytes into the region. Uncompressed formats: bytesPerRow is the distance between
    // two pixel rows of `bytes`. Compressed formats: the region's origin and size must be
    // multiples of 4 (or reach the texture's edge) and bytesPerRow is the distance between two
    // rows of 4 x 4 blocks. False, with nothing written, when the region leaves the texture,
    // breaks those rules, bytesPerRow is too small, or the device has ended.
    bool replaceRegion(const GpuRegion& region, const void* bytes, std::size_t bytesPerRow);
    // The same without waiting for the render thread: checked now, then queued for the render
    // thread (done inline there) in the same order as replaceRegion, ahead of command buffers
    // committed afterwards. The bytes are read when the upload runs: `owner` must keep them
    // alive and unchanged until then, and is held until it has run. A failure of the upload
    // itself is logged. False, with nothing queued, for the faults replaceRegion refuses.
    bool replaceRegion(const GpuRegion& region, const void* bytes, std::size_t bytesPerRow,
                       std::shared_ptr<const void> owner);

    // Reads the region's pixels into `bytes`, row 0 first, bytesPerRow apart (read-back for
    // tests, senders and previews). Uncompressed formats only; false otherwise, when the region
    // leaves the texture or bytesPerRow is too small. Read-back waits for the GPU to finish
    // the work committed before it.
    bool getBytes(void* bytes, std::size_t bytesPerRow, const GpuRegion& region) const;

    // Sets every texel to zero (transparent black). Uncompressed formats only.
    bool clearToZero();

    // The OpenGL texture name, for code of this layer on the render thread.
    unsigned glName() const { return name_; }
    const std::shared_ptr<GpuDeviceCore>& core() const { return core_; }

private:
    bool contains(const GpuRegion& region) const;
    bool acceptsUpload(const GpuRegion& region, const void* bytes, std::size_t bytesPerRow) const;

    std::shared_ptr<GpuDeviceCore> core_;
    unsigned name_;
    std::uint32_t width_;
    std::uint32_t height_;
    GpuPixelFormat format_;
    std::string label_;
};
