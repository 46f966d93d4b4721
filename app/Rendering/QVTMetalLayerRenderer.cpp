#include "Rendering/QVTMetalLayerRenderer.h"

#include "Rendering/QVTMetalManager.h"
#include "Rendering/KavioRenderingSupport.h"

#include "Log.h"

#include <cmath>
#include <cstring>

namespace {

// Four groups of four coefficients: R, G, B, then zero; each multiplies (Y, Cb, Cr, 1).
constexpr float kBT709[12] = {1.1640625f, 0.0f, 1.79296875f, -0.96923828125f,
                              1.1640625f, -0.2130126953125f, -0.5341796875f, 0.30078125f,
                              1.1640625f, 2.115234375f, 0.0f, -1.1298828125f};
constexpr float kBT2020[12] = {1.1640625f, -0.02880859375f, 3.291015625f, -1.7041015625f,
                               1.1640625f, -0.2587890625f, -0.82861328125f, 0.470947265625f,
                               1.1640625f, 2.38671875f, 0.021087646484375f, -1.27734375f};

// 3 x 3 matrices in the row-vector convention: m[i][j] is entry i of column j, and p·(A·B)
// applies A first.
struct Mat3 {
    float m[3][3];
    static Mat3 fromColumns(std::array<float, 3> c0, std::array<float, 3> c1, std::array<float, 3> c2)
    {
        Mat3 r{};
        for (int i = 0; i < 3; ++i) {
            r.m[i][0] = c0[std::size_t(i)];
            r.m[i][1] = c1[std::size_t(i)];
            r.m[i][2] = c2[std::size_t(i)];
        }
        return r;
    }
    Mat3 operator*(const Mat3& b) const
    {
        Mat3 r{};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    r.m[i][j] += m[i][k] * b.m[k][j];
        return r;
    }
};

// Moves the top-left corner (-1, 1) to the origin, and back.
const Mat3 kPivot = Mat3::fromColumns({1, 0, 1}, {0, 1, -1}, {0, 0, 1});
const Mat3 kPivotInverse = Mat3::fromColumns({1, 0, -1}, {0, 1, 1}, {0, 0, 1});

}  // namespace

// ---------------------------------------------------------------------------------------------
// The factory

std::shared_ptr<QVTMetalLayerRendererInterface> QVTMetalLayerRendererInterface::make(QSizeF outputSize, bool yuvToRGB,
                                                                                     bool highBitDepth, bool shouldFlip,
                                                                                     bool deinterlace)
{
    if (const auto& factory = KavioRenderingSupport::installedFactory<Factory>())
        return factory(outputSize, yuvToRGB, highBitDepth, shouldFlip, deinterlace);
    return std::make_shared<QVTMetalLayerRenderer>(outputSize, yuvToRGB, highBitDepth, shouldFlip, deinterlace);
}

void QVTMetalLayerRendererInterface::setFactory(Factory factory)
{
    KavioRenderingSupport::installedFactory<Factory>() = std::move(factory);
}

// ---------------------------------------------------------------------------------------------
// QVTMetalLayerRenderer

QVTMetalLayerRenderer::QVTMetalLayerRenderer(QSizeF outputSize, bool yuvToRGB, bool highBitDepth, bool shouldFlip,
                                             bool deinterlace)
    : QVTMetalLayerRenderer(outputSize, yuvToRGB, highBitDepth, shouldFlip, deinterlace, QVTMetalManager::sharedManager())
{
}

QVTMetalLayerRenderer::QVTMetalLayerRenderer(QSizeF outputSize, bool yuvToRGB, bool highBitDepth, bool shouldFlip,
                                             bool deinterlace, QVTMetalManager& manager)
    : manager_(manager)
    , yuvToRGB_(yuvToRGB)
    , highBitDepth_(highBitDepth)
    , pixelConversionEnabled_(yuvToRGB || deinterlace)
    , deinterlace_(deinterlace)
    , format_(highBitDepth ? GpuPixelFormat::RGBA16Float : GpuPixelFormat::BGRA8Unorm)
    , quad_(shouldFlip ? KavioRenderingSupport::kFlippedQuad : KavioRenderingSupport::kFullQuad)
{
    pixelConversionRecord(0, pixelConversionUniforms_);
    const auto& library = manager_.library();
    if (!manager_.device() || !library)
        return;
    GpuFunctionConstants constants;
    constants.setBool("YUV_TO_RGB", yuvToRGB);
    constants.setBool("HIGH_BIT_DEPTH", highBitDepth);
    constants.setBool("DEINTERLACE", deinterlace);
    if (pixelConversionEnabled_)
        pixelConversionPipeline_ = KavioRenderingSupport::makePipeline(
            *library, "vertexShaderDisplay", library->newFunction("fragmentShaderPixelConversion", constants), format_,
            "QVTMetalLayerRenderer pixel conversion");
    transformPipeline_ = KavioRenderingSupport::makePipeline(
        *library, "vertexShaderTransform", library->newFunction("fragmentShaderTransform", constants), format_,
        "QVTMetalLayerRenderer transform");
    setRenderSize(outputSize);
    ensureLayerTexture();
    KLOG_INFO("QVTMetalLayerRenderer is ready (yuvToRGB={:d} deinterlace={:d} size={})", int(yuvToRGB),
              int(deinterlace), KavioRenderingSupport::sizeText(outputSize));
}

void QVTMetalLayerRenderer::setRenderSize(QSizeF size)
{
    if (!KavioRenderingSupport::isUsableSize(size)) {
        KLOG_ERROR("QVTMetalLayerRenderer: render size {} refused", KavioRenderingSupport::sizeText(size));
        return;
    }
    const std::uint64_t packed = KavioRenderingSupport::packSize(size);
    if (renderSize_.exchange(packed) != packed)
        textureisblank_.store(true);
}

QSizeF QVTMetalLayerRenderer::renderSize() const
{
    return KavioRenderingSupport::unpackSize(renderSize_.load());
}

bool QVTMetalLayerRenderer::ensureLayerTexture()
{
    const QSizeF size = renderSize();
    auto current = texture_.load();
    if (current && current->width() == std::uint32_t(size.width()) && current->height() == std::uint32_t(size.height()))
        return true;
    auto device = manager_.device();
    if (!device || size.isEmpty())
        return false;
    auto texture = device->newTexture({format_, std::uint32_t(size.width()), std::uint32_t(size.height())});
    if (!texture)
        return false;
    texture->setLabel("QVTMetalLayerRenderer layer");
    texture_.store(std::move(texture));
    return true;
}

void QVTMetalLayerRenderer::setInputSize(QSizeF size)
{
    if (KavioRenderingSupport::isUsableSize(size))
        requestedInputSize_.store(KavioRenderingSupport::packSize(size));
}

void QVTMetalLayerRenderer::makeIntermediateTexture(std::uint32_t width, std::uint32_t height)
{
    const QSizeF size(width, height);
    if (size == inputSize_ || size.isEmpty())
        return;
    inputSize_ = size;
    pcTexture_ = manager_.device()->newTexture({format_, width, height});
    KLOG_INFO("new _pcTexture, size: {}", KavioRenderingSupport::sizeText(size));
}

bool QVTMetalLayerRenderer::pixelConversionRecord(std::int32_t colorspace, std::uint8_t (&record)[32])
{
    const float* table = colorspace == 0 ? kBT709 : colorspace == 1 ? kBT2020 : nullptr;
    if (!table)
        return false;
    std::memset(record, 0, sizeof record);
    for (int i = 0; i < 12; ++i) {
        const std::uint16_t half = KavioRenderingSupport::halfBits(table[i]);
        record[2 * i] = std::uint8_t(half & 0xff);
        record[2 * i + 1] = std::uint8_t(half >> 8);
    }
    return true;
}

std::shared_ptr<GpuTexture> QVTMetalLayerRenderer::intermediateTexture(std::uint64_t width, std::uint32_t height)
{
    if (width == 0 || width > KavioRenderingSupport::kMaxRenderSide)
        return nullptr;
    if (const std::uint64_t requested = requestedInputSize_.exchange(0)) {
        const QSizeF size = KavioRenderingSupport::unpackSize(requested);
        makeIntermediateTexture(std::uint32_t(size.width()), std::uint32_t(size.height()));
    }
    if (!pcTexture_ || pcTexture_->width() != width || pcTexture_->height() != height)
        makeIntermediateTexture(std::uint32_t(width), height);
    return pcTexture_;
}

std::shared_ptr<GpuTexture> QVTMetalLayerRenderer::convert(const std::shared_ptr<GpuTexture>& source,
                                                           std::int32_t colorspace)
{
    // The picture's width in pixels: '2vuy' holds two pixels a texel, 'v210' six.
    const std::uint32_t perTexel = !yuvToRGB_                                             ? 1
                                   : source->pixelFormat() == GpuPixelFormat::RGBA32Uint ? 6
                                   : source->pixelFormat() == GpuPixelFormat::RGBA8Unorm ? 2
                                                                                          : 0;
    if (!intermediateTexture(std::uint64_t(source->width()) * perTexel, source->height()))
        return nullptr;

    if (!pixelConversionRecord(colorspace, pixelConversionUniforms_)) {
        if (loggedUnknownColorspace_ != colorspace)
            KLOG_ERROR("Error: Unknown colorspace {}", colorspace);
        loggedUnknownColorspace_ = colorspace;
    } else {
        loggedUnknownColorspace_ = -1;
    }
    auto encoder = manager_.currentCommandBuffer()->renderCommandEncoder({pcTexture_, GpuLoadAction::DontCare, {}});
    if (!encoder)
        return nullptr;
    encoder->setRenderPipelineState(pixelConversionPipeline_);
    encoder->setVertexBytes(quad_.data(), sizeof(float) * quad_.size(), 0);
    encoder->setFragmentTexture(source, 0);
    encoder->setFragmentBytes(pixelConversionUniforms_, sizeof pixelConversionUniforms_, 0);
    encoder->drawPrimitives(GpuPrimitiveType::TriangleStrip, 0, 4);
    encoder->endEncoding();
    return pcTexture_;
}

std::array<float, 9> QVTMetalLayerRenderer::transformMatrix(double sourceWidth, double sourceHeight, double layerWidth,
                                                            double layerHeight, const QVTLayerSettings& s)
{
    const float sw = float(sourceWidth), sh = float(sourceHeight);
    const float lw = float(layerWidth), lh = float(layerHeight);
    const float as = (sw / sh) * s.pixelAspectRatio;
    const float al = lw / lh;
    float fx = 1.0f, fy = 1.0f;
    if (s.sizingMode == 0 && al > as)
        fx = as / al;
    else if (s.sizingMode == 0 && as > al)
        fy = al / as;
    else if (s.sizingMode == 1 && as > al)
        fx = as / al;
    else if (s.sizingMode == 1 && al > as)
        fy = al / as;
    else if (s.sizingMode == 3) {
        fx = sw / lw;
        fy = sh / lh;
    }
    fx *= s.scaleX;
    fy *= s.scaleY;
    const bool topLeft = s.transformOrigin == 1;

    const Mat3 scaling = Mat3::fromColumns({fx, 0, 0}, {0, fy, 0}, {0, 0, 1});
    const Mat3 ms = topLeft ? kPivot * scaling * kPivotInverse : scaling;

    const float theta = float(double(s.rotation) * M_PI / -180.0);
    const Mat3 rotation = Mat3::fromColumns({std::cos(theta), -std::sin(theta), 0}, {std::sin(theta), std::cos(theta), 0},
                                            {0, 0, 1});
    const Mat3 toSquare = Mat3::fromColumns({1, 0, 0}, {0, 1 / al, 0}, {0, 0, 1});
    const Mat3 fromSquare = Mat3::fromColumns({1, 0, 0}, {0, al, 0}, {0, 0, 1});
    Mat3 mr = toSquare * rotation * fromSquare;
    if (topLeft)
        mr = kPivot * mr * kPivotInverse;

    const Mat3 translation =
        Mat3::fromColumns({1, 0, 2 * s.translationX}, {0, 1, 2 * s.translationY}, {0, 0, 1});
    const Mat3 m = ms * mr * translation;
    std::array<float, 9> columns{};
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i)
            columns[std::size_t(3 * j + i)] = m.m[i][j];
    return columns;
}

QVTMetalLayerRenderer::PlaneRecord QVTMetalLayerRenderer::planeConversionRecord(const VideoFramePlanes& layout, int width,
                                                                               int height)
{
    double kr = 0.2126, kb = 0.0722;
    switch (layout.matrixForSize(height)) {
    case MediaColorMatrix::ITU_R_601:
        kr = 0.299, kb = 0.114;
        break;
    case MediaColorMatrix::ITU_R_2020:
        kr = 0.2627, kb = 0.0593;
        break;
    case MediaColorMatrix::SMPTE_240M:
        kr = 0.212, kb = 0.087;
        break;
    default:
        break;
    }
    const double kg = 1.0 - kr - kb;
    // A sample arrives as n = stored / (2^(8 x bytes) - 1); its code at its own depth is n x codes.
    const double codes = (layout.bytesPerSample == 2 ? 65535.0 : 255.0) / std::ldexp(1.0, layout.sampleShift);
    const double maxCode = std::ldexp(1.0, layout.bitDepth) - 1.0;
    const double unit = std::ldexp(1.0, layout.bitDepth - 8);
    double yScale = codes / maxCode, yOffset = 0.0;
    double cScale = codes / maxCode, cOffset = -std::ldexp(1.0, layout.bitDepth - 1) / maxCode;
    if (!layout.fullRange) {
        yScale = codes / (219.0 * unit), yOffset = -16.0 / 219.0;
        cScale = codes / (224.0 * unit), cOffset = -128.0 / 224.0;
    }
    const double crR = 2.0 * (1.0 - kr), cbB = 2.0 * (1.0 - kb);
    const double cbG = -2.0 * kb * (1.0 - kb) / kg, crG = -2.0 * kr * (1.0 - kr) / kg;

    // Where a luma pixel's centre falls among the chroma texels: chroma sited at the first
    // luma sample of its group lies half a luma pixel less a half group to the left (or up).
    auto axis = [](int size, int chromaSize, int shift, int sited) {
        const double group = std::ldexp(1.0, shift);
        const double offset = sited * (0.5 - 0.5 / group);
        return std::pair{float(size / (group * chromaSize)), float(offset / chromaSize)};
    };
    const MediaChromaSiting siting = layout.siting;
    const bool left = siting == MediaChromaSiting::Left || siting == MediaChromaSiting::TopLeft
                      || siting == MediaChromaSiting::BottomLeft;
    const int vertical = siting == MediaChromaSiting::TopLeft || siting == MediaChromaSiting::Top       ? 1
                         : siting == MediaChromaSiting::BottomLeft || siting == MediaChromaSiting::Bottom ? -1
                                                                                                          : 0;
    const auto [scaleX, offsetX] = axis(width, layout.chromaWidth(width), layout.chromaShiftX, left ? 1 : 0);
    const auto [scaleY, offsetY] = axis(height, layout.chromaHeight(height), layout.chromaShiftY, vertical);
    return {float(yScale), 0.0f, float(crR * cScale), float(yOffset + crR * cOffset),
            float(yScale), float(cbG * cScale), float(crG * cScale), float(yOffset + (cbG + crG) * cOffset),
            float(yScale), float(cbB * cScale), 0.0f, float(yOffset + cbB * cOffset),
            float(codes / maxCode), 0.0f, 0.0f, 0.0f,
            scaleX, scaleY, offsetX, offsetY};
}

const std::shared_ptr<GpuRenderPipeline>& QVTMetalLayerRenderer::planePipeline(const VideoFramePlanes& layout)
{
    auto& pipeline = planePipelines_[(layout.interleavedChroma ? 2 : 0) + (layout.hasAlpha ? 1 : 0)];
    const auto& library = manager_.library();
    if (!pipeline && library) {
        GpuFunctionConstants constants;
        constants.setBool("INTERLEAVED_CHROMA", layout.interleavedChroma);
        constants.setBool("HAS_ALPHA", layout.hasAlpha);
        constants.setBool("DEINTERLACE", deinterlace_);
        pipeline = KavioRenderingSupport::makePipeline(*library, "vertexShaderDisplay",
                                                       library->newFunction("fragmentShaderPlaneConversion", constants),
                                                       format_, "QVTMetalLayerRenderer plane conversion");
    }
    return pipeline;
}

std::shared_ptr<GpuTexture> QVTMetalLayerRenderer::convertPlanes(const QVTPlaneTextures& planes)
{
    const VideoFramePlanes& layout = planes.layout;
    const auto& luma = planes.textures[0];
    const int count = (layout.interleavedChroma ? 2 : 3) + (layout.hasAlpha ? 1 : 0);
    if (!luma || layout.count != count || (layout.bytesPerSample != 1 && layout.bytesPerSample != 2)
        || layout.bitDepth < 8 || layout.sampleShift < 0 || layout.bitDepth + layout.sampleShift > 8 * layout.bytesPerSample)
        return nullptr;
    const bool wide = layout.bytesPerSample == 2;
    const GpuPixelFormat single = wide ? GpuPixelFormat::R16Unorm : GpuPixelFormat::R8Unorm;
    const GpuPixelFormat pairs = wide ? GpuPixelFormat::RG16Unorm : GpuPixelFormat::RG8Unorm;
    const int width = int(luma->width()), height = int(luma->height());
    auto fits = [&](int index, GpuPixelFormat format, bool chroma) {
        const auto& texture = planes.textures[index];
        return texture && texture->pixelFormat() == format
               && int(texture->width()) == (chroma ? layout.chromaWidth(width) : width)
               && int(texture->height()) == (chroma ? layout.chromaHeight(height) : height);
    };
    bool ok = fits(0, single, false);
    if (layout.interleavedChroma)
        ok = ok && fits(1, pairs, true);
    else
        ok = ok && fits(1, single, true) && fits(2, single, true);
    if (layout.hasAlpha)
        ok = ok && fits(count - 1, single, false);
    if (!ok || !planePipeline(layout) || !intermediateTexture(std::uint64_t(width), std::uint32_t(height)))
        return nullptr;

    auto encoder = manager_.currentCommandBuffer()->renderCommandEncoder({pcTexture_, GpuLoadAction::DontCare, {}});
    if (!encoder)
        return nullptr;
    const PlaneRecord record = planeConversionRecord(layout, width, height);
    encoder->setRenderPipelineState(planePipeline(layout));
    encoder->setVertexBytes(quad_.data(), sizeof(float) * quad_.size(), 0);
    for (int i = 0; i < count; ++i)
        encoder->setFragmentTexture(planes.textures[i], i);
    encoder->setFragmentBytes(record.data(), sizeof(float) * record.size(), 0);
    encoder->drawPrimitives(GpuPrimitiveType::TriangleStrip, 0, 4);
    encoder->endEncoding();
    return pcTexture_;
}

void QVTMetalLayerRenderer::skipFrame(const char* why)
{
    if (!loggedSkip_)
        KLOG_ERROR("QVTMetalLayerRenderer: frame skipped, {}", why);
    loggedSkip_ = true;
}

void QVTMetalLayerRenderer::renderWithTexture(const std::shared_ptr<GpuTexture>& source, const QVTLayerSettings& settings)
{
    if (!transformPipeline_ || (pixelConversionEnabled_ && !pixelConversionPipeline_))
        return skipFrame("no pipeline");
    if (!source)
        return skipFrame("missing texture");
    if (!manager_.currentCommandBuffer() || !ensureLayerTexture())
        return skipFrame("no command buffer or layer texture");

    std::shared_ptr<GpuTexture> picture = source;
    if (pixelConversionEnabled_) {
        picture = convert(source, settings.colorspace);
        if (!picture)
            return skipFrame("the source's width does not fit its packing");
    }
    renderPicture(picture, settings);
}

void QVTMetalLayerRenderer::renderWithPlanes(const QVTPlaneTextures& planes, const QVTLayerSettings& settings)
{
    if (!transformPipeline_)
        return skipFrame("no pipeline");
    if (!manager_.currentCommandBuffer() || !ensureLayerTexture())
        return skipFrame("no command buffer or layer texture");
    if (auto picture = convertPlanes(planes))
        return renderPicture(picture, settings);
    skipFrame("planes missing, or not of their layout's formats and sizes");
}

void QVTMetalLayerRenderer::renderPicture(const std::shared_ptr<GpuTexture>& picture, const QVTLayerSettings& settings)
{
    auto layer = texture_.load();
    auto encoder = manager_.currentCommandBuffer()->renderCommandEncoder({layer, GpuLoadAction::Clear, {0, 0, 0, 0}});
    if (!encoder)
        return skipFrame("no render pass");

    const auto m = transformMatrix(picture->width(), picture->height(), layer->width(), layer->height(), settings);
    KavioRenderingSupport::Record<96> record;
    for (int column = 0; column < 3; ++column)
        for (int i = 0; i < 3; ++i)
            record.putFloat(std::size_t(16 * column + 4 * i), m[std::size_t(3 * column + i)]);
    record.putFloat(48, settings.cropTop);
    record.putFloat(52, settings.cropRight);
    record.putFloat(56, settings.cropBottom);
    record.putFloat(60, settings.cropLeft);
    record.putFloat(64, float(layer->width()));
    record.putFloat(68, float(layer->height()));
    record.putHalf(72, settings.brightness);
    record.putHalf(74, settings.contrast);
    record.putHalf(76, settings.opacity);
    record.putHalf(78, settings.hue);
    record.putHalf(80, settings.saturation);
    record.putHalf(82, settings.vibrance);

    encoder->setRenderPipelineState(transformPipeline_);
    encoder->setVertexBytes(quad_.data(), sizeof(float) * quad_.size(), 0);
    encoder->setVertexBytes(record.bytes, sizeof record.bytes, 1);
    encoder->setFragmentTexture(picture, 0);
    encoder->setFragmentBytes(record.bytes, sizeof record.bytes, 0);
    encoder->drawPrimitives(GpuPrimitiveType::TriangleStrip, 0, 4);
    encoder->endEncoding();
    textureisblank_.store(false);
    loggedSkip_ = false;
}

void QVTMetalLayerRenderer::clearTexture()
{
    if (auto texture = texture_.load())
        texture->clearToZero();
}

void QVTMetalLayerRenderer::removeResources()
{
    texture_.store(nullptr);
    pcTexture_.reset();
}
