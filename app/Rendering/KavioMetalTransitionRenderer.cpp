#include "Rendering/KavioMetalTransitionRenderer.h"

#include "Cue/KavioVideoItem.h"
#include "Rendering/KavioRenderingSupport.h"
#include "Rendering/QVTMetalManager.h"

#include "Log.h"

std::shared_ptr<KavioMetalTransitionRendererInterface> KavioMetalTransitionRendererInterface::make(QSizeF outputSize,
                                                                                                   bool highBitDepth,
                                                                                                   std::int32_t type)
{
    if (const auto& factory = KavioRenderingSupport::installedFactory<Factory>())
        return factory(outputSize, highBitDepth, type);
    return std::make_shared<KavioMetalTransitionRenderer>(outputSize, highBitDepth, type);
}

void KavioMetalTransitionRendererInterface::setFactory(Factory factory)
{
    KavioRenderingSupport::installedFactory<Factory>() = std::move(factory);
}

const char* KavioMetalTransitionRenderer::fragmentFunctionForType(std::int32_t type)
{
    switch (type) {
    case KavioTransitionTypeWipeRight:
        return "fragmentShaderTransitionWipeRight";
    case KavioTransitionTypeWipeLeft:
        return "fragmentShaderTransitionWipeLeft";
    case KavioTransitionTypeWipeUp:
        return "fragmentShaderTransitionWipeUp";
    case KavioTransitionTypeWipeDown:
        return "fragmentShaderTransitionWipeDown";
    case KavioTransitionTypeRipple:
        return "fragmentShaderTransitionRipple";
    default:
        return "fragmentShaderTransitionDissolve";
    }
}

KavioMetalTransitionRenderer::KavioMetalTransitionRenderer(QSizeF outputSize, bool highBitDepth, std::int32_t type)
    : KavioMetalTransitionRenderer(outputSize, highBitDepth, type, QVTMetalManager::sharedManager())
{
}

KavioMetalTransitionRenderer::KavioMetalTransitionRenderer(QSizeF outputSize, bool highBitDepth, std::int32_t type,
                                                           QVTMetalManager& manager)
    : manager_(manager)
    , highBitDepth_(highBitDepth)
{
    const auto& library = manager_.library();
    if (!manager_.device() || !library)
        return;
    const bool known = type == KavioTransitionTypeDissolve || type == KavioTransitionTypeWipeRight
                       || type == KavioTransitionTypeWipeLeft || type == KavioTransitionTypeWipeUp
                       || type == KavioTransitionTypeWipeDown || type == KavioTransitionTypeRipple;
    if (!known)
        KLOG_ERROR("KavioMetalTransitionRenderer: unknown transition type {}, dissolving instead", type);
    pipelineState_ = KavioRenderingSupport::makePipeline(
        *library, "vertexShaderDisplay", library->newFunction(fragmentFunctionForType(type)),
        highBitDepth ? GpuPixelFormat::RGBA16Float : GpuPixelFormat::BGRA8Unorm, "KavioMetalTransitionRenderer");
    setRenderSize(outputSize);
}

void KavioMetalTransitionRenderer::setRenderSize(QSizeF size)
{
    if (!KavioRenderingSupport::isUsableSize(size)) {
        KLOG_ERROR("KavioMetalTransitionRenderer: render size {} refused", KavioRenderingSupport::sizeText(size));
        return;
    }
    if (size == renderSize_ && texture_)
        return;
    auto device = manager_.device();
    if (!device)
        return;
    renderSize_ = size;
    texture_ = device->newTexture({highBitDepth_ ? GpuPixelFormat::RGBA16Float : GpuPixelFormat::BGRA8Unorm,
                                   std::uint32_t(size.width()), std::uint32_t(size.height())});
}

void KavioMetalTransitionRenderer::render()
{
    auto buffer = manager_.currentCommandBuffer();
    if (!texture_ || !pipelineState_ || !buffer)
        return;
    auto source = sourceItem();
    auto destination = destinationItem();
    auto outgoing = source ? source->displayTexture() : nullptr;
    auto incoming = !destination ? nullptr : destination == source ? destination->helperTexture() : destination->displayTexture();
    if (!outgoing || !incoming) {
        if (!loggedSkip_)
            KLOG_ERROR("KavioMetalTransitionRenderer: missing texture, frame skipped");
        loggedSkip_ = true;
        return;
    }
    loggedSkip_ = false;
    auto encoder = buffer->renderCommandEncoder({texture_, GpuLoadAction::DontCare, {}});
    if (!encoder)
        return;
    KavioRenderingSupport::Record<16> record;
    record.putHalf(0, progress());
    record.putHalf(2, float(renderSize_.width()));
    record.putHalf(4, float(renderSize_.height()));
    encoder->setRenderPipelineState(pipelineState_);
    encoder->setVertexBytes(KavioRenderingSupport::kFullQuad.data(), sizeof(float) * 16, 0);
    encoder->setFragmentTexture(outgoing, 0);
    encoder->setFragmentTexture(incoming, 1);
    encoder->setFragmentBytes(record.bytes, 6, 0);
    encoder->drawPrimitives(GpuPrimitiveType::TriangleStrip, 0, 4);
    encoder->endEncoding();
}

void KavioMetalTransitionRenderer::removeResources()
{
    texture_.reset();
    sourceItem_.store({});
    destinationItem_.store({});
    pipelineState_.reset();
}
