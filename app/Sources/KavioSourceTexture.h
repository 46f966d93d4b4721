#pragma once
// The newest picture of a captured source (a window, a web page) as a BGRA GpuTexture. Each
// picture is queued for upload with GpuTexture::replaceRegion, which holds the picture until the
// render thread has copied it (the caller never waits); a new texture is made when the size
// changes. Only the newest frame is kept.
//
// Threads: publish from one thread at a time; texture() and frameCount() from any thread.

#include <QImage>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class GpuDevice;
class GpuTexture;

class KavioSourceTexture {
public:
    // Without a device nothing is ever published.
    KavioSourceTexture(std::shared_ptr<GpuDevice> device, std::string label);

    // `picture` in ARGB32, premultiplied or not (B, G, R, A in memory). False, keeping the last
    // frame, when there is no device or the upload was refused.
    bool publish(const QImage& picture);
    // The newest frame; nullptr before the first and after clear().
    std::shared_ptr<GpuTexture> texture() const;
    std::uint64_t frameCount() const;
    void clear();

private:
    std::shared_ptr<GpuDevice> device_;
    std::string label_;
    mutable std::mutex mutex_;
    std::shared_ptr<GpuTexture> texture_;
    std::uint64_t frames_ = 0;
};
