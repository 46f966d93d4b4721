#pragma once
// The one GPU device of the test run, made on the main thread by main().

#include "GpuDevice.h"

#include <memory>

namespace GpuTestDevice {
std::shared_ptr<GpuDevice>& device();
}

// Skips the test when this run has no OpenGL (no X display): rendering tests run under Xvfb.
#define REQUIRE_GPU_DEVICE()                                                                    \
    do {                                                                                        \
        if (!GpuTestDevice::device())                                                           \
            GTEST_SKIP() << "no OpenGL 3.3 device (run under xvfb-run -a)";                     \
    } while (0)
