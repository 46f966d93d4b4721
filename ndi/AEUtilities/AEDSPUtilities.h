#pragma once
// Gains, ramps, mixes and crossfades on buffer lists of 32-bit float samples (one channel per
// buffer). Plain loops the compiler vectorises; nothing allocates or locks. Frame counts must
// not exceed what the buffers hold.

#include "AEAudioTypes.h"

// Scales the first `frames` samples of every buffer by `gain`; gains below 1.1920929e-07
// (negative ones too) write zeros.
void AEDSPApplyGain(const AudioBufferList* list, float gain, uint32_t frames);

// Multiplies every buffer by a linear ramp starting at *start and growing by `step` per frame;
// *start ends at start + frames * step.
void AEDSPApplyRamp(const AudioBufferList* list, float* start, float step, uint32_t frames);

// Multiplies every buffer by sin(pi/2 * (position + k * step)), k = 0 .. frames - 1; *position
// advances by frames * step. Without a scratch of `frames` floats a shared one of 4096 is used
// (in slices for longer runs), which must not be used on two threads at once.
void AEDSPApplyEqualPowerRamp(const AudioBufferList* list, float* position, float step, uint32_t frames,
                              float* scratch);

// Moves *currentGain toward `targetGain` by 1/128 per frame (or over `rampDuration` frames per
// unit when not 0) while scaling, then applies the target to the rest.
void AEDSPApplyGainWithRamp(const AudioBufferList* list, float targetGain, float* currentGain, uint32_t frames,
                            uint32_t rampDuration);
void AEDSPApplyGainSmoothed(const AudioBufferList* list, float targetGain, float* currentGain, uint32_t frames);
// The same for one channel of samples, always ramping by 1/128 per frame.
void AEDSPApplyGainSmoothedMono(float* samples, float targetGain, float* currentGain, uint32_t frames);

// Volume with a left/right balance (-1 .. +1) for stereo lists; the current values (may be
// null) follow the targets smoothly. Other lists get AEDSPApplyGainWithRamp of the volume.
void AEDSPApplyVolumeAndBalance(const AudioBufferList* list, float volume, float balance, float* currentVolume,
                                float* currentBalance, uint32_t frames);

// output = a * gainA + b * gainB over `frames` (0: the output's buffer 0 length). When neither
// gain is 1, b is scaled in place. With `monoToStereo` a mono input feeds both channels of a
// stereo output; a one-buffer output receives every further input buffer mixed down.
void AEDSPMix(const AudioBufferList* a, const AudioBufferList* b, float gainA, float gainB, bool monoToStereo,
              uint32_t frames, const AudioBufferList* output);
void AEDSPMixMono(const float* a, const float* b, float gainA, float gainB, uint32_t frames, float* output);

// target = linear crossfade from a to b over `frames`. The three lists must have the same
// buffer count; otherwise nothing is written.
void AEDSPCrossfade(const AudioBufferList* a, const AudioBufferList* b, const AudioBufferList* target,
                    uint32_t frames);
