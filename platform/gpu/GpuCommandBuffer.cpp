#include "GpuCommandBuffer.h"

#include "GpuDeviceCore.h"
#include "GpuLibrary.h"
#include "GpuTexture.h"
#include "Log.h"

#include <cmath>

namespace {

// Copies bytes for a later command. Uniform blocks get whole 16-byte rows: std140 may round a
// block's size up to one.
std::vector<std::uint8_t> copyBytes(const void* bytes, std::size_t length, bool uniformBlock)
{
    const auto* begin = static_cast<const std::uint8_t*>(bytes);
    std::vector<std::uint8_t> copy(begin, begin + length);
    if (uniformBlock)
        copy.resize((length + 15) / 16 * 16, 0);
    return copy;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// GpuRenderEncoder

GpuRenderEncoder::GpuRenderEncoder(GpuCommandBuffer& buffer)
    : buffer_(buffer)
{
}

void GpuRenderEncoder::setRenderPipelineState(std::shared_ptr<GpuRenderPipeline> pipeline)
{
    buffer_.record([pipeline = std::move(pipeline)](GpuDeviceCore& core) { core.pass.pipeline = pipeline; });
}

void GpuRenderEncoder::setViewport(const GpuViewport& viewport)
{
    buffer_.record([viewport](GpuDeviceCore& core) {
        // Texture targets keep row 0 at the top (see GpuTypes.h), so OpenGL's row numbers are
        // already counted from the top.
        core.gl->glViewport(GLint(std::lround(viewport.originX)), GLint(std::lround(viewport.originY)),
                            GLsizei(std::lround(viewport.width)), GLsizei(std::lround(viewport.height)));
        core.gl->glDepthRange(viewport.znear, viewport.zfar);
    });
}

void GpuRenderEncoder::setVertexBytes(const void* bytes, std::size_t length, int index)
{
    if (index < 0 || index >= kMaxBufferIndex || !bytes)
        return;
    buffer_.record([copy = copyBytes(bytes, length, index != 0), index](GpuDeviceCore& core) {
        core.pass.vertexBytes[index] = copy;
    });
}

void GpuRenderEncoder::setFragmentBytes(const void* bytes, std::size_t length, int index)
{
    if (index < 0 || index >= kMaxBufferIndex || !bytes)
        return;
    buffer_.record([copy = copyBytes(bytes, length, true), index](GpuDeviceCore& core) {
        core.pass.fragmentBytes[index] = copy;
    });
}

void GpuRenderEncoder::setFragmentTexture(std::shared_ptr<GpuTexture> texture, int index)
{
    if (index < 0 || index >= kMaxTextureIndex)
        return;
    buffer_.record([texture = std::move(texture), index](GpuDeviceCore& core) {
        core.pass.textures[index] = texture ? texture->glName() : 0;
    });
}

void GpuRenderEncoder::drawPrimitives(GpuPrimitiveType type, int vertexStart, int vertexCount)
{
    buffer_.record([=](GpuDeviceCore& core) { core.draw(type, vertexStart, vertexCount); });
}

void GpuRenderEncoder::endEncoding()
{
    buffer_.record([](GpuDeviceCore& core) { core.pass = {}; });
}

// ---------------------------------------------------------------------------------------------
// GpuBlitEncoder

GpuBlitEncoder::GpuBlitEncoder(GpuCommandBuffer& buffer)
    : buffer_(buffer)
{
}

void GpuBlitEncoder::copyFromTexture(std::shared_ptr<GpuTexture> source, const GpuRegion& region,
                                     std::shared_ptr<GpuTexture> destination, std::uint32_t x, std::uint32_t y)
{
    auto inside = [](const GpuTexture& texture, std::uint32_t atX, std::uint32_t atY, const GpuRegion& size) {
        return atX <= texture.width() && atY <= texture.height() && size.width <= texture.width() - atX
               && size.height <= texture.height() - atY;
    };
    if (!source || !destination || source->pixelFormat() != destination->pixelFormat()
        || !GpuPixelFormats::isRenderable(source->pixelFormat()) || !inside(*source, region.x, region.y, region)
        || !inside(*destination, x, y, region)) {
        KLOG_ERROR("texture copy dropped: missing texture, mixed formats or region outside a texture");
        return;
    }
    buffer_.record([source = std::move(source), region, destination = std::move(destination), x, y](GpuDeviceCore& core) {
        auto* gl = core.gl;
        // Both framebuffers first: making one binds it to both targets.
        const unsigned from = core.framebufferFor(source->glName());
        const unsigned to = core.framebufferFor(destination->glName());
        gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, from);
        gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, to);
        gl->glDisable(GL_SCISSOR_TEST);
        gl->glBlitFramebuffer(GLint(region.x), GLint(region.y), GLint(region.x + region.width),
                              GLint(region.y + region.height), GLint(x), GLint(y), GLint(x + region.width),
                              GLint(y + region.height), GL_COLOR_BUFFER_BIT, GL_NEAREST);
    });
}

void GpuBlitEncoder::endEncoding()
{
}

// ---------------------------------------------------------------------------------------------
// GpuCommandBuffer

GpuCommandBuffer::GpuCommandBuffer(std::shared_ptr<GpuDeviceCore> core)
    : core_(std::move(core))
{
}

std::unique_ptr<GpuRenderEncoder> GpuCommandBuffer::renderCommandEncoder(const GpuRenderPassDescriptor& descriptor)
{
    auto texture = descriptor.colorTexture;
    if (!texture || !GpuPixelFormats::isRenderable(texture->pixelFormat())) {
        KLOG_ERROR("render pass without a texture that can be drawn into");
        return nullptr;
    }
    record([texture, descriptor](GpuDeviceCore& core) {
        auto* gl = core.gl;
        core.pass = {};
        core.pass.framebuffer = core.framebufferFor(texture->glName());
        core.pass.targetFormat = texture->pixelFormat();
        gl->glBindFramebuffer(GL_FRAMEBUFFER, core.pass.framebuffer);
        gl->glViewport(0, 0, GLsizei(texture->width()), GLsizei(texture->height()));
        gl->glDepthRange(0.0, 1.0);
        if (descriptor.loadAction == GpuLoadAction::Clear) {
            const GpuClearColor& c = descriptor.clearColor;
            const GLfloat color[4] = {GLfloat(c.red), GLfloat(c.green), GLfloat(c.blue), GLfloat(c.alpha)};
            gl->glDisable(GL_SCISSOR_TEST);
            gl->glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
            gl->glClearBufferfv(GL_COLOR, 0, color);
        }
    });
    return std::make_unique<GpuRenderEncoder>(*this);
}

std::unique_ptr<GpuBlitEncoder> GpuCommandBuffer::blitCommandEncoder()
{
    return std::make_unique<GpuBlitEncoder>(*this);
}

void GpuCommandBuffer::record(Command command)
{
    std::lock_guard lock(mutex_);
    if (status_ == Status::NotEnqueued)
        commands_.push_back(std::move(command));
}

void GpuCommandBuffer::addCompletedHandler(CompletedHandler handler)
{
    {
        std::lock_guard lock(mutex_);
        if (status_ != Status::Completed) {
            handlers_.push_back(std::move(handler));
            return;
        }
    }
    handler();
}

void GpuCommandBuffer::commit()
{
    {
        std::lock_guard lock(mutex_);
        if (status_ != Status::NotEnqueued)
            return;
        status_ = Status::Committed;
    }
    auto self = shared_from_this();
    if (!core_->post([self] { self->core_->executeCommitted(self); })) {
        // The device has ended: nothing will run, so nobody may wait for it.
        complete();
    }
}

void GpuCommandBuffer::execute(GpuDeviceCore& core)
{
    for (auto& command : commands_)
        command(core);
    commands_.clear();
    core.pass = {};
}

void GpuCommandBuffer::setStatus(Status status)
{
    {
        std::lock_guard lock(mutex_);
        status_ = status;
    }
    changed_.notify_all();
}

void GpuCommandBuffer::complete()
{
    // Handlers run before the status turns complete, so a waiter sees their effects; a
    // handler that adds another handler to this buffer gets it run in the same round.
    for (;;) {
        std::vector<CompletedHandler> handlers;
        {
            std::lock_guard lock(mutex_);
            if (handlers_.empty()) {
                status_ = Status::Completed;
                break;
            }
            handlers.swap(handlers_);
        }
        for (auto& handler : handlers)
            handler();
    }
    changed_.notify_all();
}

GpuCommandBuffer::Status GpuCommandBuffer::status() const
{
    std::lock_guard lock(mutex_);
    return status_;
}

void GpuCommandBuffer::waitFor(Status status)
{
    if (core_->onRenderThread()) {
        KLOG_ERROR("waiting for a command buffer on the GPU's own thread would never end; not waiting");
        return;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return status_ == Status::NotEnqueued || int(status_) >= int(status); });
}

void GpuCommandBuffer::waitUntilScheduled()
{
    waitFor(Status::Scheduled);
}

void GpuCommandBuffer::waitUntilCompleted()
{
    waitFor(Status::Completed);
}

// ---------------------------------------------------------------------------------------------
// Drawing, on the render thread

namespace {

GLenum blendFactor(GpuBlendFactor factor)
{
    switch (factor) {
    case GpuBlendFactor::Zero:
        return GL_ZERO;
    case GpuBlendFactor::One:
        return GL_ONE;
    case GpuBlendFactor::SourceAlpha:
        return GL_SRC_ALPHA;
    case GpuBlendFactor::OneMinusSourceAlpha:
        return GL_ONE_MINUS_SRC_ALPHA;
    }
    return GL_ONE;
}

}  // namespace

void GpuDeviceCore::draw(GpuPrimitiveType type, int start, int count)
{
    const auto& pipeline = pass.pipeline;
    if (!pipeline || pass.framebuffer == 0 || count <= 0 || start < 0) {
        KLOG_ERROR("draw without a render pipeline or a render pass, dropped");
        return;
    }
    const GpuRenderPipelineDescriptor& d = pipeline->descriptor();
    if (d.colorPixelFormat != pass.targetFormat) {
        KLOG_ERROR("draw with pipeline \"{}\" into a texture of another pixel format, dropped", d.label);
        return;
    }
    const auto& vertices = pass.vertexBytes[0];
    if (vertices.size() < (std::size_t(start) + std::size_t(count)) * d.vertexStride) {
        KLOG_ERROR("draw with pipeline \"{}\" past the vertex bytes, dropped", d.label);
        return;
    }

    gl->glUseProgram(pipeline->program());
    gl->glUniform1f(pipeline->flipLocation(), -1.0f);  // texture targets: y = +1 lands on row 0

    if (d.blendingEnabled) {
        gl->glEnable(GL_BLEND);
        gl->glBlendEquationSeparate(GL_FUNC_ADD, GL_FUNC_ADD);
        gl->glBlendFuncSeparate(blendFactor(d.sourceRGBBlendFactor), blendFactor(d.destinationRGBBlendFactor),
                                blendFactor(d.sourceAlphaBlendFactor), blendFactor(d.destinationAlphaBlendFactor));
    } else {
        gl->glDisable(GL_BLEND);
    }

    gl->glBindVertexArray(vertexArray);
    gl->glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
    gl->glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertices.size()), vertices.data(), GL_STREAM_DRAW);
    for (GLuint location = 0; location < 8; ++location)
        gl->glDisableVertexAttribArray(location);
    for (const auto& attribute : d.vertexAttributes) {
        gl->glEnableVertexAttribArray(GLuint(attribute.location));
        gl->glVertexAttribPointer(GLuint(attribute.location), attribute.components, GL_FLOAT, GL_FALSE,
                                  GLsizei(d.vertexStride), reinterpret_cast<const void*>(attribute.offset));
    }

    auto bindUniforms = [this](const std::vector<std::uint8_t>& bytes, int binding) {
        if (bytes.empty())
            return;
        const GLuint buffer = uniformBuffers[std::size_t(binding)];
        gl->glBindBuffer(GL_UNIFORM_BUFFER, buffer);
        gl->glBufferData(GL_UNIFORM_BUFFER, GLsizeiptr(bytes.size()), bytes.data(), GL_STREAM_DRAW);
        gl->glBindBufferBase(GL_UNIFORM_BUFFER, GLuint(binding), buffer);
    };
    for (int index = 1; index < kMaxBufferIndex; ++index)
        bindUniforms(pass.vertexBytes[index], index);
    for (int index = 0; index < kMaxBufferIndex; ++index)
        bindUniforms(pass.fragmentBytes[index], kFragmentBindingBase + index);

    for (int unit = 0; unit < kMaxTextureIndex; ++unit) {
        gl->glActiveTexture(GLenum(GL_TEXTURE0 + unit));
        gl->glBindTexture(GL_TEXTURE_2D, pass.textures[unit]);
    }
    gl->glActiveTexture(GL_TEXTURE0);

    gl->glDrawArrays(type == GpuPrimitiveType::TriangleStrip ? GL_TRIANGLE_STRIP : GL_TRIANGLES, start, count);
}
