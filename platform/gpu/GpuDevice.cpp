#include "GpuDevice.h"

#include "GpuCommandBuffer.h"
#include "GpuDeviceCore.h"
#include "GpuLibrary.h"
#include "GpuTexture.h"
#include "Log.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLVersionFunctionsFactory>

#include <pthread.h>

#include <future>

namespace {

QSurfaceFormat requestedFormat()
{
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    return format;
}

// How long the render thread, with nothing queued, waits at a time on the oldest fence in
// flight: the wait ends as the GPU signals it, so completions run at once, and a task queued
// meanwhile waits at most this long.
constexpr GLuint64 kFenceWaitNanoseconds = 50'000;

}  // namespace

// ---------------------------------------------------------------------------------------------
// GpuDeviceCore

bool GpuDeviceCore::post(std::function<void()> task)
{
    {
        std::lock_guard lock(mutex);
        if (quitting || ended)
            return false;
        tasks.push_back(std::move(task));
    }
    wake.notify_one();
    return true;
}

bool GpuDeviceCore::runSync(const std::function<void()>& task)
{
    if (onRenderThread()) {
        task();
        return true;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    if (!post([&task, &done] {
            task();
            done.set_value();
        }))
        return false;
    finished.wait();
    return true;
}

void GpuDeviceCore::run()
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex);
            if (tasks.empty() && !quitting) {
                if (inFlight.empty()) {
                    wake.wait(lock, [this] { return quitting || !tasks.empty(); });
                } else {
                    lock.unlock();
                    gl->glClientWaitSync(static_cast<GLsync>(inFlight.front().fence), 0, kFenceWaitNanoseconds);
                    lock.lock();
                }
            }
            if (!tasks.empty()) {
                task = std::move(tasks.front());
                tasks.pop_front();
            } else if (quitting) {
                break;
            }
        }
        if (task)
            task();
        completeSignalled(false);
    }
    completeSignalled(true);
}

void GpuDeviceCore::executeCommitted(const std::shared_ptr<GpuCommandBuffer>& buffer)
{
    buffer->execute(*this);
    GLsync fence = gl->glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    gl->glFlush();
    buffer->setStatus(GpuCommandBuffer::Status::Scheduled);
    inFlight.push_back({fence, buffer});
}

void GpuDeviceCore::completeSignalled(bool waitForAll)
{
    // Fences signal in submission order, so the oldest decides: handlers stay in commit order.
    while (!inFlight.empty()) {
        auto fence = static_cast<GLsync>(inFlight.front().fence);
        const GLuint64 timeout = waitForAll ? GL_TIMEOUT_IGNORED : 0;
        const GLenum result = gl->glClientWaitSync(fence, GL_SYNC_FLUSH_COMMANDS_BIT, timeout);
        if (result == GL_TIMEOUT_EXPIRED)
            return;
        gl->glDeleteSync(fence);
        auto buffer = std::move(inFlight.front().buffer);
        inFlight.pop_front();
        buffer->complete();
    }
}

unsigned GpuDeviceCore::framebufferFor(unsigned texture)
{
    auto found = framebuffers.find(texture);
    if (found != framebuffers.end())
        return found->second;
    GLuint framebuffer = 0;
    gl->glGenFramebuffers(1, &framebuffer);
    gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    gl->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    framebuffers.emplace(texture, framebuffer);
    return framebuffer;
}

void GpuDeviceCore::deleteTexture(unsigned texture)
{
    auto found = framebuffers.find(texture);
    if (found != framebuffers.end()) {
        gl->glDeleteFramebuffers(1, &found->second);
        framebuffers.erase(found);
    }
    gl->glDeleteTextures(1, &texture);
}

// ---------------------------------------------------------------------------------------------
// GpuDevice

namespace {

// The render thread's start: makes the context current for good and the objects every pass
// uses. Answers an error text, empty on success.
std::string startContext(GpuDeviceCore& core)
{
    core.context = new QOpenGLContext;
    if (QOpenGLContext* share = QOpenGLContext::globalShareContext())
        core.context->setShareContext(share);
    core.context->setFormat(requestedFormat());
    if (!core.context->create())
        return "cannot create an OpenGL context";
    if (!core.context->makeCurrent(core.surface))
        return "cannot make the OpenGL context current";
    const QSurfaceFormat format = core.context->format();
    if (format.version() < qMakePair(3, 3) || format.profile() != QSurfaceFormat::CoreProfile)
        return "OpenGL 3.3 core profile is not available";
    core.gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(core.context);
    if (!core.gl || !core.gl->initializeOpenGLFunctions())
        return "cannot resolve the OpenGL 3.3 core functions";
    auto* gl = core.gl;
    core.rendererName = reinterpret_cast<const char*>(gl->glGetString(GL_RENDERER));
    gl->glGenVertexArrays(1, &core.vertexArray);
    gl->glBindVertexArray(core.vertexArray);
    gl->glGenBuffers(1, &core.vertexBuffer);
    gl->glGenBuffers(GLsizei(core.uniformBuffers.size()), core.uniformBuffers.data());
    gl->glGenFramebuffers(1, &core.readFramebuffer);
    gl->glPixelStorei(GL_PACK_ALIGNMENT, 1);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    return {};
}

void stopContext(GpuDeviceCore& core)
{
    if (core.gl) {
        core.gl->glFinish();
        // Deleting the context frees every object of it.
        core.framebuffers.clear();
        core.programs.clear();
    }
    core.context->doneCurrent();
    delete core.context;
    core.context = nullptr;
    core.gl = nullptr;
}

}  // namespace

std::shared_ptr<GpuDevice> GpuDevice::createSystemDefaultDevice(std::string* error)
{
    auto fail = [error](const std::string& reason) -> std::shared_ptr<GpuDevice> {
        KLOG_ERROR("no GPU device: {}", reason);
        if (error)
            *error = reason;
        return nullptr;
    };
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return fail("no QGuiApplication");

    auto core = std::make_shared<GpuDeviceCore>();
    core->surface = new QOffscreenSurface;
    core->surface->setFormat(requestedFormat());
    core->surface->create();
    if (!core->surface->isValid()) {
        delete core->surface;
        return fail("cannot create an offscreen surface");
    }

    std::promise<std::string> started;
    auto startResult = started.get_future();
    core->thread = std::thread([raw = core.get(), &started] {
        pthread_setname_np(pthread_self(), "kaviogpu");
        const std::string failure = startContext(*raw);
        if (!failure.empty()) {
            stopContext(*raw);
            {
                std::lock_guard lock(raw->mutex);
                raw->ended = true;
            }
            started.set_value(failure);
            return;
        }
        started.set_value({});
        raw->run();
        stopContext(*raw);
    });
    core->threadId = core->thread.get_id();
    const std::string failure = startResult.get();
    if (!failure.empty()) {
        core->thread.join();
        delete core->surface;
        return fail(failure);
    }
    return std::shared_ptr<GpuDevice>(new GpuDevice(std::move(core)));
}

GpuDevice::GpuDevice(std::shared_ptr<GpuDeviceCore> core)
    : core_(std::move(core))
{
}

GpuDevice::~GpuDevice()
{
    end();
}

void GpuDevice::end()
{
    {
        std::lock_guard lock(core_->mutex);
        core_->quitting = true;
    }
    core_->wake.notify_one();
    if (core_->thread.joinable())
        core_->thread.join();
    {
        std::lock_guard lock(core_->mutex);
        core_->ended = true;
        core_->tasks.clear();
    }
    delete core_->surface;
    core_->surface = nullptr;
}

const std::string& GpuDevice::name() const
{
    return core_->rendererName;
}

bool GpuDevice::isRenderThread() const
{
    return core_->onRenderThread();
}

bool GpuDevice::runOnRenderThread(const std::function<void()>& task)
{
    return core_->runSync(task);
}

std::shared_ptr<GpuCommandQueue> GpuDevice::newCommandQueue()
{
    return std::make_shared<GpuCommandQueue>(core_);
}

std::shared_ptr<GpuLibrary> GpuDevice::newDefaultLibrary()
{
    return std::make_shared<GpuLibrary>(core_, ":/shaders");
}

std::shared_ptr<GpuTexture> GpuDevice::newTexture(const GpuTextureDescriptor& descriptor)
{
    const GpuPixelFormat format = descriptor.pixelFormat;
    if (format == GpuPixelFormat::Invalid || descriptor.width == 0 || descriptor.height == 0)
        return nullptr;
    GLuint name = 0;
    core_->runSync([&] {
        auto* gl = core_->gl;
        GLint maxSize = 0;
        while (gl->glGetError() != GL_NO_ERROR) {
        }
        gl->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
        if (descriptor.width > GLuint(maxSize) || descriptor.height > GLuint(maxSize))
            return;
        gl->glGenTextures(1, &name);
        gl->glBindTexture(GL_TEXTURE_2D, name);
        // Integer texels cannot be filtered: a linear filter would leave the texture incomplete.
        const GLint filter = format == GpuPixelFormat::RGBA32Uint ? GL_NEAREST : GL_LINEAR;
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        const GLsizei w = GLsizei(descriptor.width);
        const GLsizei h = GLsizei(descriptor.height);
        const GpuGLFormat gl_format = glFormatFor(format);
        if (GpuPixelFormats::isCompressed(format)) {
            const auto bytes = GLsizei(GpuPixelFormats::imageBytes(format, descriptor.width, descriptor.height));
            gl->glCompressedTexImage2D(GL_TEXTURE_2D, 0, gl_format.internal, w, h, 0, bytes, nullptr);
        } else {
            gl->glTexImage2D(GL_TEXTURE_2D, 0, GLint(gl_format.internal), w, h, 0, gl_format.format, gl_format.type,
                             nullptr);
        }
        if (gl->glGetError() != GL_NO_ERROR) {
            gl->glDeleteTextures(1, &name);
            name = 0;
        }
    });
    if (name == 0)
        return nullptr;
    return std::make_shared<GpuTexture>(core_, name, descriptor);
}

// ---------------------------------------------------------------------------------------------
// GpuCommandQueue

GpuCommandQueue::GpuCommandQueue(std::shared_ptr<GpuDeviceCore> core)
    : core_(std::move(core))
{
}

std::shared_ptr<GpuCommandBuffer> GpuCommandQueue::commandBuffer()
{
    return std::make_shared<GpuCommandBuffer>(core_);
}
