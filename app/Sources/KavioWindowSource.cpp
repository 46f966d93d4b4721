#include "Sources/KavioWindowSource.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "X11WindowCapture.h"

#include <QImage>

KavioWindowSource::KavioWindowSource(QSizeF renderSize, std::int32_t renderFPS, std::uint32_t windowID, bool /*isCurrent*/,
                                     std::shared_ptr<GpuDevice> device)
    : frames_(std::move(device), "window source"),
      windowid_(windowID),
      renderSize_(renderSize),
      renderingfps_(renderFPS),
      framesqueue_(std::make_unique<DispatchQueue>("com.dalvek.windowsource"))
{
}

KavioWindowSource::~KavioWindowSource()
{
    removeResources();
}

void KavioWindowSource::setShouldRender(bool shouldRender)
{
    if (shouldRender == shouldRender_)
        return;
    shouldRender_ = shouldRender;
    if (shouldRender) {
        restartTimer();
        KLOG_VERBOSE("capture started - error: (null), fps: {}", renderingfps_);
    } else {
        timer_.reset();
        KLOG_VERBOSE("capture stopped!");
    }
}

void KavioWindowSource::restartTimer()
{
    timer_.reset();
    if (!framesqueue_)
        return;
    const double fps = renderingfps_ > 0 ? double(renderingfps_) : 30.0;
    KLOG_VERBOSE("new captureConfig - {}x{} {}", long(renderSize_.width()), long(renderSize_.height()), 1.0 / fps);
    timer_ = std::make_unique<DispatchTimer>(*framesqueue_, std::chrono::nanoseconds(std::int64_t(1e9 / fps)),
                                             [this] { captureFrame(); });
    timer_->start();
}

void KavioWindowSource::setRenderingFPS(std::int32_t fps)
{
    if (fps == renderingfps_)
        return;
    renderingfps_ = fps;
    if (timer_)
        restartTimer();
}

void KavioWindowSource::setRenderSize(QSizeF size)
{
    std::lock_guard lock(mutex_);
    renderSize_ = size;
}

void KavioWindowSource::setShowCursor(bool showCursor)
{
    std::lock_guard lock(mutex_);
    showCursor_ = showCursor;
}

void KavioWindowSource::captureFrame()
{
    if (!capture_)
        capture_ = std::make_unique<X11WindowCapture>();
    QSize size;
    bool cursor = false;
    {
        std::lock_guard lock(mutex_);
        size = QSize(int(renderSize_.width()), int(renderSize_.height()));
        cursor = showCursor_;
    }
    // A window that is gone gives no picture: the last frame stays.
    frames_.publish(capture_->grab(windowid_, size, cursor));
}

std::shared_ptr<GpuTexture> KavioWindowSource::texture()
{
    return frames_.texture();
}

std::uint64_t KavioWindowSource::frameCount() const
{
    return frames_.frameCount();
}

QVariantMap KavioWindowSource::saveData() const
{
    return {{kKavioWindowSourceShowCursorKey, showCursor_}};
}

void KavioWindowSource::loadWithData(const QVariantMap& data)
{
    const QVariant value = data.value(kKavioWindowSourceShowCursorKey);
    if (value.typeId() == QMetaType::Bool)
        setShowCursor(value.toBool());
    else if (value.isValid())
        KLOG_WARN("window source record: \"showcursor\" is not a boolean, ignored");
}

void KavioWindowSource::removeResources()
{
    timer_.reset();
    if (framesqueue_) {
        framesqueue_->sync([this] { capture_.reset(); });
        framesqueue_.reset();
    }
    frames_.clear();
}
