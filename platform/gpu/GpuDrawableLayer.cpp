#include "GpuDrawableLayer.h"

#include "GpuDevice.h"
#include "GpuDeviceCore.h"
#include "GpuTexture.h"
#include "Log.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLVersionFunctionsFactory>
#include <QScreen>
#include <QWindow>

#include <vector>

struct GpuDrawableLayer::ForeignScreen {
    QScreen* screen = nullptr;
    std::unique_ptr<QOpenGLContext> context;
    QOpenGLFunctions_3_3_Core* gl = nullptr;
    GLuint texture = 0, framebuffer = 0;
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> pixels;  // grows with the picture, never per frame
    // Deleting the context frees its texture and framebuffer.
};

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
        if (ForeignScreen* foreign = self->foreignScreenFor(window)) {
            self->presentOnForeignScreen(*foreign, window, *texture);
            return;
        }
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

GpuDrawableLayer::ForeignScreen* GpuDrawableLayer::foreignScreenFor(QWindow* window)
{
    QScreen* screen = window->screen();
    QScreen* deviceScreen = device_->core_->context->screen();
    if (!screen || !deviceScreen || screen->virtualSiblings().contains(deviceScreen)) {
        foreign_.reset();
        return nullptr;
    }
    if (foreign_ && foreign_->screen == screen)
        return foreign_.get();
    foreign_ = std::make_unique<ForeignScreen>();
    foreign_->screen = screen;
    foreign_->context = std::make_unique<QOpenGLContext>();
    foreign_->context->setFormat(window->format());
    foreign_->context->setScreen(screen);
    if (!foreign_->context->create() || !foreign_->context->makeCurrent(window)) {
        KLOG_ERROR("no OpenGL context for a window on screen {}", screen->name().toStdString());
        foreign_->context.reset();
        device_->core_->context->makeCurrent(device_->core_->surface);
        return foreign_.get();
    }
    foreign_->gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(foreign_->context.get());
    if (!foreign_->gl || !foreign_->gl->initializeOpenGLFunctions())
        foreign_->gl = nullptr;
    device_->core_->context->makeCurrent(device_->core_->surface);
    return foreign_.get();
}

void GpuDrawableLayer::presentOnForeignScreen(ForeignScreen& foreign, QWindow* window, const GpuTexture& texture)
{
    auto* core = device_->core_.get();
    if (!foreign.gl)
        return;
    const std::uint32_t w = texture.width(), h = texture.height();
    foreign.pixels.resize(std::size_t(w) * h * 4);
    core->gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, core->framebufferFor(texture.glName()));
    core->gl->glReadPixels(0, 0, GLsizei(w), GLsizei(h), GL_BGRA, GL_UNSIGNED_BYTE, foreign.pixels.data());
    if (!foreign.context->makeCurrent(window))
        return;
    auto* gl = foreign.gl;
    if (foreign.texture == 0) {
        gl->glGenTextures(1, &foreign.texture);
        gl->glGenFramebuffers(1, &foreign.framebuffer);
    }
    gl->glBindTexture(GL_TEXTURE_2D, foreign.texture);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (foreign.width != w || foreign.height != h) {
        gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(w), GLsizei(h), 0, GL_BGRA, GL_UNSIGNED_BYTE,
                         foreign.pixels.data());
        gl->glBindFramebuffer(GL_FRAMEBUFFER, foreign.framebuffer);
        gl->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, foreign.texture, 0);
        foreign.width = w, foreign.height = h;
    } else {
        gl->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, GLsizei(w), GLsizei(h), GL_BGRA, GL_UNSIGNED_BYTE,
                            foreign.pixels.data());
    }
    const qreal ratio = window->devicePixelRatio();
    gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, foreign.framebuffer);
    gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, foreign.context->defaultFramebufferObject());
    gl->glDisable(GL_SCISSOR_TEST);
    gl->glBlitFramebuffer(0, 0, GLint(w), GLint(h), 0, GLint(window->height() * ratio), GLint(window->width() * ratio),
                          0, GL_COLOR_BUFFER_BIT, GL_LINEAR);
    foreign.context->swapBuffers(window);
    core->context->makeCurrent(core->surface);
    presented_.fetch_add(1, std::memory_order_relaxed);
}

void GpuDrawableLayer::detach()
{
    device_->runOnRenderThread([this] {
        window_ = nullptr;
        foreign_.reset();
    });
}
