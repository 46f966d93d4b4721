#include "Sources/KavioSourceTexture.h"

#include "GpuDevice.h"
#include "GpuTexture.h"

KavioSourceTexture::KavioSourceTexture(std::shared_ptr<GpuDevice> device, std::string label)
    : device_(std::move(device)), label_(std::move(label))
{
}

bool KavioSourceTexture::publish(const QImage& picture)
{
    if (!device_ || picture.isNull())
        return false;
    std::shared_ptr<GpuTexture> target = texture();
    if (!target || int(target->width()) != picture.width() || int(target->height()) != picture.height()) {
        GpuTextureDescriptor descriptor;
        descriptor.pixelFormat = GpuPixelFormat::BGRA8Unorm;
        descriptor.width = std::uint32_t(picture.width());
        descriptor.height = std::uint32_t(picture.height());
        target = device_->newTexture(descriptor);
        if (!target)
            return false;
        target->setLabel(label_);
    }
    // ARGB32 is B, G, R, A in memory on little-endian machines: the texture's BGRA.
    auto owner = std::make_shared<QImage>(picture);
    GpuRegion region;
    region.width = std::uint32_t(picture.width());
    region.height = std::uint32_t(picture.height());
    if (!target->replaceRegion(region, owner->constBits(), std::size_t(owner->bytesPerLine()), owner))
        return false;
    std::lock_guard lock(mutex_);
    texture_ = std::move(target);
    ++frames_;
    return true;
}

std::shared_ptr<GpuTexture> KavioSourceTexture::texture() const
{
    std::lock_guard lock(mutex_);
    return texture_;
}

std::uint64_t KavioSourceTexture::frameCount() const
{
    std::lock_guard lock(mutex_);
    return frames_;
}

void KavioSourceTexture::clear()
{
    std::lock_guard lock(mutex_);
    texture_.reset();
}
