#include "Rendering/KavioRenderingSupport.h"

#include "Log.h"
#include "PixelPacking.h"

#include <cmath>

namespace KavioRenderingSupport {

bool isUsableSize(QSizeF size)
{
    return size.width() >= 1.0 && size.height() >= 1.0 && size.width() <= kMaxRenderSide
           && size.height() <= kMaxRenderSide;
}

std::string sizeText(QSizeF size)
{
    return "{" + std::to_string(long(size.width())) + ", " + std::to_string(long(size.height())) + "}";
}

std::uint64_t packSize(QSizeF size)
{
    return (std::uint64_t(std::uint32_t(size.width())) << 32) | std::uint32_t(size.height());
}

QSizeF unpackSize(std::uint64_t packed)
{
    return QSizeF(double(packed >> 32), double(packed & 0xffffffffu));
}

std::shared_ptr<GpuRenderPipeline> makePipeline(GpuLibrary& library, const std::string& vertexFunction,
                                                std::shared_ptr<GpuFunction> fragmentFunction, GpuPixelFormat format,
                                                const std::string& label)
{
    GpuRenderPipelineDescriptor descriptor;
    descriptor.label = label;
    descriptor.vertexFunction = library.newFunction(vertexFunction);
    descriptor.fragmentFunction = std::move(fragmentFunction);
    descriptor.colorPixelFormat = format;
    std::string error;
    auto pipeline = library.newRenderPipelineState(descriptor, &error);
    if (!pipeline)
        KLOG_ERROR("Error: Failed to created pipeline state in {}: {}", label, error);
    return pipeline;
}

std::uint16_t halfBits(float value)
{
    return PixelPacking::halfFromFloat(value);
}

}  // namespace KavioRenderingSupport
