#pragma once
// Captures one window of another program, by its window id, into a BGRA GpuTexture at the cue's
// render size and frame rate, with or without the cursor. The cue owns it, starts and pauses it
// with setShouldRender, and reads texture() once a frame. A window that closes keeps the last
// picture; the window list's notification then makes the cue missing.
//
// Threads: settings on the main thread; the capture runs on "com.dalvek.windowsource" and
// uploads with GpuTexture::replaceRegion (queued for the render thread, no wait); texture() from
// any thread.

#include "Cue/KavioVideoItem.h"
#include "Sources/KavioSourceTexture.h"

#include <QSizeF>

#include <cstdint>
#include <memory>
#include <mutex>

class DispatchQueue;
class DispatchTimer;
class GpuDevice;
class X11WindowCapture;

inline const QString kKavioWindowSourceShowCursorKey = QStringLiteral("showcursor");

class KavioWindowSource : public KavioRecordedSource {
public:
    // No capture starts here; `isCurrent` is accepted and not used. Textures are made on
    // `device`; without one the source keeps its settings and yields no texture.
    KavioWindowSource(QSizeF renderSize, std::int32_t renderFPS, std::uint32_t windowID, bool isCurrent,
                      std::shared_ptr<GpuDevice> device);
    ~KavioWindowSource() override;

    std::uint32_t windowID() const { return windowid_; }
    bool showCursor() const { return showCursor_; }
    void setShowCursor(bool showCursor);
    bool shouldRender() const { return shouldRender_; }
    // Starts or pauses capture; the same value again does nothing.
    void setShouldRender(bool shouldRender) override;
    void setRenderingFPS(std::int32_t fps) override;
    void setRenderSize(QSizeF size);
    // The newest frame; nullptr before the first.
    std::shared_ptr<GpuTexture> texture() override;
    // {"showcursor": bool}; loading takes a boolean "showcursor" only (another type is ignored).
    QVariantMap saveData() const override;
    void loadWithData(const QVariantMap& data) override;
    // Stops capture and drops the texture; the source gives nothing afterwards.
    void removeResources();
    // Frames captured so far (for tests and logs).
    std::uint64_t frameCount() const;

private:
    void restartTimer();
    void captureFrame();

    KavioSourceTexture frames_;
    std::uint32_t windowid_;
    QSizeF renderSize_;
    std::int32_t renderingfps_;
    bool showCursor_ = false;
    bool shouldRender_ = false;
    mutable std::mutex mutex_;  // the capture settings the queue reads
    std::unique_ptr<X11WindowCapture> capture_;  // used on the queue only
    std::unique_ptr<DispatchTimer> timer_;
    std::unique_ptr<DispatchQueue> framesqueue_;
};
