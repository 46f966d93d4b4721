#pragma once
// The main window's picture preview, and the one per-frame render step of the program.
//
// Once per output frame the render clock calls renderIfCanAtTime (through
// renderClockDelegate()): it opens the frame's command buffer, has the cue list compose the
// frame, picks the picture (a blank frame when one was asked for, else the composed texture,
// else the zero texture of the render size), lets every output encode its pass (unless a jump
// is being processed), draws the preview (unless it is paused), commits and waits until the
// buffer is scheduled, then has every output present and presents the preview, so every
// screen flips the same frame. Nothing at all happens while a project loads.
//
// The preview is a QWindow on a GPU drawable layer: the picture is fitted into the window
// with its aspect ratio (letterbox or pillarbox) over a checkerboard, with the cue-time and
// frames-per-second overlay on top when the defaults "displayCueTimeOverlay" or
// "displayRenderingFPS" are on.
//
// Threads: made, shown, resized and destroyed on the main thread, which also sets the flags
// (shouldClear, viewDidResize, the pause). renderIfCanAtTime runs on the rendering thread and
// reads those flags and the two overlay defaults through atomics: the defaults are re-read on
// the main thread at each "KavioUpdateUI". Stop the render clock before destroying the view.

#include "Rendering/QVTMTKViewInterface.h"

#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QWindow>

#include <array>
#include <atomic>
#include <memory>

class DispatchQueue;
class GpuCommandBuffer;
struct GpuRenderPassDescriptor;
class GpuDrawable;
class GpuDrawableLayer;
class GpuRenderPipeline;
class GpuTexture;
class KavioVideoItemManagerInterface;
class QVTMetalManager;

class QVTMTKView : public QWindow {
    Q_OBJECT
public:
    // How long each phase of the last frame step took, in seconds (for the benchmarks).
    struct PhaseDurations {
        double compose = 0, outputs = 0, preview = 0, commit = 0, present = 0;
    };

    // Sets the view up with the user default "useHighBitDepthRendering". Without a GPU it
    // shows the alert "Metal is unsupported :(" and stays without pipelines (rendering then
    // answers NO).
    QVTMTKView(std::weak_ptr<KavioVideoItemManagerInterface> manager, QVTMetalManager& gpu, QWindow* parent = nullptr);
    explicit QVTMTKView(std::weak_ptr<KavioVideoItemManagerInterface> manager);
    ~QVTMTKView() override;

    // What the render clock holds (weakly) as its delegate and the cue list controller as its
    // preview view; it forwards to this view while the view lives.
    std::shared_ptr<QVTMTKViewInterface> renderClockDelegate() const;

    // The frame step; false when nothing was rendered (project loading, no GPU). Rendering
    // thread, never the main thread.
    bool renderIfCanAtTime(double time);

    // A blank frame (the view's zero texture) at the next frame step, on the preview and every
    // output, once.
    void setShouldClear(bool clear) { shouldClear_.store(clear); }
    bool shouldClear() const { return shouldClear_.load(); }
    // The picture quads are rebuilt at the next frame (the view or the render size changed).
    void viewDidResize() { shouldUpdateVertex_.store(true); }
    // Pause and resume the preview's own drawing (a window going full screen, the main window
    // occluded); logs "_tempdisablerenderingpreview on" / "... off". Outputs keep rendering.
    void handleWindowFullscreenWillChangeState();
    void handleWindowFullscreenDidChangeState();

    static constexpr long maxRenderSize() { return 16384; }

    // The picture of the last frame step.
    std::shared_ptr<GpuTexture> texture() const { return texture_.load(); }
    // The frames-per-second label handed to the overlay ("60 fps"); empty until the first
    // second has passed.
    QString renderingfps() const;
    PhaseDurations lastPhaseDurations() const;

    // The picture quad's half extents (x, y) in normalised coordinates for a render size in a
    // view: the picture keeps its aspect ratio and touches the view on two sides.
    static QPointF fitQuad(QSizeF renderSize, QSizeF viewSize);
    // The label for a measured rate: the nominal rate when the measure lies within one of it,
    // else the measure ("%.0f fps").
    static QString fpsLabel(double measured, std::int32_t nominal);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    class Delegate;
    void drawPreview(KavioVideoItemManagerInterface& manager);
    // One textured quad into the pass's target; false when the pass cannot be opened.
    static bool drawQuad(GpuCommandBuffer& buffer, const GpuRenderPassDescriptor& pass,
                         const std::shared_ptr<GpuRenderPipeline>& pipeline, const std::shared_ptr<GpuTexture>& texture,
                         const std::array<float, 16>& quad);
    std::shared_ptr<GpuTexture> clearTextureWithSize(QSizeF size);
    void rebuildQuads(QSizeF renderSize);
    void measureFrameRate(std::int32_t nominal);
    void readOverlayDefaults();

    std::weak_ptr<KavioVideoItemManagerInterface> manager_;
    QVTMetalManager& gpu_;
    std::shared_ptr<Delegate> delegate_;
    std::shared_ptr<GpuDrawableLayer> layer_;
    std::shared_ptr<GpuRenderPipeline> pipelineState_;
    std::shared_ptr<GpuRenderPipeline> pipelineStateOverlay_;
    std::unique_ptr<DispatchQueue> serialqueue_;

    // Main thread writes, rendering thread reads.
    std::atomic<bool> shouldClear_{false};
    std::atomic<bool> shouldUpdateVertex_{true};
    std::atomic<bool> tempdisablerenderingpreview_{false};
    std::atomic<bool> displayCueTimeOverlay_{false};
    std::atomic<bool> displayRenderingFPS_{false};
    std::atomic<std::uint64_t> viewSize_{0};  // logical size, KavioRenderingSupport::packSize
    std::atomic<double> pixelRatio_{1.0};

    // Rendering thread.
    std::atomic<std::shared_ptr<GpuTexture>> texture_;
    std::shared_ptr<GpuDrawable> drawable_;
    std::shared_ptr<GpuTexture> cleartexture_;
    std::array<float, 16> quadBuffer_{};
    std::array<float, 16> quadBufferOverlay_{};
    float fps_average_ = 0;
    std::int32_t fpscount_ = 0;
    double fps_time_elapsed_ = 0, fps_time_last_ = 0, fpsStart_ = 0;
    double render_time_started_ = 0;
    std::atomic<std::shared_ptr<const QString>> renderingfps_;
    std::atomic<double> phases_[5] = {0, 0, 0, 0, 0};
};
