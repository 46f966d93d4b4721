#include "AEDSPUtilities.h"
#include "AudioTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(AEDSPApplyGain, ScalesOrSilencesOnlyTheGivenFrames) {
    struct Case {
        float gain;
        float expected;  // for an input of 2
    };
    for (const Case& c : {Case{0.0f, 0.0f}, Case{-0.5f, 0.0f}, Case{0.5f, 1.0f}, Case{1e-8f, 0.0f}, Case{3.0f, 6.0f}}) {
        OwnedList list(2, 8);
        list.fill([](uint32_t, uint32_t) { return 2.0f; });
        AEDSPApplyGain(list.list, c.gain, 5);
        for (uint32_t ch = 0; ch < 2; ++ch) {
            EXPECT_EQ(list[ch][0], c.expected) << "gain " << c.gain;
            EXPECT_EQ(list[ch][4], c.expected) << "gain " << c.gain;
            EXPECT_EQ(list[ch][5], 2.0f) << "frame past the count changed, gain " << c.gain;
        }
    }
}

TEST(AEDSPMix, OrdersInputsSoThatOnlyOneIsScaled) {
    struct Case {
        float gainA, gainB;
        float expectedOut;   // a = 4, b = 8
        float expectedB;     // b afterwards
    };
    for (const Case& c : {Case{1.0f, 0.5f, 4 + 4, 8}, Case{0.25f, 0.5f, 1 + 4, 4}, Case{1.0f, 1.0f, 12, 8},
                          Case{0.5f, 0.0f, 2, 0}}) {
        OwnedList a(2, 16), b(2, 16), out(2, 16);
        a.fill([](uint32_t, uint32_t) { return 4.0f; });
        b.fill([](uint32_t, uint32_t) { return 8.0f; });
        AEDSPMix(a.list, b.list, c.gainA, c.gainB, false, 16, out.list);
        for (uint32_t ch = 0; ch < 2; ++ch) {
            EXPECT_FLOAT_EQ(out[ch][15], c.expectedOut) << c.gainA << "/" << c.gainB;
            EXPECT_FLOAT_EQ(b[ch][15], c.expectedB) << c.gainA << "/" << c.gainB;
            EXPECT_FLOAT_EQ(a[ch][15], 4.0f);
        }
    }
}

TEST(AEDSPMix, MonoToStereoSpreadsTheMonoInput) {
    for (bool spread : {true, false}) {
        OwnedList mono(1, 4), stereo(2, 4), out(2, 4);
        mono.fill([](uint32_t, uint32_t) { return 1.0f; });
        stereo.fill([](uint32_t c, uint32_t) { return c == 0 ? 10.0f : 20.0f; });
        AEDSPMix(mono.list, stereo.list, 1.0f, 1.0f, spread, 0, out.list);
        EXPECT_EQ(out[0][3], 11.0f);
        EXPECT_EQ(out[1][3], spread ? 21.0f : 20.0f);
    }
}

TEST(AEDSPMix, OneBufferOutputReceivesEveryFurtherBuffer) {
    OwnedList a(2, 4), b(3, 4), out(1, 4);
    a.fill([](uint32_t c, uint32_t) { return float(c + 1); });         // 1, 2
    b.fill([](uint32_t c, uint32_t) { return float(10 * (c + 1)); });  // 10, 20, 30
    AEDSPMix(a.list, b.list, 0.5f, 1.0f, false, 4, out.list);
    EXPECT_FLOAT_EQ(out[0][2], 0.5f * 1 + 10 + 0.5f * 2 + 20 + 30);
}

TEST(AEDSPApplyGainWithRamp, RampsFromSilenceToUnityIn128Frames) {
    OwnedList list(2, 512);
    list.fill([](uint32_t, uint32_t) { return 1.0f; });
    float current = 0;
    AEDSPApplyGainWithRamp(list.list, 1.0f, &current, 512, 0);
    EXPECT_FLOAT_EQ(current, 1.0f);
    for (uint32_t ch = 0; ch < 2; ++ch) {
        EXPECT_FLOAT_EQ(list[ch][0], 0.0f);
        EXPECT_FLOAT_EQ(list[ch][64], 0.5f);
        EXPECT_FLOAT_EQ(list[ch][127], 127.0f / 128.0f);
        EXPECT_FLOAT_EQ(list[ch][128], 1.0f);
        EXPECT_FLOAT_EQ(list[ch][511], 1.0f);
    }
}

TEST(AEDSPApplyGainWithRamp, SmallStepsJumpAndLongRampsStayUnfinished) {
    OwnedList list(1, 64);
    list.fill([](uint32_t, uint32_t) { return 1.0f; });
    float current = 0.5f;
    AEDSPApplyGainWithRamp(list.list, 0.505f, &current, 64, 0);  // within 1/128: jump to the target
    EXPECT_FLOAT_EQ(current, 0.505f);
    EXPECT_FLOAT_EQ(list[0][0], 0.505f);

    list.fill([](uint32_t, uint32_t) { return 1.0f; });
    current = 1.0f;
    AEDSPApplyGainWithRamp(list.list, 0.0f, &current, 64, 0);  // needs 128 frames, gets 64
    EXPECT_FLOAT_EQ(current, 0.5f);
    EXPECT_FLOAT_EQ(list[0][63], 1.0f - 63.0f / 128.0f);
}

TEST(AEDSPApplyEqualPowerRamp, FollowsASineEnvelopeBeyondTheSharedScratch) {
    constexpr uint32_t kFrames = 5000;  // longer than the shared scratch
    OwnedList list(2, kFrames);
    list.fill([](uint32_t, uint32_t) { return 1.0f; });
    float position = 0;
    const float step = 1.0f / kFrames;
    AEDSPApplyEqualPowerRamp(list.list, &position, step, kFrames, nullptr);
    EXPECT_NEAR(position, 1.0f, 1e-4);
    for (uint32_t k : {0u, 2500u, 4096u, 4999u})
        EXPECT_NEAR(list[1][k], std::sin(float(M_PI) / 2 * float(k) * step), 1e-4) << k;
}

TEST(AEDSPApplyVolumeAndBalance, BalanceRightAttenuatesTheLeftChannel) {
    OwnedList list(2, 256);
    list.fill([](uint32_t, uint32_t) { return 1.0f; });
    float volume = 1, balance = 0.5f;
    AEDSPApplyVolumeAndBalance(list.list, 1.0f, 0.5f, &volume, &balance, 256);
    EXPECT_FLOAT_EQ(list[0][255], 0.5f);
    EXPECT_FLOAT_EQ(list[1][255], 1.0f);
}

TEST(AEDSPCrossfade, MovesLinearlyFromAToB) {
    OwnedList a(1, 5), b(1, 5), out(1, 5), mismatched(2, 5);
    a.fill([](uint32_t, uint32_t) { return 0.0f; });
    b.fill([](uint32_t, uint32_t) { return 1.0f; });
    AEDSPCrossfade(a.list, b.list, out.list, 5);
    EXPECT_FLOAT_EQ(out[0][0], 0.0f);
    EXPECT_FLOAT_EQ(out[0][2], 0.5f);
    EXPECT_FLOAT_EQ(out[0][4], 1.0f);
    mismatched.fill([](uint32_t, uint32_t) { return 9.0f; });
    AEDSPCrossfade(a.list, b.list, mismatched.list, 5);  // refused: buffer counts differ
    EXPECT_EQ(mismatched[0][2], 9.0f);
}

}  // namespace
