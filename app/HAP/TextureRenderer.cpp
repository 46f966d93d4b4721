#include "HAP/TextureRenderer.h"

#include "GpuCommandBuffer.h"
#include "GpuLibrary.h"
#include "GpuTexture.h"
#include "Log.h"

#include <cstdint>

std::shared_ptr<TextureRenderer> TextureRenderer::create(GpuLibrary& library, GpuPixelFormat colorPixelFormat,
                                                         std::shared_ptr<GpuFunction> fragment,
                                                         int numberOfExtraColorAttachments)
{
    if (!fragment)
        fragment = library.newFunction("textureToScreenSamplingShader");
    GpuRenderPipelineDescriptor descriptor;
    descriptor.label = "Texture Renderer Pipeline State Descriptor";
    descriptor.vertexFunction = library.newFunction("textureToScreenVertexShader");
    descriptor.fragmentFunction = fragment;
    descriptor.colorPixelFormat = colorPixelFormat;
    descriptor.blendingEnabled = true;
    descriptor.sourceRGBBlendFactor = descriptor.sourceAlphaBlendFactor = GpuBlendFactor::One;
    descriptor.destinationRGBBlendFactor = descriptor.destinationAlphaBlendFactor = GpuBlendFactor::OneMinusSourceAlpha;
    std::string error;
    auto pipeline = library.newRenderPipelineState(descriptor, &error);
    if (!pipeline) {
        KLOG_ERROR("Failed to created pipeline state, error {}", error);
        return nullptr;
    }
    return std::shared_ptr<TextureRenderer>(new TextureRenderer(std::move(pipeline), std::move(fragment),
                                                                numberOfExtraColorAttachments));
}

TextureRenderer::TextureRenderer(std::shared_ptr<GpuRenderPipeline> pipeline, std::shared_ptr<GpuFunction> fragment,
                                 int extras)
    : pipeline_(std::move(pipeline))
    , fragment_(std::move(fragment))
    , numberOfExtraColorAttachements_(extras)
{
}

void TextureRenderer::renderFromTexture(const std::shared_ptr<GpuTexture>& source,
                                        const std::shared_ptr<GpuTexture>& destination, GpuCommandBuffer& commandBuffer,
                                        const std::vector<std::shared_ptr<GpuTexture>>& extraColorAttachements,
                                        std::optional<GpuViewport> viewport)
{
    if (int(extraColorAttachements.size()) != numberOfExtraColorAttachements_) {
        KLOG_ERROR("Render aborted. Extra textures received:({}) should be:({})", extraColorAttachements.size(),
                   numberOfExtraColorAttachements_);
        return;
    }
    if (!source) {
        KLOG_ERROR("Render aborted. offscreen texture is nil");
        return;
    }
    if (!destination) {
        KLOG_ERROR("Render aborted. output texture is nil");
        return;
    }
    const GpuViewport port = viewport.value_or(GpuViewport{0, 0, double(source->width()), double(source->height()), -1, 1});
    const std::uint32_t viewportSize[2] = {std::uint32_t(port.width), std::uint32_t(port.height)};
    const float w = float(port.width) / 2, h = float(port.height) / 2;
    const float s = flip_ ? -1.0f : 1.0f;
    const float vertices[24] = {w, s * h, 1, 1, -w, s * h, 0, 1, -w, -s * h, 0, 0,
                                w, s * h, 1, 1, -w, -s * h, 0, 0, w, -s * h, 1, 0};

    auto encoder = commandBuffer.renderCommandEncoder({destination, GpuLoadAction::Clear, clearColor_});
    if (!encoder)
        return;
    encoder->setViewport(port);
    encoder->setRenderPipelineState(pipeline_);
    encoder->setVertexBytes(vertices, sizeof vertices, 0);
    encoder->setVertexBytes(viewportSize, sizeof viewportSize, 1);
    encoder->setFragmentTexture(source, 0);
    for (std::size_t k = 0; k < extraColorAttachements.size(); ++k)
        encoder->setFragmentTexture(extraColorAttachements[k], int(k + 1));
    encoder->drawPrimitives(GpuPrimitiveType::Triangle, 0, 6);
    encoder->endEncoding();
}
