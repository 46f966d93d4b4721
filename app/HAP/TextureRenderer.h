#pragma once
// One textured-quad pass: a source texture, plus the extra source textures its fragment
// function reads (texture 1, 2, ...), drawn through that function into a destination texture
// on a command buffer the caller supplies and commits. The destination is cleared to
// clearColor first; the pass blends with one and one minus source alpha.
//
// The quad is two triangles in pixels about the viewport's centre (the viewport's size at
// vertex buffer 1); by default the viewport is the source's size at the origin, so each source
// texel lands on one destination pixel and a Hap image's padding to whole blocks falls outside.
// flip (on after creation) draws the source upright; off mirrors it vertically.
//
// Threads: one thread at a time.

#include "GpuTypes.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class GpuCommandBuffer;
class GpuFunction;
class GpuLibrary;
class GpuRenderPipeline;
class GpuTexture;

class TextureRenderer {
public:
    // A pass drawing into `colorPixelFormat` through `fragment` (nullptr: the plain sampling
    // function) with that many extra source textures; nullptr, logged "Failed to created
    // pipeline state, error %s", when the pipeline cannot be made.
    static std::shared_ptr<TextureRenderer> create(GpuLibrary& library, GpuPixelFormat colorPixelFormat,
                                                   std::shared_ptr<GpuFunction> fragment = nullptr,
                                                   int numberOfExtraColorAttachments = 0);

    // Draws unless the extra textures are not as many as the pass was made for ("Render
    // aborted. Extra textures received:(%lu) should be:(%i)") or a texture is missing ("Render
    // aborted. offscreen texture is nil" / "... output texture is nil"); the destination then
    // keeps its contents.
    void renderFromTexture(const std::shared_ptr<GpuTexture>& source, const std::shared_ptr<GpuTexture>& destination,
                           GpuCommandBuffer& commandBuffer,
                           const std::vector<std::shared_ptr<GpuTexture>>& extraColorAttachements = {},
                           std::optional<GpuViewport> viewport = std::nullopt);

    bool flip() const { return flip_; }
    void setFlip(bool flip) { flip_ = flip; }
    GpuClearColor clearColor() const { return clearColor_; }
    void setClearColor(const GpuClearColor& color) { clearColor_ = color; }
    const std::shared_ptr<GpuFunction>& fragment() const { return fragment_; }

private:
    TextureRenderer(std::shared_ptr<GpuRenderPipeline> pipeline, std::shared_ptr<GpuFunction> fragment, int extras);

    std::shared_ptr<GpuRenderPipeline> pipeline_;
    std::shared_ptr<GpuFunction> fragment_;
    int numberOfExtraColorAttachements_;
    bool flip_ = true;
    GpuClearColor clearColor_{0, 0, 0, 0};
};
