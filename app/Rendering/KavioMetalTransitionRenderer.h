#pragma once
// One frame of a transition between two cues, drawn into a texture of its own: the outgoing
// cue's displayTexture as texture 0, the incoming one's as texture 1 (its helperTexture when
// the cue crosses into its own next pass), and the record (progress, width, height as 16-bit
// floats) as fragment buffer 0. The shaders are hard-edged at the progress p, which they clamp
// to 0..1: dissolve mixes; a wipe shows the incoming picture where x < p (right), x > 1 − p
// (left), the distance from the bottom < p (up) or from the top < p (down); ripple displaces
// both samples radially about the centre by 0.03·sin(πp)·sin(40r − 20p), then mixes.
//
// Threads: made on any thread; setRenderSize, render and texture on the render thread; the
// plain properties are atomics, written by the main thread or the controller's pass.

#include "Rendering/KavioMetalTransitionRendererInterface.h"

#include "GpuTypes.h"

#include <atomic>
#include <memory>

class GpuRenderPipeline;
class QVTMetalManager;

class KavioMetalTransitionRenderer : public KavioMetalTransitionRendererInterface {
public:
    // The fragment function of a transition code; dissolve's for a code outside the table.
    static const char* fragmentFunctionForType(std::int32_t type);

    // A renderer of that code on the manager's device. A code outside the table builds the
    // dissolve (drawing nothing would put an undefined picture on air) and logs it once.
    KavioMetalTransitionRenderer(QSizeF outputSize, bool highBitDepth, std::int32_t type, QVTMetalManager& manager);
    KavioMetalTransitionRenderer(QSizeF outputSize, bool highBitDepth, std::int32_t type);

    std::shared_ptr<KavioVideoItem> sourceItem() const override { return sourceItem_.load().lock(); }
    void setSourceItem(const std::shared_ptr<KavioVideoItem>& item) override { sourceItem_.store(item); }
    std::shared_ptr<KavioVideoItem> destinationItem() const override { return destinationItem_.load().lock(); }
    void setDestinationItem(const std::shared_ptr<KavioVideoItem>& item) override { destinationItem_.store(item); }
    double duration() const override { return duration_.load(); }
    void setDuration(double seconds) override { duration_.store(seconds); }
    float progress() const override { return progress_.load(); }
    void setProgress(float progress) override { progress_.store(progress); }
    // A zero size or a side over 16384 is logged and ignored.
    void setRenderSize(QSizeF size) override;
    QSizeF renderSize() const override { return renderSize_; }
    // Nothing without an output texture; a missing picture skips the frame (logged once until
    // a frame renders again) and the output keeps its last picture.
    void render() override;
    std::shared_ptr<GpuTexture> texture() const override { return texture_; }
    void removeResources() override;

private:
    QVTMetalManager& manager_;
    bool highBitDepth_;
    std::shared_ptr<GpuRenderPipeline> pipelineState_;
    std::atomic<std::weak_ptr<KavioVideoItem>> sourceItem_;
    std::atomic<std::weak_ptr<KavioVideoItem>> destinationItem_;
    std::atomic<double> duration_{0.0};
    std::atomic<float> progress_{0.0f};
    QSizeF renderSize_;
    std::shared_ptr<GpuTexture> texture_;
    bool loggedSkip_ = false;
};
