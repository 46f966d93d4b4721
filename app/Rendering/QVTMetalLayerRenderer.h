#pragma once
// One cue's layer on the GPU: the frame converted to RGB at its own size when the source is
// YUV or is deinterlaced (pass 1, into an intermediate texture), then placed, scaled, rotated,
// moved, colour-corrected, cropped and faded into the layer texture (pass 2).
//
// Pass 2 maps each corner p of the full-target quad to (p, 1)·M with M = Ms·Mr·T (scale with
// the sizing mode, then rotation in square pixels, then translation), about the layer's centre
// or, with transform origin 1, its top-left corner. The shaders are compiled once per variant
// of the three constants YUV_TO_RGB, HIGH_BIT_DEPTH and DEINTERLACE.
//
// Threads: made on any thread (it waits for its pipelines); renderWithTexture runs on the
// render thread inside the frame step; setRenderSize may come from the main thread and only
// records the size: textures are remade on the render thread at the next frame.

#include "Rendering/QVTMetalLayerRendererInterface.h"

#include "GpuTypes.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

class GpuRenderPipeline;
class QVTMetalManager;

class QVTMetalLayerRenderer : public QVTMetalLayerRendererInterface {
public:
    // A renderer on the manager's device, ready to render; logs "QVTMetalLayerRenderer is ready
    // (yuvToRGB=%d deinterlace=%d size={w, h})". Without a device it has no pipelines and
    // renders nothing. `shouldFlip` draws the source upside down (frame-sharing sources).
    QVTMetalLayerRenderer(QSizeF outputSize, bool yuvToRGB, bool highBitDepth, bool shouldFlip, bool deinterlace,
                          QVTMetalManager& manager);
    QVTMetalLayerRenderer(QSizeF outputSize, bool yuvToRGB, bool highBitDepth, bool shouldFlip, bool deinterlace);

    // A missing source or a source whose size cannot make the picture is skipped (logged once
    // until a frame renders again); the layer keeps its last picture. An unknown colour space
    // keeps the previous matrix (BT.709 on the first frame) and logs "Error: Unknown
    // colorspace %d" once per run of unknown codes.
    void renderWithTexture(const std::shared_ptr<GpuTexture>& source, const QVTLayerSettings& settings) override;
    // Planes whose textures are missing, of the wrong formats or sizes for the layout, are
    // skipped like a missing source. The conversion's pipeline for the layout's plane
    // arrangement is built at its first frame and kept.
    void renderWithPlanes(const QVTPlaneTextures& planes, const QVTLayerSettings& settings) override;
    // A zero size or a side over 16384 is logged and ignored.
    void setRenderSize(QSizeF size) override;
    QSizeF renderSize() const override;
    void setInputSize(QSizeF size) override;
    std::shared_ptr<GpuTexture> texture() const override { return texture_.load(); }
    bool isYUV() const override { return yuvToRGB_; }
    bool textureIsBlank() const override { return textureisblank_.load(); }
    void clearTexture() override;
    void removeResources() override;

    // The intermediate texture's size: zero until the first converted frame. Render thread.
    QSizeF inputSize() const { return inputSize_; }

    // The 3 x 3 matrix M of pass 2, columns first, for a source of (sw, sh) in a layer of
    // (lw, lh). Pure.
    static std::array<float, 9> transformMatrix(double sourceWidth, double sourceHeight, double layerWidth,
                                                double layerHeight, const QVTLayerSettings& settings);
    // The 32-byte pixel-conversion record of colour space 0 (BT.709) or 1 (BT.2020); false
    // for any other code. Pure.
    static bool pixelConversionRecord(std::int32_t colorspace, std::uint8_t (&record)[32]);
    // The plane conversion's record for a picture of that layout and size: three rows that
    // take (Y, Cb, Cr, 1) as sampled (normalised over the whole 8 or 16 bits) to R, G and B;
    // the alpha scale and offset; and the map from the picture's uv to the chroma planes' uv
    // by the siting. Pure.
    using PlaneRecord = std::array<float, 20>;
    static PlaneRecord planeConversionRecord(const VideoFramePlanes& layout, int width, int height);

private:
    void skipFrame(const char* why);
    void renderPicture(const std::shared_ptr<GpuTexture>& picture, const QVTLayerSettings& settings);
    std::shared_ptr<GpuTexture> intermediateTexture(std::uint64_t width, std::uint32_t height);
    std::shared_ptr<GpuTexture> convertPlanes(const QVTPlaneTextures& planes);
    const std::shared_ptr<GpuRenderPipeline>& planePipeline(const VideoFramePlanes& layout);
    void makeIntermediateTexture(std::uint32_t width, std::uint32_t height);
    bool ensureLayerTexture();
    std::shared_ptr<GpuTexture> convert(const std::shared_ptr<GpuTexture>& source, std::int32_t colorspace);

    QVTMetalManager& manager_;
    bool yuvToRGB_;
    bool highBitDepth_;
    bool pixelConversionEnabled_;
    bool deinterlace_;
    GpuPixelFormat format_;
    std::array<float, 16> quad_;
    std::shared_ptr<GpuRenderPipeline> pixelConversionPipeline_;
    std::shared_ptr<GpuRenderPipeline> transformPipeline_;

    std::atomic<std::uint64_t> renderSize_{0};  // width in the high, height in the low 32 bits
    std::atomic<std::shared_ptr<GpuTexture>> texture_;
    std::atomic<bool> textureisblank_{true};
    std::atomic<std::uint64_t> requestedInputSize_{0};  // as renderSize_

    // Render thread only.
    QSizeF inputSize_;
    std::shared_ptr<GpuTexture> pcTexture_;
    std::uint8_t pixelConversionUniforms_[32] = {};
    std::shared_ptr<GpuRenderPipeline> planePipelines_[4];  // by interleaved chroma, alpha
    std::int32_t loggedUnknownColorspace_ = -1;
    bool loggedSkip_ = false;
};
