#pragma once
// The one process-wide holder of the GPU: the device every renderer, view and texture uses,
// its command queue and shader library, the command buffer of the frame being rendered, a
// reusable all-zero texture, and the outputs' matte colour.

#include "GpuCommandBuffer.h"
#include "GpuDevice.h"
#include "GpuLibrary.h"
#include "GpuTexture.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

struct QVTMatteColor {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double alpha = 1.0;
};

class QVTMetalManager {
public:
    // The single instance, made on first use from any thread (the first call should come from
    // the GUI thread, after the QGuiApplication exists: the device is made then). Its device
    // ends when the application object does; later GPU work is refused.
    static QVTMetalManager& sharedManager();

    // A manager on the given device; nullptr stands for a machine without a GPU. Logs
    // "Metal device will be  <name>". The program uses sharedManager(); tests make their own.
    explicit QVTMetalManager(std::shared_ptr<GpuDevice> device);
    QVTMetalManager(const QVTMetalManager&) = delete;
    QVTMetalManager& operator=(const QVTMetalManager&) = delete;

    // Fixed at creation. device() is nullptr without a GPU; every view that needs one then
    // shows its own alert. commandQueue() is nullptr after removeResources().
    const std::shared_ptr<GpuDevice>& device() const { return device_; }
    std::shared_ptr<GpuCommandQueue> commandQueue() const;
    const std::shared_ptr<GpuLibrary>& library() const { return library_; }

    // Opens the frame's command buffer, replacing the previous (committed) one. Render thread
    // only, once per frame before anything is encoded; no lock.
    void createCurrentCommandBuffer();
    // The current frame's command buffer (after the frame, the last one, already committed);
    // nullptr before the first frame or without a queue. Render thread only.
    std::shared_ptr<GpuCommandBuffer> currentCommandBuffer() const { return commandBuffer_; }

    // A texture of that size whose every texel is zero, or nullptr when it can't be made. The
    // same texture comes back, zeroed again, while the size and the format (RGBA16Float when
    // isHighBitDepth, else BGRA8Unorm) stay the same. Callable from the render thread and
    // from command-buffer completion handlers: the texture is kept on the GPU's own thread.
    std::shared_ptr<GpuTexture> clearTextureWithSize(double width, double height);

    // Read and written whole: a reader never sees half of a colour. Any thread; reads take no
    // lock (the render thread reads it every frame).
    QVTMatteColor matteColor() const;
    void setMatteColor(const QVTMatteColor& color);

    bool isHighBitDepth() const { return isHighBitDepth_.load(std::memory_order_relaxed); }
    void setIsHighBitDepth(bool on) { isHighBitDepth_.store(on, std::memory_order_relaxed); }

    // Drops the command queue.
    void removeResources();

private:
    std::shared_ptr<GpuDevice> device_;
    std::atomic<std::shared_ptr<GpuCommandQueue>> commandQueue_;
    std::shared_ptr<GpuLibrary> library_;
    std::shared_ptr<GpuCommandBuffer> commandBuffer_;
    std::shared_ptr<GpuTexture> cleartexture;  // touched on the GPU's thread only
    std::atomic<bool> isHighBitDepth_{false};

    // The matte colour under a sequence lock: writers (serialised by matteWriteLock_) make the
    // sequence odd while they write; readers retry until they saw one even sequence throughout.
    mutable std::mutex matteWriteLock_;
    std::atomic<std::uint32_t> matteSequence_{0};
    std::atomic<double> matte_[4] = {0.0, 0.0, 0.0, 1.0};
};
