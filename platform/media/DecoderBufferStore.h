#pragma once
// Picture memory for the video decoders, kept for reuse across decoders. FFmpeg's own pool lives
// and dies with one decoder, so every movie opened (every cue started) would map and zero its
// frames afresh: for 1080p ProRes about a hundred megabytes of page faults on the decoding path.
// Here a decoder draws its planes from, and returns them to, buffers of the same size that other
// decoders released. Buffers come zeroed when new and as their last picture left them when
// reused, as within one FFmpeg pool. Only media .cpp files include this.

struct AVCodecContext;

namespace DecoderBufferStore {

// Lets `context` (not yet opened) take its pictures' planes from the store. Decoders that cannot
// decode into memory of ours, and pictures the store does not lay out (hardware, palette and
// bitstream formats), keep FFmpeg's own allocation.
void attach(AVCodecContext* context);

// Bytes held free for reuse; at most kMaxFreeBytes, beyond which released buffers are freed.
constexpr long long kMaxFreeBytes = 512ll << 20;
long long freeBytes();

}  // namespace DecoderBufferStore
