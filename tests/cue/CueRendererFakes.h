#pragma once
// Recording layer and transition renderers, installed as the renderers' factories for the life
// of a RecordingRenderers (the GPU renderers come back afterwards).

#include "Rendering/KavioMetalTransitionRendererInterface.h"
#include "Rendering/QVTMetalLayerRendererInterface.h"

#include <QSizeF>

#include <memory>
#include <vector>

struct RecordingLayerRenderer : QVTMetalLayerRendererInterface {
    QSizeF outputSize;
    bool yuvToRGB = false, highBitDepth = false, shouldFlip = false, deinterlace = false;
    QSizeF inputSize, layerSize;
    std::vector<QVTLayerSettings> renders;
    std::vector<std::shared_ptr<GpuTexture>> sources;
    bool blank = true;
    int clears = 0;

    void renderWithTexture(const std::shared_ptr<GpuTexture>& source, const QVTLayerSettings& settings) override
    {
        sources.push_back(source);
        renders.push_back(settings);
        blank = false;
    }
    void renderWithPlanes(const QVTPlaneTextures&, const QVTLayerSettings& settings) override
    {
        renders.push_back(settings);
        blank = false;
    }
    void setRenderSize(QSizeF size) override { layerSize = size; }
    void setInputSize(QSizeF size) override { inputSize = size; }
    QSizeF renderSize() const override { return layerSize; }
    std::shared_ptr<GpuTexture> texture() const override { return nullptr; }
    bool isYUV() const override { return yuvToRGB; }
    bool textureIsBlank() const override { return blank; }
    void clearTexture() override { ++clears; }
    void removeResources() override {}
};

struct RecordingTransitionRenderer : KavioMetalTransitionRendererInterface {
    QSizeF outputSize;
    bool highBitDepth = false;
    std::int32_t type = 0;
    std::weak_ptr<KavioVideoItem> source, destination;
    double length = 0.0;
    float progressValue = 0.0f;
    int removals = 0;

    std::shared_ptr<KavioVideoItem> sourceItem() const override { return source.lock(); }
    void setSourceItem(const std::shared_ptr<KavioVideoItem>& item) override { source = item; }
    std::shared_ptr<KavioVideoItem> destinationItem() const override { return destination.lock(); }
    void setDestinationItem(const std::shared_ptr<KavioVideoItem>& item) override { destination = item; }
    double duration() const override { return length; }
    void setDuration(double seconds) override { length = seconds; }
    float progress() const override { return progressValue; }
    void setProgress(float p) override { progressValue = p; }
    void setRenderSize(QSizeF) override {}
    QSizeF renderSize() const override { return outputSize; }
    void render() override {}
    std::shared_ptr<GpuTexture> texture() const override { return nullptr; }
    void removeResources() override { ++removals; }
};

// Every renderer made while it lives, in order of making.
struct RecordingRenderers {
    std::vector<std::shared_ptr<RecordingLayerRenderer>> layers;
    std::vector<std::shared_ptr<RecordingTransitionRenderer>> transitions;

    RecordingRenderers()
    {
        QVTMetalLayerRendererInterface::setFactory(
            [this](QSizeF size, bool yuv, bool highBitDepth, bool flip, bool deinterlace) {
                auto renderer = std::make_shared<RecordingLayerRenderer>();
                renderer->outputSize = size;
                renderer->yuvToRGB = yuv;
                renderer->highBitDepth = highBitDepth;
                renderer->shouldFlip = flip;
                renderer->deinterlace = deinterlace;
                layers.push_back(renderer);
                return renderer;
            });
        KavioMetalTransitionRendererInterface::setFactory([this](QSizeF size, bool highBitDepth, std::int32_t type) {
            auto renderer = std::make_shared<RecordingTransitionRenderer>();
            renderer->outputSize = size;
            renderer->highBitDepth = highBitDepth;
            renderer->type = type;
            transitions.push_back(renderer);
            return renderer;
        });
    }
    ~RecordingRenderers()
    {
        QVTMetalLayerRendererInterface::setFactory({});
        KavioMetalTransitionRendererInterface::setFactory({});
    }
    RecordingRenderers(const RecordingRenderers&) = delete;
    RecordingRenderers& operator=(const RecordingRenderers&) = delete;
};
