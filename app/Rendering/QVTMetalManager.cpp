#include "Rendering/QVTMetalManager.h"

#include "Log.h"

#include <QCoreApplication>

namespace {

void endSharedDeviceBeforeTheApplicationEnds()
{
    if (const auto& device = QVTMetalManager::sharedManager().device())
        device->end();
}

}  // namespace

QVTMetalManager& QVTMetalManager::sharedManager()
{
    // Never destroyed, but its device ends with the application object: a render thread still
    // running at exit would call into a GL driver that the exit is already unloading, and
    // textures released by static holders would have it do so.
    static QVTMetalManager* manager = [] {
        auto* shared = new QVTMetalManager(GpuDevice::createSystemDefaultDevice());
        if (shared->device())
            qAddPostRoutine(endSharedDeviceBeforeTheApplicationEnds);
        return shared;
    }();
    return *manager;
}

QVTMetalManager::QVTMetalManager(std::shared_ptr<GpuDevice> device)
    : device_(std::move(device))
{
    if (!device_)
        return;
    commandQueue_ = device_->newCommandQueue();
    library_ = device_->newDefaultLibrary();
    KLOG_INFO("Metal device will be  {}", device_->name());
}

std::shared_ptr<GpuCommandQueue> QVTMetalManager::commandQueue() const
{
    return commandQueue_.load();
}

void QVTMetalManager::createCurrentCommandBuffer()
{
    auto queue = commandQueue();
    commandBuffer_ = queue ? queue->commandBuffer() : nullptr;
}

std::shared_ptr<GpuTexture> QVTMetalManager::clearTextureWithSize(double width, double height)
{
    if (!device_ || !(width >= 1.0) || !(height >= 1.0))
        return nullptr;
    const auto w = std::uint32_t(width);
    const auto h = std::uint32_t(height);
    const GpuPixelFormat format = isHighBitDepth() ? GpuPixelFormat::RGBA16Float : GpuPixelFormat::BGRA8Unorm;
    std::shared_ptr<GpuTexture> result;
    device_->runOnRenderThread([&] {
        if (!cleartexture || cleartexture->width() != w || cleartexture->height() != h
            || cleartexture->pixelFormat() != format)
            cleartexture = device_->newTexture({format, w, h});
        if (cleartexture && cleartexture->clearToZero())
            result = cleartexture;
    });
    return result;
}

QVTMatteColor QVTMetalManager::matteColor() const
{
    for (;;) {
        const std::uint32_t before = matteSequence_.load(std::memory_order_acquire);
        if (before & 1u)
            continue;
        QVTMatteColor color{matte_[0].load(std::memory_order_relaxed), matte_[1].load(std::memory_order_relaxed),
                            matte_[2].load(std::memory_order_relaxed), matte_[3].load(std::memory_order_relaxed)};
        std::atomic_thread_fence(std::memory_order_acquire);
        if (matteSequence_.load(std::memory_order_relaxed) == before)
            return color;
    }
}

void QVTMetalManager::setMatteColor(const QVTMatteColor& color)
{
    std::lock_guard lock(matteWriteLock_);
    const std::uint32_t sequence = matteSequence_.load(std::memory_order_relaxed);
    matteSequence_.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    matte_[0].store(color.red, std::memory_order_relaxed);
    matte_[1].store(color.green, std::memory_order_relaxed);
    matte_[2].store(color.blue, std::memory_order_relaxed);
    matte_[3].store(color.alpha, std::memory_order_relaxed);
    matteSequence_.store(sequence + 2, std::memory_order_release);
}

void QVTMetalManager::removeResources()
{
    commandQueue_.store(nullptr);
}
