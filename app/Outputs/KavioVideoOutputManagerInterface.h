#pragma once
// What the cue list controller and the preview's frame step ask of the video output manager.
// The output manager implements it; tests give recording fakes.

#include <QSizeF>

#include <memory>

class GpuTexture;

class KavioVideoOutputManagerInterface {
public:
    virtual ~KavioVideoOutputManagerInterface() = default;

    // --- Cue list controller ------------------------------------------------------------------
    // Second stage of the manager's start-up, called once by the controller's. Main thread.
    virtual void initManager() = 0;

    // --- The frame step (render thread) -----------------------------------------------------
    // Every online output encodes its pass of the frame's picture into the frame's command
    // buffer; never commits.
    virtual void renderWithTexture(const std::shared_ptr<GpuTexture>& texture) = 0;
    // Every output presents its drawable; called once the frame's buffer is scheduled.
    virtual void presentDrawables() = 0;

    // --- Settings (any thread) ----------------------------------------------------------------
    // The outputs' canvas in pixels.
    virtual QSizeF renderSize() const = 0;
    // Pictures are rendered in half-float RGBA (the user default "useHighBitDepthRendering",
    // read once at start); fixed for the process.
    virtual bool useHighBitDepthRendering() const = 0;
};
