#include "GpuDrawableLayer.h"

#include "GpuDevice.h"
#include "GpuDeviceCore.h"
#include "GpuTexture.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QWindow>

GpuDrawable::GpuDrawable(std::shared_ptr<GpuDrawableLayer> layer, std::shared_ptr<GpuTexture> texture)
    : layer_(std::move(layer))
    , texture_(std::move(texture))
{
}

void GpuDrawable::present()
{
    if (presented_)
        return;
    presented_ = true;
    layer_->present(texture_);
}

std::shared_ptr<GpuDrawableLayer> GpuDrawableLayer::create(std::shared_ptr<GpuDevice> device, QWindow* window)
{
    if (!device || !window)
        return nullptr;
    window->setSurfaceType(QSurface::OpenGLSurface);
    QSurfaceFormat format = window->requestedFormat();
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setSwapInterval(0);  // presenting never waits for the display's refresh
    window->setFormat(format);
    return std::shared_ptr<GpuDrawableLayer>(new GpuDrawableLayer(std::move(device), window));
}

GpuDrawableLayer::GpuDrawableLayer(std::shared_ptr<GpuDevice> device, QWindow* window)
    : device_(std::move(device))
    , window_(window)
{
}

GpuDrawableLayer::~GpuDrawableLayer()
{
    detach();
}

void GpuDrawableLayer::setPixelFormat(GpuPixelFormat format)
{
    if (GpuPixelFormats::isRenderable(format))
        format_.store(format, std::memory_order_relaxed);
}

void GpuDrawableLayer::setDrawableSize(std::uint32_t width, std::uint32_t height)
{
    size_.store((std::uint64_t(width) << 32) | height, std::memory_order_relaxed);
}

std::shared_ptr<GpuDrawable> GpuDrawableLayer::nextDrawable()
{
    const std::uint64_t size = size_.load(std::memory_order_relaxed);
    const auto width = std::uint32_t(size >> 32);
    const auto height = std::uint32_t(size & 0xffffffffu);
    const GpuPixelFormat format = pixelFormat();
    if (width == 0 || height == 0)
        return nullptr;
    auto& texture = ring_[next_];
    next_ = (next_ + 1) % kRingSize;
    if (!texture || texture->width() != width || texture->height() != height || texture->pixelFormat() != format)
        texture = device_->newTexture({format, width, height});
    if (!texture)
        return nullptr;
    return std::make_shared<GpuDrawable>(shared_from_this(), texture);
}

void GpuDrawableLayer::present(const std::shared_ptr<GpuTexture>& texture)
{
    auto core = device_->core_;
    core->post([self = shared_from_this(), texture, core = core.get()] {
        QWindow* window = self->window_;
        if (!window || !window->handle())
            return;
        if (!core->context->makeCurrent(window))
            return;
        auto* gl = core->gl;
        const qreal ratio = window->devicePixelRatio();
        const GLint targetWidth = GLint(window->width() * ratio);
        const GLint targetHeight = GLint(window->height() * ratio);
        gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, core->framebufferFor(texture->glName()));
        gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, core->context->defaultFramebufferObject());
        gl->glDisable(GL_SCISSOR_TEST);
        // Texture row 0 is the picture's top; the window's row 0 is its bottom.
        gl->glBlitFramebuffer(0, 0, GLint(texture->width()), GLint(texture->height()), 0, targetHeight, targetWidth, 0,
                              GL_COLOR_BUFFER_BIT, GL_LINEAR);
        core->context->swapBuffers(window);
        core->context->makeCurrent(core->surface);
        self->presented_.fetch_add(1, std::memory_order_relaxed);
    });
}

void GpuDrawableLayer::detach()
{
    device_->runOnRenderThread([this] { window_ = nullptr; });
}
