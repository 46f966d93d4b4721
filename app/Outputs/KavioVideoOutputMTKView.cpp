#include "Outputs/KavioVideoOutputMTKView.h"

#include "Rendering/KavioRenderingSupport.h"
#include "Rendering/QVTMetalManager.h"
#include "Support/KavioAddons.h"
#include "Support/KavioAlert.h"

#include "GpuCommandBuffer.h"
#include "GpuDrawableLayer.h"
#include "Log.h"

#include <cstring>

namespace {

void put32(std::uint8_t* bytes, std::size_t offset, const void* value)
{
    std::memcpy(bytes + offset, value, 4);
}

struct Vec2 {
    float x, y;
};

Vec2 lerp(Vec2 a, Vec2 b, float t)
{
    return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
}

Vec2 toVec(QPointF p)
{
    return {float(p.x()), float(p.y())};
}

}  // namespace

std::array<std::uint8_t, KavioProjectionUniforms::kSize> KavioProjectionUniforms::bytes() const
{
    std::array<std::uint8_t, kSize> out{};
    out[0] = enableSpanMode ? 1 : 0;
    put32(out.data(), 4, &rows);
    put32(out.data(), 8, &cols);
    put32(out.data(), 12, &row);
    put32(out.data(), 16, &col);
    std::memcpy(out.data() + 20, &edgeBlendPaddingX, 2);
    std::memcpy(out.data() + 22, &edgeBlendPaddingY, 2);
    put32(out.data(), 24, &textureWidth);
    put32(out.data(), 28, &textureHeight);
    put32(out.data(), 32, &destinationWidth);
    put32(out.data(), 36, &destinationHeight);
    put32(out.data(), 40, &orientation);
    put32(out.data(), 44, &gamma);
    const KavioEdgeUniform* edges[] = {&left, &right, &top, &bottom};
    for (int i = 0; i < 4; ++i) {
        put32(out.data(), 48 + 8 * std::size_t(i), &edges[i]->blending);
        put32(out.data(), 52 + 8 * std::size_t(i), &edges[i]->gamma);
    }
    return out;
}

KavioProjectionUniforms KavioProjectionUniforms::fromBytes(const std::uint8_t* bytes)
{
    KavioProjectionUniforms u;
    auto get = [bytes](std::size_t offset, void* value) { std::memcpy(value, bytes + offset, 4); };
    u.enableSpanMode = bytes[0] != 0;
    get(4, &u.rows), get(8, &u.cols), get(12, &u.row), get(16, &u.col);
    std::memcpy(&u.edgeBlendPaddingX, bytes + 20, 2);
    std::memcpy(&u.edgeBlendPaddingY, bytes + 22, 2);
    get(24, &u.textureWidth), get(28, &u.textureHeight), get(32, &u.destinationWidth), get(36, &u.destinationHeight);
    get(40, &u.orientation), get(44, &u.gamma);
    KavioEdgeUniform* edges[] = {&u.left, &u.right, &u.top, &u.bottom};
    for (int i = 0; i < 4; ++i) {
        get(48 + 8 * std::size_t(i), &edges[i]->blending);
        get(52 + 8 * std::size_t(i), &edges[i]->gamma);
    }
    return u;
}

std::uint32_t KavioVideoOutputMTKView::vertexCountForWarpMode(long warpMode)
{
    const std::uint32_t cells = std::uint32_t(warpMode) * 8 + 1;
    return cells * cells * 6;
}

std::vector<KavioMeshVertex> KavioVideoOutputMTKView::buildMesh(const Corners& corners, int subdivisions)
{
    std::vector<KavioMeshVertex> mesh;
    buildMeshInto(corners, subdivisions, mesh);
    return mesh;
}

void KavioVideoOutputMTKView::buildMeshInto(const Corners& corners, int subdivisions, std::vector<KavioMeshVertex>& mesh)
{
    const int n = std::max(subdivisions, 0);
    const int points = n + 2;
    const Vec2 tl = toVec(corners.topLeft), tr = toVec(corners.topRight);
    const Vec2 bl = toVec(corners.bottomLeft), br = toVec(corners.bottomRight);
    auto gridPoint = [&](int r, int c) {
        const float t = float(r) / float(points - 1);
        const float s = float(c) / float(points - 1);
        const Vec2 p = lerp(lerp(tl, bl, t), lerp(tr, br, t), s);
        return KavioMeshVertex{p.x, p.y, 0, 0, s, t, 1, 0};
    };

    // One quad with perspective: the diagonals' crossing gives each corner its weight.
    KavioMeshVertex quad[4] = {gridPoint(0, 0), gridPoint(0, 1), gridPoint(1, 0), gridPoint(1, 1)};
    if (n == 0) {
        const Vec2 p0 = tl, p1 = tr, p2 = bl, p3 = br;
        const Vec2 d1{p3.x - p0.x, p3.y - p0.y}, d2{p2.x - p1.x, p2.y - p1.y};
        const float c = d1.x * d2.y - d2.x * d1.y;
        if (c != 0.0f) {
            const float b = (d1.x * (p0.y - p1.y) - d1.y * (p0.x - p1.x)) / c;
            const float a = (d2.x * (p0.y - p1.y) - (p0.x - p1.x) * d2.y) / c;
            if (a > 0.0f && a < 1.0f && b > 0.0f && b < 1.0f) {
                const float weights[4] = {1.0f / (1.0f - a), 1.0f / (1.0f - b), 1.0f / b, 1.0f / a};
                for (int i = 0; i < 4; ++i) {
                    quad[i].s *= weights[i];
                    quad[i].t *= weights[i];
                    quad[i].q = weights[i];
                }
            }
        }
    }

    const std::size_t cells = std::size_t(points - 1);
    mesh.resize(cells * cells * 6);
    std::size_t k = 0;
    for (int i = 0; i + 1 < points; ++i) {
        for (int j = 0; j + 1 < points; ++j) {
            auto at = [&](int r, int c) { return n == 0 ? quad[r * 2 + c] : gridPoint(r, c); };
            const KavioMeshVertex ul = at(i, j), ur = at(i, j + 1), dl = at(i + 1, j), dr = at(i + 1, j + 1);
            mesh[k++] = dl, mesh[k++] = ul, mesh[k++] = ur;
            mesh[k++] = ur, mesh[k++] = dr, mesh[k++] = dl;
        }
    }
}

KavioVideoOutputMTKView::KavioVideoOutputMTKView(QVTMetalManager& gpu, QWindow* window, bool highBitDepth)
    : gpu_(gpu)
{
    const auto& device = gpu_.device();
    const auto& library = gpu_.library();
    if (!device || !library) {
        KavioAlert::showOnMainQueue({"Metal is unsupported :(",
                                     "Kavio requires a Metal-compatible graphics card to output on external screens.",
                                     {"Ok"},
                                     {}});
        return;
    }
    const GpuPixelFormat format = highBitDepth ? GpuPixelFormat::RGBA16Float : GpuPixelFormat::BGRA8Unorm;
    layer_ = GpuDrawableLayer::create(device, window);
    layer_->setPixelFormat(format);

    GpuRenderPipelineDescriptor descriptor;
    descriptor.colorPixelFormat = format;
    descriptor.blendingEnabled = true;
    descriptor.sourceRGBBlendFactor = GpuBlendFactor::One;
    descriptor.sourceAlphaBlendFactor = GpuBlendFactor::SourceAlpha;
    descriptor.destinationRGBBlendFactor = descriptor.destinationAlphaBlendFactor = GpuBlendFactor::OneMinusSourceAlpha;
    descriptor.label = "OutputMTKView projection";
    descriptor.vertexFunction = library->newFunction("vertexShaderProjection");
    descriptor.fragmentFunction = library->newFunction("fragmentShaderProjection");
    descriptor.vertexStride = sizeof(KavioMeshVertex);
    descriptor.vertexAttributes = {{0, 2, 0}, {1, 4, 16}};
    std::string error;
    pipelineState_ = library->newRenderPipelineState(descriptor, &error);
    if (!pipelineState_)
        KLOG_ERROR("Error: Failed to created pipeline state in OutputMTKView: {}", error);

    descriptor.label = "OutputMTKView overlay";
    descriptor.vertexFunction = library->newFunction("vertexShaderDisplay");
    descriptor.fragmentFunction = library->newFunction("fragmentShaderPreview");
    descriptor.vertexStride = 16;
    descriptor.vertexAttributes = {{0, 2, 0}, {1, 2, 8}};
    pipelineStateOverlay_ = library->newRenderPipelineState(descriptor, &error);
    if (!pipelineStateOverlay_)
        KLOG_ERROR("Error: Failed to created pipeline state (overlay) in OutputMTKView: {}", error);
    KLOG_INFO("KavioVideoOutputMTKView is ready");
}

KavioVideoOutputMTKView::~KavioVideoOutputMTKView()
{
    if (layer_)
        layer_->detach();
}

void KavioVideoOutputMTKView::setFrame(const QRectF& frame)
{
    frame_ = frame;
    frameSize_.store(KavioRenderingSupport::packSize(frame.size()));
    shouldupdatedrawablesize_.store(true);
}

QRectF KavioVideoOutputMTKView::frame() const
{
    return frame_;
}

QSizeF KavioVideoOutputMTKView::frameSize() const
{
    return KavioRenderingSupport::unpackSize(frameSize_.load());
}

void KavioVideoOutputMTKView::draw()
{
    if (!layer_ || (!texture_ && !shouldOnlyClear_))
        return;
    if (KavioAddons::isMainQueueOrIsMainThread()) {
        KLOG_ERROR("--- skip drawing on the main thread!");
        return;
    }
    if (shouldupdatedrawablesize_.exchange(false)) {
        const QSizeF size = frameSize();
        layer_->setDrawableSize(std::uint32_t(size.width()), std::uint32_t(size.height()));
        KLOG_INFO("Output MTKView size has been updated to {}", KavioRenderingSupport::sizeText(size));
    }
    auto buffer = gpu_.currentCommandBuffer();
    auto drawable = layer_->nextDrawable();
    if (!buffer || !drawable)
        return;
    drawable_ = std::move(drawable);

    GpuClearColor clear{0, 0, 0, 0};
    if (shouldUseMatteColor_.load()) {
        const QVTMatteColor matte = gpu_.matteColor();
        clear = {matte.red, matte.green, matte.blue, matte.alpha};
    }
    auto encoder = buffer->renderCommandEncoder({drawable_->texture(), GpuLoadAction::Clear, clear});
    if (encoder && !shouldOnlyClear_ && pipelineState_) {
        encoder->setRenderPipelineState(pipelineState_);
        buildMeshInto(corners_, int(warpMode_ * 8), mesh_);
        // The shaders read the vertical edges exchanged; the stored record stays as the output set it.
        KavioProjectionUniforms drawn = uniforms_;
        std::swap(drawn.top, drawn.bottom);
        const auto bytes = drawn.bytes();
        encoder->setVertexBytes(mesh_.data(), mesh_.size() * sizeof(KavioMeshVertex), 0);
        encoder->setVertexBytes(bytes.data(), bytes.size(), 1);
        encoder->setFragmentBytes(bytes.data(), bytes.size(), 1);
        encoder->setFragmentTexture(texture_, 0);
        encoder->drawPrimitives(GpuPrimitiveType::Triangle, 0, int(mesh_.size()));
    }
    if (encoder)
        encoder->endEncoding();

    if (overlay_ && !shouldOnlyClear_ && pipelineStateOverlay_) {
        auto overlayEncoder = buffer->renderCommandEncoder({drawable_->texture(), GpuLoadAction::Load, {0, 0, 0, 0}});
        if (!overlayEncoder) {
            KLOG_ERROR("no overlayRenderPass");
        } else {
            overlayEncoder->setRenderPipelineState(pipelineStateOverlay_);
            overlayEncoder->setFragmentTexture(overlay_, 0);
            overlayEncoder->setVertexBytes(KavioRenderingSupport::kFullQuad.data(),
                                           sizeof(float) * KavioRenderingSupport::kFullQuad.size(), 0);
            overlayEncoder->drawPrimitives(GpuPrimitiveType::TriangleStrip, 0, 4);
            overlayEncoder->endEncoding();
        }
    }
    shouldOnlyClear_ = false;
}

std::shared_ptr<GpuTexture> KavioVideoOutputMTKView::currentDrawableTexture() const
{
    return drawable_ ? drawable_->texture() : nullptr;
}

void KavioVideoOutputMTKView::presentDrawable()
{
    if (videoOutputType_.load() != 10 || !drawable_)
        return;
    drawable_->present();
}

void KavioVideoOutputMTKView::removeResources()
{
    KLOG_INFO("MTKView removeResources");
    if (layer_)
        layer_->detach();
}
