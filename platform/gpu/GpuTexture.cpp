#include "GpuTexture.h"

#include "GpuDevice.h"
#include "GpuDeviceCore.h"
#include "Log.h"

#include <cstring>
#include <vector>

GpuGLFormat glFormatFor(GpuPixelFormat format)
{
    switch (format) {
    case GpuPixelFormat::RGBA16Float:
        return {GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT};
    case GpuPixelFormat::RGBA8Unorm:
        return {GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE};
    case GpuPixelFormat::RGBA32Uint:
        return {GL_RGBA32UI, GL_RGBA_INTEGER, GL_UNSIGNED_INT};
    case GpuPixelFormat::R8Unorm:
        return {GL_R8, GL_RED, GL_UNSIGNED_BYTE};
    case GpuPixelFormat::RG8Unorm:
        return {GL_RG8, GL_RG, GL_UNSIGNED_BYTE};
    case GpuPixelFormat::R16Unorm:
        return {GL_R16, GL_RED, GL_UNSIGNED_SHORT};
    case GpuPixelFormat::RG16Unorm:
        return {GL_RG16, GL_RG, GL_UNSIGNED_SHORT};
    case GpuPixelFormat::BC1_RGBA:
        return {GL_COMPRESSED_RGBA_S3TC_DXT1_EXT, 0, 0};
    case GpuPixelFormat::BC3_RGBA:
        return {GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 0, 0};
    case GpuPixelFormat::BC4_RUnorm:
        return {GL_COMPRESSED_RED_RGTC1, 0, 0};
    default:
        return {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE};
    }
}

GpuTexture::GpuTexture(std::shared_ptr<GpuDeviceCore> core, unsigned name, const GpuTextureDescriptor& descriptor)
    : core_(std::move(core))
    , name_(name)
    , width_(descriptor.width)
    , height_(descriptor.height)
    , format_(descriptor.pixelFormat)
{
}

GpuTexture::~GpuTexture()
{
    core_->post([core = core_.get(), name = name_] { core->deleteTexture(name); });
}

bool GpuTexture::contains(const GpuRegion& region) const
{
    return region.width > 0 && region.height > 0 && region.x <= width_ && region.y <= height_
           && region.width <= width_ - region.x && region.height <= height_ - region.y;
}

bool GpuTexture::acceptsUpload(const GpuRegion& region, const void* bytes, std::size_t bytesPerRow) const
{
    if (!bytes || !contains(region))
        return false;
    const std::size_t tightRow = GpuPixelFormats::bytesPerRow(format_, region.width);
    if (bytesPerRow < tightRow)
        return false;
    if (!GpuPixelFormats::isCompressed(format_))
        return bytesPerRow % GpuPixelFormats::bytesPerPixel(format_) == 0;
    auto blockAligned = [](std::uint32_t at, std::uint32_t length, std::uint32_t size) {
        return at % 4 == 0 && (length % 4 == 0 || at + length == size);
    };
    return blockAligned(region.x, region.width, width_) && blockAligned(region.y, region.height, height_);
}

namespace {

// The upload itself, on the render thread: checked by acceptsUpload before.
bool upload(GpuDeviceCore& core, unsigned name, GpuPixelFormat format, const GpuRegion& region, const void* bytes,
            std::size_t bytesPerRow)
{
    auto* gl = core.gl;
    gl->glBindTexture(GL_TEXTURE_2D, name);
    if (GpuPixelFormats::isCompressed(format)) {
        // Block rows must be tightly packed for a compressed upload.
        const std::size_t tightRow = GpuPixelFormats::bytesPerRow(format, region.width);
        const std::uint32_t blockRows = (region.height + 3) / 4;
        std::vector<std::uint8_t> packed;
        const void* source = bytes;
        if (bytesPerRow != tightRow) {
            packed.resize(tightRow * blockRows);
            for (std::uint32_t row = 0; row < blockRows; ++row)
                std::memcpy(packed.data() + row * tightRow, static_cast<const std::uint8_t*>(bytes) + row * bytesPerRow,
                            tightRow);
            source = packed.data();
        }
        gl->glCompressedTexSubImage2D(GL_TEXTURE_2D, 0, GLint(region.x), GLint(region.y), GLsizei(region.width),
                                      GLsizei(region.height), glFormatFor(format).internal,
                                      GLsizei(tightRow * blockRows), source);
    } else {
        const GpuGLFormat transfer = glFormatFor(format);
        gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(bytesPerRow / GpuPixelFormats::bytesPerPixel(format)));
        gl->glTexSubImage2D(GL_TEXTURE_2D, 0, GLint(region.x), GLint(region.y), GLsizei(region.width),
                            GLsizei(region.height), transfer.format, transfer.type, bytes);
        gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    }
    return gl->glGetError() == GL_NO_ERROR;
}

}  // namespace

bool GpuTexture::replaceRegion(const GpuRegion& region, const void* bytes, std::size_t bytesPerRow)
{
    if (!acceptsUpload(region, bytes, bytesPerRow))
        return false;
    bool ok = false;
    const bool ran
        = core_->runSync([&] { ok = upload(*core_, name_, format_, region, bytes, bytesPerRow); });
    return ran && ok;
}

bool GpuTexture::replaceRegion(const GpuRegion& region, const void* bytes, std::size_t bytesPerRow,
                               std::shared_ptr<const void> owner)
{
    if (!acceptsUpload(region, bytes, bytesPerRow))
        return false;
    auto task = [core = core_.get(), name = name_, format = format_, region, bytes, bytesPerRow,
                 owner = std::move(owner)] {
        if (!upload(*core, name, format, region, bytes, bytesPerRow))
            KLOG_ERROR("texture upload of {}x{} failed", region.width, region.height);
    };
    if (core_->onRenderThread()) {
        task();
        return true;
    }
    // Queued behind what was committed before and ahead of what comes after; the texture's own
    // deletion is queued behind it too, so the name stays valid until the upload has run.
    return core_->post(std::move(task));
}

bool GpuTexture::getBytes(void* bytes, std::size_t bytesPerRow, const GpuRegion& region) const
{
    if (!bytes || GpuPixelFormats::isCompressed(format_) || !contains(region))
        return false;
    const std::size_t pixel = GpuPixelFormats::bytesPerPixel(format_);
    if (bytesPerRow < region.width * pixel || bytesPerRow % pixel != 0)
        return false;
    bool ok = false;
    const bool ran = core_->runSync([&] {
        auto* gl = core_->gl;
        gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, core_->framebufferFor(name_));
        gl->glPixelStorei(GL_PACK_ROW_LENGTH, GLint(bytesPerRow / pixel));
        const GpuGLFormat format = glFormatFor(format_);
        gl->glReadPixels(GLint(region.x), GLint(region.y), GLsizei(region.width), GLsizei(region.height), format.format,
                         format.type, bytes);
        gl->glPixelStorei(GL_PACK_ROW_LENGTH, 0);
        ok = gl->glGetError() == GL_NO_ERROR;
    });
    return ran && ok;
}

bool GpuTexture::clearToZero()
{
    if (GpuPixelFormats::isCompressed(format_))
        return false;
    return core_->runSync([&] {
        auto* gl = core_->gl;
        gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, core_->framebufferFor(name_));
        gl->glDisable(GL_SCISSOR_TEST);
        gl->glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        if (format_ == GpuPixelFormat::RGBA32Uint) {
            const GLuint zero[4] = {0, 0, 0, 0};
            gl->glClearBufferuiv(GL_COLOR, 0, zero);
        } else {
            const GLfloat zero[4] = {0, 0, 0, 0};
            gl->glClearBufferfv(GL_COLOR, 0, zero);
        }
    });
}
