#pragma once
// The layer renderer as a cue holds it: one frame of the cue's source in, the cue's layer (a
// texture of the render size) out. The cue makes its renderers through make(), which uses the
// installed factory: by default the GPU renderer (QVTMetalLayerRenderer); tests install their
// own.

#include "VideoFrame.h"

#include <QSizeF>

#include <cstdint>
#include <functional>
#include <memory>

class GpuTexture;

// What the cue hands its layer renderer with each frame.
struct QVTLayerSettings {
    float pixelAspectRatio = 1.0f;
    std::int32_t colorspace = 0;       // 0 BT.709, 1 BT.2020
    std::int32_t sizingMode = 0;       // 0 fit, 1 fill, 2 stretch, 3 native size
    std::int32_t transformOrigin = 0;  // 1 the top-left corner, any other value the centre
    float scaleX = 1.0f, scaleY = 1.0f;
    float translationX = 0.0f, translationY = 0.0f;  // shares of the layer: 1 moves by all of it
    float rotation = 0.0f;                            // degrees, clockwise on screen
    float brightness = 0.0f, contrast = 0.0f, hue = 0.0f, vibrance = 0.0f;  // 0 changes nothing
    float saturation = 1.0f;  // a factor: 1 keeps the colours, 0 makes them grey
    float cropTop = 0.0f, cropRight = 0.0f, cropBottom = 0.0f, cropLeft = 0.0f;  // shares of half the layer
    float opacity = 1.0f;
};

// A picture given as its decoder's planes, uploaded into one texture each: luma (R8Unorm or
// R16Unorm), then Cb and Cr (same format, chroma size) or the Cb, Cr pairs (RG8Unorm or
// RG16Unorm), then alpha when the layout has it. `layout` says how to convert them; its data
// pointers are not used.
struct QVTPlaneTextures {
    std::shared_ptr<GpuTexture> textures[VideoFramePlanes::kMaxPlanes];
    VideoFramePlanes layout;
};

class QVTMetalLayerRendererInterface {
public:
    using Factory = std::function<std::shared_ptr<QVTMetalLayerRendererInterface>(
        QSizeF outputSize, bool yuvToRGB, bool highBitDepth, bool shouldFlip, bool deinterlace)>;

    // A renderer from the installed factory. Any thread.
    static std::shared_ptr<QVTMetalLayerRendererInterface> make(QSizeF outputSize, bool yuvToRGB, bool highBitDepth,
                                                                bool shouldFlip, bool deinterlace);
    // Replaces the factory (an empty one restores the GPU renderer). At start or in tests,
    // before any cue makes a renderer.
    static void setFactory(Factory factory);

    virtual ~QVTMetalLayerRendererInterface() = default;

    // Encodes the frame into the current frame's command buffer; never commits. Render thread.
    virtual void renderWithTexture(const std::shared_ptr<GpuTexture>& source, const QVTLayerSettings& settings) = 0;
    // The same for a picture given as planes: converted to RGB in the first pass with the
    // planes' own matrix, range, depth and chroma siting (the settings' colour space is not
    // used), whatever the renderer was made for. Render thread.
    virtual void renderWithPlanes(const QVTPlaneTextures& planes, const QVTLayerSettings& settings) = 0;
    // Records the layer size; the texture follows at the next render. Any thread.
    virtual void setRenderSize(QSizeF size) = 0;
    // Records the size of the pictures the renderer will be given (a zero size is ignored);
    // the intermediate texture is made for it at the next render, and from then on follows
    // each frame's own size. Any thread.
    virtual void setInputSize(QSizeF size) = 0;
    virtual QSizeF renderSize() const = 0;
    // The layer texture (nullptr without a GPU). Any thread.
    virtual std::shared_ptr<GpuTexture> texture() const = 0;
    virtual bool isYUV() const = 0;
    // True from creation and from every new layer size until a frame has been rendered.
    virtual bool textureIsBlank() const = 0;
    // Fills the layer texture with zeros.
    virtual void clearTexture() = 0;
    // Drops the textures; the owner calls it before dropping the renderer.
    virtual void removeResources() = 0;
};
