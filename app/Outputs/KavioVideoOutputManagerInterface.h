#pragma once
// What the preview's frame step asks of the video output manager. The output manager
// implements it; tests give a recording fake.

#include <QSizeF>

#include <memory>

class GpuTexture;

class KavioVideoOutputManagerInterface {
public:
    virtual ~KavioVideoOutputManagerInterface() = default;

    // --- The frame step (render thread) -----------------------------------------------------
    // Every online output encodes its pass of the frame's picture into the frame's command
    // buffer; never commits.
    virtual void renderWithTexture(const std::shared_ptr<GpuTexture>& texture) = 0;
    // Every output presents its drawable; called once the frame's buffer is scheduled.
    virtual void presentDrawables() = 0;

    // --- Settings (any thread) ----------------------------------------------------------------
    // The outputs' canvas in pixels.
    virtual QSizeF renderSize() const = 0;
    // The user default "useHighBitDepthRendering", read once at start.
    virtual bool useHighBitDepthRendering() const = 0;
};
