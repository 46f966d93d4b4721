#pragma once
// The drawable view of one video output: once per frame it projects the composed picture onto
// the output (corner-pin warp mesh, span cell, orientation, edge-blend ramps) and draws the
// overlay on top, into the frame's shared command buffer. A screen output then presents the
// drawable in its window; the other kinds copy the drawable after the GPU finished.
//
// Threads: made and resized (setFrame) on the main thread; draw, presentDrawable and the
// per-frame setters on the rendering thread. The main thread's frame change reaches the
// rendering thread through an atomic; the setters write plain fields the rendering thread alone
// reads.

#include "GpuTypes.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class GpuDrawable;
class GpuDrawableLayer;
class GpuRenderPipeline;
class GpuTexture;
class QVTMetalManager;
class QWindow;

// One edge's ramp in the projection record: blend width as a share of the output, exponent.
struct KavioEdgeUniform {
    float blending = 0.0f;
    float gamma = 1.0f;
};

// What the output hands its view each frame; laid out as 80 bytes by bytes().
struct KavioProjectionUniforms {
    bool enableSpanMode = false;
    std::int32_t rows = 1, cols = 1;
    std::int32_t row = 0, col = 0;
    std::uint16_t edgeBlendPaddingX = 0, edgeBlendPaddingY = 0;
    std::int32_t textureWidth = 0, textureHeight = 0;
    std::int32_t destinationWidth = 0, destinationHeight = 0;
    float orientation = 0.0f;
    float gamma = 1.0f;
    KavioEdgeUniform left, right, top, bottom;

    static constexpr std::size_t kSize = 80;
    // Little-endian, at the offsets the shaders read.
    std::array<std::uint8_t, kSize> bytes() const;
    static KavioProjectionUniforms fromBytes(const std::uint8_t* bytes);
};

// A vertex of the warp mesh: position x, y (normalised device coordinates), 8 unused bytes,
// then texture coordinates s, t, q and 0.
struct KavioMeshVertex {
    float x, y, unused0, unused1, s, t, q, w;
};
static_assert(sizeof(KavioMeshVertex) == 32);

class KavioVideoOutputMTKView {
public:
    // The four corners in normalised device coordinates (y up).
    struct Corners {
        QPointF bottomLeft{-1, -1}, bottomRight{1, -1}, topLeft{-1, 1}, topRight{1, 1};
    };

    // The mesh of n interior subdivisions per side: (n + 1)^2 cells of two triangles. With n = 0
    // and a convex quad, the texture coordinates carry the perspective weight q. Pure.
    static std::vector<KavioMeshVertex> buildMesh(const Corners& corners, int subdivisions);
    // The same into `mesh`, reusing its storage (the per-frame path).
    static void buildMeshInto(const Corners& corners, int subdivisions, std::vector<KavioMeshVertex>& mesh);
    // Vertex count of a warp mode's mesh: (8 x mode + 1)^2 x 6, a 32-bit count.
    static std::uint32_t vertexCountForWarpMode(long warpMode);

    // The view of an output's window: sets up the drawable layer in the window (16-bit float
    // RGBA with high bit depth, else 8-bit BGRA) and the two pipelines. Without a device, shows
    // the alert "Metal is unsupported :(" and never draws. Main thread.
    KavioVideoOutputMTKView(QVTMetalManager& gpu, QWindow* window, bool highBitDepth);
    ~KavioVideoOutputMTKView();
    KavioVideoOutputMTKView(const KavioVideoOutputMTKView&) = delete;
    KavioVideoOutputMTKView& operator=(const KavioVideoOutputMTKView&) = delete;

    // The view's rectangle in points; the drawable follows its size at the next draw. Main thread.
    void setFrame(const QRectF& frame);
    QRectF frame() const;
    // The frame's size as the rendering thread sees it. Any thread.
    QSizeF frameSize() const;

    // Per-frame state, rendering thread.
    void setTexture(std::shared_ptr<GpuTexture> texture) { texture_ = std::move(texture); }
    void setOverLaytexture(std::shared_ptr<GpuTexture> texture) { overlay_ = std::move(texture); }
    void setCorners(const Corners& corners) { corners_ = corners; }
    void setUniforms(const KavioProjectionUniforms& uniforms) { uniforms_ = uniforms; }
    const KavioProjectionUniforms& uniforms() const { return uniforms_; }
    void setWarpMode(long warpMode) { warpMode_ = warpMode; }
    void setShouldOnlyClear(bool clear) { shouldOnlyClear_ = clear; }
    bool shouldOnlyClear() const { return shouldOnlyClear_; }

    // Any thread.
    void setShouldUseMatteColor(bool on) { shouldUseMatteColor_.store(on); }
    void setVideoOutputType(std::int32_t type) { videoOutputType_.store(type); }

    // Encodes the projection (unless only clearing) and the overlay into the frame's command
    // buffer; refuses the main thread ("--- skip drawing on the main thread!"). Rendering thread.
    void draw();
    // The drawable of the last draw (kept until presented), or nullptr.
    std::shared_ptr<GpuTexture> currentDrawableTexture() const;
    // Screen outputs only, and not after a clearing draw: shows the drawable. Rendering thread.
    void presentDrawable();

    // Logs "MTKView removeResources"; the window may go afterwards.
    void removeResources();

private:
    QVTMetalManager& gpu_;
    std::shared_ptr<GpuDrawableLayer> layer_;
    std::shared_ptr<GpuRenderPipeline> pipelineState_;
    std::shared_ptr<GpuRenderPipeline> pipelineStateOverlay_;
    std::atomic<std::uint64_t> frameSize_{0};  // KavioRenderingSupport::packSize
    std::atomic<bool> shouldupdatedrawablesize_{true};
    std::atomic<bool> shouldUseMatteColor_{false};
    std::atomic<std::int32_t> videoOutputType_{10};
    QRectF frame_;  // main thread

    // Rendering thread.
    std::shared_ptr<GpuTexture> texture_;
    std::shared_ptr<GpuTexture> overlay_;
    Corners corners_;
    KavioProjectionUniforms uniforms_;
    long warpMode_ = 0;
    bool shouldOnlyClear_ = false;
    std::shared_ptr<GpuDrawable> drawable_;
    std::vector<KavioMeshVertex> mesh_;
};
