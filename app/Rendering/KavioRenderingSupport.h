#pragma once
// Small pieces the renderers share: the full-target quads, sizes kept in one atomic word,
// uniform records written byte by byte, and pipeline creation with its log.

#include "GpuLibrary.h"

#include <QSizeF>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace KavioRenderingSupport {

// The largest side of any render or layer texture (the preview's maxRenderSize).
constexpr double kMaxRenderSide = 16384.0;

// Four vertices (position x, y, texture u, v) as a triangle strip: bottom-left, bottom-right,
// top-left, top-right. The flipped quad shows the source upside down.
constexpr std::array<float, 16> kFullQuad = {-1, -1, 0, 1, 1, -1, 1, 1, -1, 1, 0, 0, 1, 1, 1, 0};
constexpr std::array<float, 16> kFlippedQuad = {-1, -1, 0, 0, 1, -1, 1, 0, -1, 1, 0, 1, 1, 1, 1, 1};

// Whole pixels, both sides from 1 to kMaxRenderSide.
bool isUsableSize(QSizeF size);
// "{w, h}" as the logs show sizes.
std::string sizeText(QSizeF size);
// A size cut to whole pixels in one word, so threads exchange it without a lock.
std::uint64_t packSize(QSizeF size);
QSizeF unpackSize(std::uint64_t packed);

// A pipeline of the library's vertex function and the given fragment function, drawing into
// `format`; nullptr, with the error logged under `label`, when it cannot be built.
std::shared_ptr<GpuRenderPipeline> makePipeline(GpuLibrary& library, const std::string& vertexFunction,
                                                std::shared_ptr<GpuFunction> fragmentFunction, GpuPixelFormat format,
                                                const std::string& label);

// A uniform record laid out byte by byte, little-endian, zero where nothing is written.
template <std::size_t N>
struct Record {
    alignas(16) std::uint8_t bytes[N] = {};
    void putFloat(std::size_t offset, float value) { std::memcpy(bytes + offset, &value, 4); }
    void putHalf(std::size_t offset, float value);
};

std::uint16_t halfBits(float value);

// The installed factory of a renderer interface (empty: the GPU renderer). One per Factory type.
template <typename Factory>
Factory& installedFactory()
{
    static Factory factory;
    return factory;
}

template <std::size_t N>
void Record<N>::putHalf(std::size_t offset, float value)
{
    const std::uint16_t half = halfBits(value);
    bytes[offset] = std::uint8_t(half & 0xff);
    bytes[offset + 1] = std::uint8_t(half >> 8);
}

}  // namespace KavioRenderingSupport
