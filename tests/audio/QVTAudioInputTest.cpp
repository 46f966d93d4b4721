// The LTC audio input on the null backend's hand-run capture cycles.

#include "Audio/QVTAudioInput.h"
#include "NullAudioBackend.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

class QVTAudioInputTest : public testing::Test {
protected:
    void SetUp() override {
        backend = std::make_shared<NullAudioBackend>();
        quad = backend->addDevice("quad", "Quad", 4, 0, 48000);
        mic = backend->addDevice("mic", "Mic", 1, 0, 44100);
        backend->setDefaultInputDevice(mic);
    }
    void attach(QVTAudioInput& input) {
        input.setDelegate([this](const float* samples) { blocks.emplace_back(samples, samples + 512); });
    }
    // Interleaved frames whose sample (frame f, channel c) is base + c + 10 * f.
    static std::vector<float> frames(uint32_t channels, uint32_t count, float base) {
        std::vector<float> samples(channels * count);
        for (uint32_t f = 0; f < count; ++f)
            for (uint32_t c = 0; c < channels; ++c) samples[f * channels + c] = base + float(c) + 10.0f * float(f);
        return samples;
    }

    std::shared_ptr<NullAudioBackend> backend;
    AudioDeviceID quad = 0, mic = 0;
    std::vector<std::vector<float>> blocks;
};

TEST_F(QVTAudioInputTest, TakesTheChosenChannelAcrossBuffers) {
    QVTAudioInput input("quad", backend);
    EXPECT_EQ(input.device(), quad);
    EXPECT_EQ(input.deviceChannelCount(), 4u);
    EXPECT_EQ(input.deviceSampleRate(), 48000.0);
    attach(input);
    const auto first = frames(2, 512, 0), second = frames(2, 512, 1000);
    const AudioCaptureBuffer buffers[2] = {{first.data(), 2, 512}, {second.data(), 2, 512}};
    struct Case {
        int channel;
        float expected0, expected1;
    };
    for (const Case& c : {Case{2, 1000, 1010}, Case{0, 0, 10}, Case{3, 1001, 1011}, Case{4, 0, 0}, Case{-1, 0, 0}}) {
        blocks.clear();
        input.setInputChannel(c.channel);
        ASSERT_TRUE(backend->captureCycle(quad, buffers));
        ASSERT_EQ(blocks.size(), 1u) << c.channel;
        EXPECT_EQ(blocks[0][0], c.expected0) << c.channel;
        EXPECT_EQ(blocks[0][1], c.expected1) << c.channel;
    }
}

TEST_F(QVTAudioInputTest, CyclesOfAnySizeAreReblockedInto512) {
    QVTAudioInput input("quad", backend);
    attach(input);
    input.setInputChannel(1);
    uint32_t sent = 0;
    for (uint32_t size : {256u, 256u, 100u, 700u, 1u, 2047u}) {
        std::vector<float> samples(size * 4);
        for (uint32_t f = 0; f < size; ++f) samples[f * 4 + 1] = float(sent + f);
        const AudioCaptureBuffer buffer{samples.data(), 4, size};
        backend->captureCycle(quad, std::span(&buffer, 1));
        sent += size;
    }
    ASSERT_EQ(blocks.size(), sent / 512);
    for (size_t b = 0; b < blocks.size(); ++b)
        for (size_t k = 0; k < 512; k += 97) EXPECT_EQ(blocks[b][k], float(b * 512 + k));
}

TEST_F(QVTAudioInputTest, DeviceChoiceAndDelegateChanges) {
    QVTAudioInput input("nowhere", backend);
    EXPECT_EQ(input.device(), mic);  // unknown UID: the default input
    EXPECT_EQ(input.deviceSampleRate(), 44100.0);
    input.setDeviceUID("quad");
    EXPECT_EQ(input.device(), quad);
    input.setDeviceUID("quad");  // the same again changes nothing
    EXPECT_EQ(input.device(), quad);
    const auto samples = frames(4, 512, 0);
    const AudioCaptureBuffer buffer{samples.data(), 4, 512};
    EXPECT_TRUE(backend->captureCycle(quad, std::span(&buffer, 1)));  // no delegate: nothing
    attach(input);
    backend->captureCycle(quad, std::span(&buffer, 1));
    input.setDelegate(nullptr);
    backend->captureCycle(quad, std::span(&buffer, 1));
    EXPECT_EQ(blocks.size(), 1u);
    input.removeResources();
    EXPECT_FALSE(backend->captureCycle(quad, std::span(&buffer, 1)));
}

}  // namespace
