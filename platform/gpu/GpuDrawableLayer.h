#pragma once
// A window's picture as the renderer sees it: each frame takes a drawable (a texture of the
// drawable size that passes draw into) and presents it once its command buffer is committed.
// Presenting blits the texture into the window and swaps the window's buffers without waiting
// for the display (swap interval 0), on the GPU's own thread, after everything committed
// before it, so what was drawn is what shows.
//
// A window on another X screen than the device's (X screens are separate desktops whose GL
// objects cannot be shared) gets a context of its own on that screen: presenting then reads the
// texture back and draws the copy there.
//
// Threads: make the layer and detach it on the GUI thread; take and present drawables from the
// rendering thread. The layer reuses a ring of textures while size and format hold, so a frame
// allocates no texture.

#include "GpuTypes.h"

#include <atomic>
#include <cstdint>
#include <memory>

class GpuDevice;
class GpuDrawableLayer;
class GpuTexture;
class QWindow;

class GpuDrawable {
public:
    GpuDrawable(std::shared_ptr<GpuDrawableLayer> layer, std::shared_ptr<GpuTexture> texture);
    const std::shared_ptr<GpuTexture>& texture() const { return texture_; }
    // Shows the texture in the window, behind every command buffer committed before the call.
    // Once: later calls do nothing.
    void present();

private:
    std::shared_ptr<GpuDrawableLayer> layer_;
    std::shared_ptr<GpuTexture> texture_;
    bool presented_ = false;
};

class GpuDrawableLayer : public std::enable_shared_from_this<GpuDrawableLayer> {
public:
    // A layer showing in `window`, which it makes an OpenGL surface with swap interval 0 (call
    // before the window is first shown). The window must outlive the layer or be detached
    // first. GUI thread.
    static std::shared_ptr<GpuDrawableLayer> create(std::shared_ptr<GpuDevice> device, QWindow* window);
    ~GpuDrawableLayer();
    GpuDrawableLayer(const GpuDrawableLayer&) = delete;
    GpuDrawableLayer& operator=(const GpuDrawableLayer&) = delete;

    // BGRA8Unorm (default) or RGBA16Float. Any thread; takes effect at the next drawable.
    void setPixelFormat(GpuPixelFormat format);
    GpuPixelFormat pixelFormat() const { return format_.load(std::memory_order_relaxed); }
    // The drawables' size in pixels, normally the window's size times its pixel ratio. Any
    // thread; takes effect at the next drawable.
    void setDrawableSize(std::uint32_t width, std::uint32_t height);

    // The next drawable, or nullptr for a zero size or a texture that cannot be made.
    // Rendering thread.
    std::shared_ptr<GpuDrawable> nextDrawable();

    // The window goes away: waits for a present under way; later presents show nothing.
    void detach();

    // How many presents reached the window (for tests and the frame statistics).
    std::uint64_t presentedCount() const { return presented_.load(std::memory_order_relaxed); }

private:
    GpuDrawableLayer(std::shared_ptr<GpuDevice> device, QWindow* window);
    friend class GpuDrawable;
    void present(const std::shared_ptr<GpuTexture>& texture);

    struct ForeignScreen;
    // The window's own context when it lies on another desktop than the device; GPU thread.
    ForeignScreen* foreignScreenFor(QWindow* window);
    void presentOnForeignScreen(ForeignScreen& foreign, QWindow* window, const GpuTexture& texture);

    static constexpr int kRingSize = 3;
    std::unique_ptr<ForeignScreen> foreign_;  // GPU thread only
    std::shared_ptr<GpuDevice> device_;
    QWindow* window_;  // read and cleared on the GPU's thread only, after creation
    std::atomic<GpuPixelFormat> format_{GpuPixelFormat::BGRA8Unorm};
    std::atomic<std::uint64_t> size_{0};  // width in the high, height in the low 32 bits
    std::shared_ptr<GpuTexture> ring_[kRingSize];  // rendering thread only
    int next_ = 0;
    std::atomic<std::uint64_t> presented_{0};
};
