#pragma once
// What the output suites share: a frame encoded on a thread of its own (outputs refuse to draw
// on the main thread) and run to completion, and a red-left, blue-right picture.

#include "RenderingTestSupport.h"

#include <thread>

class OutputsTest : public RenderingTest {
protected:
    // Opens the frame's command buffer, runs `encode` on a rendering thread, commits and waits
    // until the GPU and every completion handler are done.
    template <typename Encode>
    void renderFrame(Encode encode)
    {
        std::thread([&] {
            manager->createCurrentCommandBuffer();
            encode();
            auto buffer = manager->currentCommandBuffer();
            buffer->commit();
            buffer->waitUntilCompleted();
        }).join();
    }

    // Red in the left half, blue in the right half.
    std::shared_ptr<GpuTexture> halves(std::uint32_t w, std::uint32_t h)
    {
        return filled(w, h, [w](std::uint32_t x, std::uint32_t) { return x < w / 2 ? kRed : kBlue; });
    }
};
