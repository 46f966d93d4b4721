#pragma once
// The transition renderer as a cue holds it: the outgoing and incoming cues' pictures crossed
// at a progress into a texture of the render size. A cue makes its renderer through make(),
// which uses the installed factory: by default the GPU renderer (KavioMetalTransitionRenderer);
// tests install their own.

#include <QSizeF>

#include <cstdint>
#include <functional>
#include <memory>

class GpuTexture;
class KavioVideoItem;

class KavioMetalTransitionRendererInterface {
public:
    using Factory = std::function<std::shared_ptr<KavioMetalTransitionRendererInterface>(
        QSizeF outputSize, bool highBitDepth, std::int32_t type)>;

    // A renderer from the installed factory for a transition code (KavioTransitionType). Any
    // thread.
    static std::shared_ptr<KavioMetalTransitionRendererInterface> make(QSizeF outputSize, bool highBitDepth,
                                                                       std::int32_t type);
    // Replaces the factory (an empty one restores the GPU renderer). At start or in tests.
    static void setFactory(Factory factory);

    virtual ~KavioMetalTransitionRendererInterface() = default;

    // The outgoing and incoming cues, held weakly.
    virtual std::shared_ptr<KavioVideoItem> sourceItem() const = 0;
    virtual void setSourceItem(const std::shared_ptr<KavioVideoItem>& item) = 0;
    virtual std::shared_ptr<KavioVideoItem> destinationItem() const = 0;
    virtual void setDestinationItem(const std::shared_ptr<KavioVideoItem>& item) = 0;
    // The transition's length in seconds, kept for the callers.
    virtual double duration() const = 0;
    virtual void setDuration(double seconds) = 0;
    // 0 shows the outgoing picture, 1 the incoming one; passed on unclamped.
    virtual float progress() const = 0;
    virtual void setProgress(float progress) = 0;
    // Remakes the output texture when the size changed. Render thread.
    virtual void setRenderSize(QSizeF size) = 0;
    virtual QSizeF renderSize() const = 0;
    // Encodes one transition frame into the current frame's command buffer. Render thread.
    virtual void render() = 0;
    // The output texture; nullptr without a GPU. Render thread.
    virtual std::shared_ptr<GpuTexture> texture() const = 0;
    // Drops the texture, both cues and the pipeline.
    virtual void removeResources() = 0;
};
