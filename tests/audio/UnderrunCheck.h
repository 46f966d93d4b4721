#pragma once
// Stalls an output's render callback well past what its server buffers, twice, and expects the
// stream to count an under-run each time.

#include "AudioBackend.h"
#include "AudioWait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

inline void expectEachStallCountedAsAnUnderrun(AudioBackend& backend, AudioDeviceID device,
                                               std::chrono::milliseconds stallFor) {
    std::atomic<int> rendered{0};
    std::atomic<bool> stall{false};
    auto output = backend.openOutput(device, 2, [&](float* const*, uint32_t, uint32_t) {
        ++rendered;
        if (stall.exchange(false)) std::this_thread::sleep_for(stallFor);
    });
    ASSERT_TRUE(output);
    ASSERT_TRUE(output->start());
    ASSERT_TRUE(waitUntil([&] { return rendered.load() > 5; }));
    for (int stalled = 1; stalled <= 2; ++stalled) {
        const uint64_t before = output->underruns();
        stall.store(true);
        EXPECT_TRUE(waitUntil([&] { return output->underruns() > before; }, 30))
            << "stall " << stalled << ": still " << output->underruns();
    }
    output->stop();
    EXPECT_GE(output->underruns(), 2u);
}
