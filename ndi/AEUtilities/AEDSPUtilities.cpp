#include "AEDSPUtilities.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {

constexpr float kEpsilon = 1.1920929e-07f;
constexpr float kSmoothingStep = 1.0f / 128.0f;
constexpr uint32_t kSharedScratchFrames = 4096;

float sharedScratch[kSharedScratchFrames];

float* samples(const AudioBufferList* list, uint32_t i) { return static_cast<float*>(list->mBuffers[i].mData); }

void scale(float* data, float gain, uint32_t frames) {
    for (uint32_t k = 0; k < frames; ++k) data[k] *= gain;
}

void rampMultiply(float* data, float start, float step, uint32_t frames) {
    for (uint32_t k = 0; k < frames; ++k) data[k] *= start + float(k) * step;
}

bool isUnity(float gain) { return std::fabs(gain - 1.0f) <= kEpsilon; }

// Which buffer of an input feeds output buffer i, or -1.
int sourceIndex(const AudioBufferList* input, uint32_t i, bool monoToStereo, const AudioBufferList* output) {
    if (i < input->mNumberBuffers) return int(i);
    if (monoToStereo && input->mNumberBuffers == 1 && output->mNumberBuffers == 2) return 0;
    return -1;
}

}  // namespace

void AEDSPApplyGain(const AudioBufferList* list, float gain, uint32_t frames) {
    for (uint32_t i = 0; i < list->mNumberBuffers; ++i) {
        if (gain < kEpsilon) std::memset(samples(list, i), 0, size_t(frames) * sizeof(float));
        else scale(samples(list, i), gain, frames);
    }
}

void AEDSPApplyRamp(const AudioBufferList* list, float* start, float step, uint32_t frames) {
    for (uint32_t i = 0; i < list->mNumberBuffers; ++i) rampMultiply(samples(list, i), *start, step, frames);
    *start += float(frames) * step;
}

void AEDSPApplyEqualPowerRamp(const AudioBufferList* list, float* position, float step, uint32_t frames,
                              float* scratch) {
    float* envelope = scratch ? scratch : sharedScratch;
    const uint32_t slice = scratch ? std::max(frames, 1u) : kSharedScratchFrames;
    constexpr float halfPi = std::numbers::pi_v<float> / 2;
    for (uint32_t done = 0; done < frames; done += slice) {
        const uint32_t n = std::min(slice, frames - done);
        for (uint32_t k = 0; k < n; ++k) envelope[k] = std::sin(halfPi * (*position + float(k) * step));
        for (uint32_t i = 0; i < list->mNumberBuffers; ++i) {
            float* data = samples(list, i) + done;
            for (uint32_t k = 0; k < n; ++k) data[k] *= envelope[k];
        }
        *position += float(n) * step;
    }
}

void AEDSPApplyGainWithRamp(const AudioBufferList* list, float targetGain, float* currentGain, uint32_t frames,
                            uint32_t rampDuration) {
    const float difference = std::fabs(targetGain - *currentGain);
    if (difference <= kSmoothingStep) {
        *currentGain = targetGain;
        if (!isUnity(targetGain)) AEDSPApplyGain(list, targetGain, frames);
        return;
    }
    const float duration = rampDuration ? float(rampDuration) : 128.0f;
    const auto rampFrames = uint32_t(std::min(duration * difference, float(frames)));
    float step = rampDuration ? 1.0f / float(rampDuration) : kSmoothingStep;
    if (!(targetGain > *currentGain)) step = -step;
    if (rampDuration >= 8193 && rampFrames > 0) {
        const float c = *currentGain;
        step = (std::pow(std::cbrt(c) + step * float(rampFrames), 3.0f) - c) / float(rampFrames);
    }
    AEDSPApplyRamp(list, currentGain, step, rampFrames);
    if (rampFrames < frames && !isUnity(targetGain)) {
        *currentGain = targetGain;
        for (uint32_t i = 0; i < list->mNumberBuffers; ++i)
            scale(samples(list, i) + rampFrames, targetGain, frames - rampFrames);
    }
}

void AEDSPApplyGainSmoothed(const AudioBufferList* list, float targetGain, float* currentGain, uint32_t frames) {
    AEDSPApplyGainWithRamp(list, targetGain, currentGain, frames, 0);
}

void AEDSPApplyGainSmoothedMono(float* data, float targetGain, float* currentGain, uint32_t frames) {
    const float difference = std::fabs(targetGain - *currentGain);
    if (difference <= kSmoothingStep) {
        if (targetGain < kEpsilon) std::memset(data, 0, size_t(frames) * sizeof(float));
        else if (!isUnity(targetGain)) scale(data, targetGain, frames);
        return;
    }
    const auto rampFrames = uint32_t(std::min(128.0f * difference, float(frames)));
    const float step = targetGain > *currentGain ? kSmoothingStep : -kSmoothingStep;
    rampMultiply(data, *currentGain, step, rampFrames);
    *currentGain += float(rampFrames) * step;
    if (!isUnity(targetGain)) scale(data + rampFrames, targetGain, frames - rampFrames);
}

void AEDSPApplyVolumeAndBalance(const AudioBufferList* list, float volume, float balance, float* currentVolume,
                                float* currentBalance, uint32_t frames) {
    float volumeNow = currentVolume ? *currentVolume : volume;
    const float balanceNow = currentBalance ? *currentBalance : balance;
    const bool balanced = std::fabs(balance) > kEpsilon || std::fabs(balanceNow) > kEpsilon;
    if (list->mNumberBuffers != 2 || !balanced) {
        AEDSPApplyGainWithRamp(list, volume, &volumeNow, frames, 0);
        if (currentVolume) *currentVolume = volumeNow;
        return;
    }
    const auto leftGain = [](float v, float b) { return v * (b > 0 ? 1 - b : 1); };
    const auto rightGain = [](float v, float b) { return v * (b < 0 ? 1 + b : 1); };
    float left = leftGain(volumeNow, balanceNow);
    float right = rightGain(volumeNow, balanceNow);
    AEDSPApplyGainSmoothedMono(samples(list, 0), leftGain(volume, balance), &left, frames);
    AEDSPApplyGainSmoothedMono(samples(list, 1), rightGain(volume, balance), &right, frames);
    const auto approach = [](float current, float target, float limit) {
        return current + std::clamp(target - current, -limit, limit);
    };
    if (currentVolume) *currentVolume = approach(*currentVolume, volume, float(frames) / 128.0f);
    if (currentBalance) *currentBalance = approach(*currentBalance, balance, float(frames) / 64.0f);
}

void AEDSPMix(const AudioBufferList* a, const AudioBufferList* b, float gainA, float gainB, bool monoToStereo,
              uint32_t frames, const AudioBufferList* output) {
    if (frames == 0 && output->mNumberBuffers > 0) frames = output->mBuffers[0].mDataByteSize / sizeof(float);

    // Order the inputs so that the second is always used at unity gain.
    const AudioBufferList* first = a;
    const AudioBufferList* second = b;
    float gain = gainA;
    if (gainA == 1.0f && gainB != 1.0f) {
        first = b;
        second = a;
        gain = gainB;
    } else if (gainB != 1.0f) {
        AEDSPApplyGain(b, gainB, frames);
    }

    const size_t bytes = size_t(frames) * sizeof(float);
    for (uint32_t i = 0; i < output->mNumberBuffers; ++i) {
        float* out = samples(output, i);
        const int i1 = sourceIndex(first, i, monoToStereo, output);
        const int i2 = sourceIndex(second, i, monoToStereo, output);
        if (i1 >= 0 && i2 >= 0) {
            AEDSPMixMono(samples(first, uint32_t(i1)), samples(second, uint32_t(i2)), gain, 1.0f, frames, out);
        } else if (i1 >= 0) {
            if (first == output && gain == 1.0f) continue;
            const float* in = samples(first, uint32_t(i1));
            if (gain == 1.0f) std::memmove(out, in, bytes);
            else for (uint32_t k = 0; k < frames; ++k) out[k] = in[k] * gain;
        } else if (i2 >= 0) {
            if (second == output) continue;
            std::memmove(out, samples(second, uint32_t(i2)), bytes);
        }
    }

    if (output->mNumberBuffers == 1) {
        float* out = samples(output, 0);
        for (uint32_t j = 1; j < first->mNumberBuffers; ++j) {
            const float* in = samples(first, j);
            for (uint32_t k = 0; k < frames; ++k) out[k] += in[k] * gain;
        }
        for (uint32_t j = 1; j < second->mNumberBuffers; ++j) {
            const float* in = samples(second, j);
            for (uint32_t k = 0; k < frames; ++k) out[k] += in[k];
        }
    }
}

void AEDSPMixMono(const float* a, const float* b, float gainA, float gainB, uint32_t frames, float* output) {
    // Unity gains skip their multiplication.
    if (gainA == 1.0f && gainB == 1.0f) {
        for (uint32_t k = 0; k < frames; ++k) output[k] = a[k] + b[k];
    } else if (gainB == 1.0f) {
        for (uint32_t k = 0; k < frames; ++k) output[k] = a[k] * gainA + b[k];
    } else if (gainA == 1.0f) {
        for (uint32_t k = 0; k < frames; ++k) output[k] = b[k] * gainB + a[k];
    } else {
        for (uint32_t k = 0; k < frames; ++k) output[k] = a[k] * gainA + b[k] * gainB;
    }
}

void AEDSPCrossfade(const AudioBufferList* a, const AudioBufferList* b, const AudioBufferList* target,
                    uint32_t frames) {
    if (a->mNumberBuffers != b->mNumberBuffers || a->mNumberBuffers != target->mNumberBuffers) return;
    const float denominator = frames > 1 ? float(frames - 1) : 1.0f;
    for (uint32_t i = 0; i < target->mNumberBuffers; ++i) {
        const float* from = samples(a, i);
        const float* to = samples(b, i);
        float* out = samples(target, i);
        for (uint32_t k = 0; k < frames; ++k) out[k] = from[k] + (to[k] - from[k]) * (float(k) / denominator);
    }
}
