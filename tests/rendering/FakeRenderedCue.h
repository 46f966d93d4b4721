#pragma once
// A cue whose pictures the test sets: what the cue frames concern will supply.

#include "CueTestSupport.h"
#include "Cue/KavioVideoItem.h"

class FakeRenderedCue : public KavioVideoItem {
public:
    explicit FakeRenderedCue(std::shared_ptr<GpuTexture> picture = nullptr)
        : KavioVideoItem([](const QVTOSCMessage&) {})
        , display(std::move(picture))
    {
    }
    std::shared_ptr<GpuTexture> display;
    std::shared_ptr<GpuTexture> helper;
    std::shared_ptr<GpuTexture> displayTexture() const override { return display; }
    std::shared_ptr<GpuTexture> helperTexture() const override { return helper; }
};
