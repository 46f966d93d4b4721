#pragma once
// A transition renderer for tests and benchmarks without a GPU.

#include "Rendering/KavioMetalTransitionRendererInterface.h"

#include <atomic>
#include <memory>

// A transition renderer that keeps what it is given and renders nothing.
class FakeTransition : public KavioMetalTransitionRendererInterface {
public:
    std::shared_ptr<KavioVideoItem> sourceItem() const override { return source_.lock(); }
    void setSourceItem(const std::shared_ptr<KavioVideoItem>& item) override { source_ = item; }
    std::shared_ptr<KavioVideoItem> destinationItem() const override { return destination_.lock(); }
    void setDestinationItem(const std::shared_ptr<KavioVideoItem>& item) override { destination_ = item; }
    double duration() const override { return duration_; }
    void setDuration(double seconds) override { duration_ = seconds; }
    float progress() const override { return progress_; }
    void setProgress(float progress) override { progress_ = progress; }
    void setRenderSize(QSizeF) override {}
    QSizeF renderSize() const override { return {}; }
    void render() override {}
    std::shared_ptr<GpuTexture> texture() const override { return nullptr; }
    void removeResources() override {}

private:
    std::weak_ptr<KavioVideoItem> source_, destination_;
    std::atomic<double> duration_{1.0};
    std::atomic<float> progress_{0.0f};
};
