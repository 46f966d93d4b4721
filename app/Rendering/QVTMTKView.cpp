#include "Rendering/QVTMTKView.h"

#include "Controller/KavioVideoItemManagerInterface.h"
#include "Outputs/KavioVideoOutputManagerInterface.h"
#include "Rendering/KavioRenderingSupport.h"
#include "Rendering/QVTMetalManager.h"
#include "Support/KavioAddons.h"
#include "Support/KavioAlert.h"

#include "DispatchQueue.h"
#include "GpuCommandBuffer.h"
#include "GpuDrawableLayer.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "UserDefaults.h"

#include <QResizeEvent>

#include <chrono>
#include <cmath>

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::array<float, 16> quad(float x, float y)
{
    // bottom-left, bottom-right, top-left, top-right: position, then texture coordinates
    return {-x, -y, 0, 1, x, -y, 1, 1, -x, y, 0, 0, x, y, 1, 0};
}

enum Phase { Compose, Outputs, Preview, Commit, Present };

}  // namespace

// Forwards the render clock's and the cue list controller's calls for as long as the view lives.
class QVTMTKView::Delegate : public QVTMTKViewInterface {
public:
    explicit Delegate(QVTMTKView* view)
        : view_(view)
    {
    }
    bool renderIfCanAtTime(double time) override
    {
        QVTMTKView* view = view_.load();
        return view && view->renderIfCanAtTime(time);
    }
    std::uint64_t maxRenderSize() const override { return QVTMTKView::maxRenderSize(); }
    void setShouldClear(bool clear) override
    {
        if (QVTMTKView* view = view_.load())
            view->setShouldClear(clear);
    }
    void viewDidResize() override
    {
        if (QVTMTKView* view = view_.load())
            view->viewDidResize();
    }
    void detach() { view_.store(nullptr); }

private:
    std::atomic<QVTMTKView*> view_;
};

QVTMTKView::QVTMTKView(std::weak_ptr<KavioVideoItemManagerInterface> manager)
    : QVTMTKView(std::move(manager), QVTMetalManager::sharedManager())
{
}

QVTMTKView::QVTMTKView(std::weak_ptr<KavioVideoItemManagerInterface> manager, QVTMetalManager& gpu, QWindow* parent)
    : QWindow(parent)
    , manager_(std::move(manager))
    , gpu_(gpu)
    , delegate_(std::make_shared<Delegate>(this))
    , serialqueue_(std::make_unique<DispatchQueue>("com.dalvek.kavio.mtkview"))
    , renderingfps_(std::make_shared<const QString>())
{
    fpsStart_ = render_time_started_ = now();
    readOverlayDefaults();
    auto& center = NotificationCenter::defaultCenter();
    center.addObserver(this, "KavioRenderSizeChanged", nullptr, [this](const Notification&) { viewDidResize(); });
    center.addObserver(this, "KavioMainWindowWentVisible", nullptr,
                       [this](const Notification&) { handleWindowFullscreenDidChangeState(); }, &DispatchQueue::main());
    center.addObserver(this, "KavioMainWindowWentOccluded", nullptr,
                       [this](const Notification&) { handleWindowFullscreenWillChangeState(); }, &DispatchQueue::main());
    center.addObserver(this, "KavioUpdateUI", nullptr, [this](const Notification&) { readOverlayDefaults(); },
                       &DispatchQueue::main());

    const auto& device = gpu_.device();
    const auto& library = gpu_.library();
    if (!device || !library) {
        KavioAlert::showOnMainQueue({"Metal is unsupported :(", "This app requires a Metal-compatible graphics card.",
                                     {"Ok"}, {}});
        return;
    }
    const bool highBitDepth = UserDefaults::standardUserDefaults().boolForKey("useHighBitDepthRendering");
    const GpuPixelFormat format = highBitDepth ? GpuPixelFormat::RGBA16Float : GpuPixelFormat::BGRA8Unorm;
    layer_ = GpuDrawableLayer::create(device, this);
    layer_->setPixelFormat(format);

    GpuRenderPipelineDescriptor descriptor;
    descriptor.label = "QVTMTKView main";
    descriptor.vertexFunction = library->newFunction("vertexShaderDisplay");
    descriptor.fragmentFunction = library->newFunction("fragmentShaderWithCheckerboardPreview");
    descriptor.colorPixelFormat = format;
    std::string error;
    pipelineState_ = library->newRenderPipelineState(descriptor, &error);
    if (!pipelineState_)
        KLOG_ERROR("Error: Failed to created pipeline state (main) in QVTMTKView: {}", error);

    descriptor.label = "QVTMTKView overlay";
    descriptor.fragmentFunction = library->newFunction("fragmentShaderPreview");
    descriptor.blendingEnabled = true;
    descriptor.sourceRGBBlendFactor = GpuBlendFactor::One;
    descriptor.sourceAlphaBlendFactor = GpuBlendFactor::SourceAlpha;
    descriptor.destinationRGBBlendFactor = descriptor.destinationAlphaBlendFactor = GpuBlendFactor::OneMinusSourceAlpha;
    pipelineStateOverlay_ = library->newRenderPipelineState(descriptor, &error);
    if (!pipelineStateOverlay_)
        KLOG_ERROR("Error: Failed to created pipeline state (overlay) in QVTMTKView: {}", error);
    KLOG_INFO("QVTMTKView is ready");
}

QVTMTKView::~QVTMTKView()
{
    NotificationCenter::defaultCenter().removeObserver(this);
    delegate_->detach();
    if (layer_)
        layer_->detach();
}

std::shared_ptr<QVTMTKViewInterface> QVTMTKView::renderClockDelegate() const
{
    return delegate_;
}

void QVTMTKView::readOverlayDefaults()
{
    auto& defaults = UserDefaults::standardUserDefaults();
    displayCueTimeOverlay_.store(defaults.boolForKey("displayCueTimeOverlay"));
    displayRenderingFPS_.store(defaults.boolForKey("displayRenderingFPS"));
}

void QVTMTKView::handleWindowFullscreenWillChangeState()
{
    serialqueue_->sync([this] {
        tempdisablerenderingpreview_.store(true);
        KLOG_INFO("_tempdisablerenderingpreview on");
    });
}

void QVTMTKView::handleWindowFullscreenDidChangeState()
{
    serialqueue_->sync([this] {
        tempdisablerenderingpreview_.store(false);
        KLOG_INFO("_tempdisablerenderingpreview off");
    });
}

void QVTMTKView::resizeEvent(QResizeEvent* event)
{
    QWindow::resizeEvent(event);
    const QSizeF size = event->size();
    viewSize_.store(KavioRenderingSupport::packSize(size));
    pixelRatio_.store(devicePixelRatio());
    if (layer_)
        layer_->setDrawableSize(std::uint32_t(size.width() * devicePixelRatio()),
                                std::uint32_t(size.height() * devicePixelRatio()));
    viewDidResize();
}

void QVTMTKView::mousePressEvent(QMouseEvent* event)
{
    QWindow::mousePressEvent(event);
    NotificationCenter::defaultCenter().post("KavioViewSelected", this);
}

QString QVTMTKView::renderingfps() const
{
    return *renderingfps_.load();
}

QVTMTKView::PhaseDurations QVTMTKView::lastPhaseDurations() const
{
    return {phases_[Compose].load(), phases_[Outputs].load(), phases_[Preview].load(), phases_[Commit].load(),
            phases_[Present].load()};
}

QPointF QVTMTKView::fitQuad(QSizeF renderSize, QSizeF viewSize)
{
    if (renderSize.isEmpty() || viewSize.isEmpty())
        return {1, 1};
    const float s = std::max(float(renderSize.width() / viewSize.width()), float(renderSize.height() / viewSize.height()));
    return {float((renderSize.width() / s) / viewSize.width()), float((renderSize.height() / s) / viewSize.height())};
}

QString QVTMTKView::fpsLabel(double measured, std::int32_t nominal)
{
    const QString text = QString::asprintf("%.0f", measured);
    const int value = text.toInt();
    if (value >= nominal - 1 && value <= nominal + 1)
        return QString::asprintf("%d fps", nominal);
    return text + " fps";
}

void QVTMTKView::rebuildQuads(QSizeF renderSize)
{
    const QPointF fit = fitQuad(renderSize, KavioRenderingSupport::unpackSize(viewSize_.load()));
    quadBuffer_ = quad(float(fit.x()), float(fit.y()));
    quadBufferOverlay_ = quad(1, 1);
}

std::shared_ptr<GpuTexture> QVTMTKView::clearTextureWithSize(QSizeF size)
{
    const auto w = std::uint32_t(size.width()), h = std::uint32_t(size.height());
    if (w == 0 || h == 0)
        return nullptr;
    if (!cleartexture_ || cleartexture_->width() != w || cleartexture_->height() != h)
        cleartexture_ = gpu_.device()->newTexture({GpuPixelFormat::BGRA8Unorm, w, h});
    if (cleartexture_)
        cleartexture_->clearToZero();
    return cleartexture_;
}

bool QVTMTKView::renderIfCanAtTime(double time)
{
    auto manager = manager_.lock();
    if (!manager || manager->isLoadingProject() || !gpu_.device())
        return false;
    gpu_.createCurrentCommandBuffer();
    auto buffer = gpu_.currentCommandBuffer();
    if (!buffer)
        return false;
    double mark = now();
    auto lap = [&](Phase phase) {
        const double t = now();
        phases_[phase].store(t - mark);
        mark = t;
    };

    manager->createCurrentTextureAtTime(time);
    std::shared_ptr<GpuTexture> picture;
    if (shouldClear_.exchange(false))
        picture = clearTextureWithSize(KavioRenderingSupport::unpackSize(viewSize_.load()));
    else
        picture = manager->textureName();
    auto outputs = manager->videoOutputManager();
    const QSizeF renderSize = outputs ? outputs->renderSize() : QSizeF();
    if (shouldUpdateVertex_.exchange(false))
        rebuildQuads(renderSize);
    if (!picture)
        picture = gpu_.clearTextureWithSize(renderSize.width(), renderSize.height());
    lap(Compose);

    if (outputs && !manager->shouldSkipRenderingBecauseOfProcessingJump())
        outputs->renderWithTexture(picture);
    lap(Outputs);

    texture_.store(picture);
    if (!tempdisablerenderingpreview_.load())
        drawPreview(*manager);
    lap(Preview);

    buffer->commit();
    buffer->waitUntilScheduled();
    lap(Commit);

    if (outputs)
        outputs->presentDrawables();
    if (drawable_) {
        drawable_->present();
        drawable_.reset();
    }
    lap(Present);

    measureFrameRate(manager->renderingFPS());
    return true;
}

void QVTMTKView::drawPreview(KavioVideoItemManagerInterface& manager)
{
    auto picture = texture_.load();
    if (!picture || !layer_ || !pipelineState_)
        return;
    if (KavioAddons::isMainQueueOrIsMainThread()) {
        KLOG_ERROR("--- skip drawing on the main thread!");
        return;
    }
    auto buffer = gpu_.currentCommandBuffer();
    drawable_ = layer_->nextDrawable();
    if (!buffer || !drawable_)
        return;
    // The picture over the checkerboard, in the fitted quad, on the clear colour.
    if (!drawQuad(*buffer, {drawable_->texture(), GpuLoadAction::Clear, {0.2, 0.2, 0.2, 1.0}}, pipelineState_, picture,
                  quadBuffer_)) {
        KLOG_ERROR("no renderpass");
        return;
    }
    if (!displayCueTimeOverlay_.load() && !displayRenderingFPS_.load())
        return;
    const QSizeF bounds = KavioRenderingSupport::unpackSize(viewSize_.load());
    auto overlay = manager.overlayPreviewTextureForSize(
        QSizeF(std::round(float(bounds.width())), std::round(float(bounds.height()))), true, renderingfps());
    if (!overlay || !pipelineStateOverlay_)
        return;
    // The overlay blended over the whole view, keeping the picture drawn above.
    if (!drawQuad(*buffer, {drawable_->texture(), GpuLoadAction::Load, {0, 0, 0, 0}}, pipelineStateOverlay_, overlay,
                  quadBufferOverlay_))
        KLOG_ERROR("no overlayRenderPass");
}

bool QVTMTKView::drawQuad(GpuCommandBuffer& buffer, const GpuRenderPassDescriptor& pass,
                          const std::shared_ptr<GpuRenderPipeline>& pipeline, const std::shared_ptr<GpuTexture>& texture,
                          const std::array<float, 16>& quad)
{
    auto encoder = buffer.renderCommandEncoder(pass);
    if (!encoder)
        return false;
    encoder->setRenderPipelineState(pipeline);
    encoder->setFragmentTexture(texture, 0);
    encoder->setVertexBytes(quad.data(), sizeof(float) * quad.size(), 0);
    encoder->drawPrimitives(GpuPrimitiveType::TriangleStrip, 0, 4);
    encoder->endEncoding();
    return true;
}

void QVTMTKView::measureFrameRate(std::int32_t nominal)
{
    const double t = now();
    fpscount_ += 1;
    fps_time_last_ = fps_time_elapsed_;
    fps_time_elapsed_ = t - fpsStart_;
    fpsStart_ = t;
    fps_average_ += float(0.9 * fps_time_elapsed_ + 0.1 * fps_time_last_);
    const double elapsed = t - render_time_started_;
    if (elapsed < 1.0)
        return;
    render_time_started_ = t;
    const double measured = elapsed / (double(fps_average_) / fpscount_);
    renderingfps_.store(std::make_shared<const QString>(fpsLabel(measured, nominal)));
    fpscount_ = 0;
    fps_average_ = 0;
}
