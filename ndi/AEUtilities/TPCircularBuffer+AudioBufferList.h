#pragma once
// Audio records on top of the byte ring: each record (a block) holds a time stamp, its own
// length and a buffer list whose data lies inside the block, every block and every data area on
// a 16-byte boundary. Thanks to the mirrored memory a block is always contiguous, even where it
// runs past the ring's end. Lists handed out point into the ring and stay valid until their
// block is consumed, the ring cleared or cleaned up.
//
// Threads as for the byte ring: prepare/produce/copy/available-space are the producer's, the
// peek/next/consume/dequeue functions the consumer's.

#include "AEAudioTypes.h"
#include "TPCircularBuffer.h"

// Block header as laid in the ring; the buffer list's descriptors follow `bufferList`.
struct TPCircularBufferABLBlockHeader {
    AudioTimeStamp timestamp;  // the caller's, or all zero
    uint32_t totalLength;      // bytes from the block's start to the next block, a multiple of 16
    AudioBufferList bufferList;
};

// Writes an empty block of n buffers of `bytesPerBuffer` bytes at the head, without making it
// readable. Null when it does not fit into the free room.
AudioBufferList* TPCircularBufferPrepareEmptyAudioBufferList(TPCircularBuffer* ring, int numberOfBuffers,
                                                             int bytesPerBuffer,
                                                             const AudioTimeStamp* timestamp);
// The same for `frames` frames of a format: one buffer per channel for non-interleaved
// formats, else one buffer.
AudioBufferList* TPCircularBufferPrepareEmptyAudioBufferListWithAudioFormat(
    TPCircularBuffer* ring, const AudioStreamBasicDescription* format, uint32_t frames,
    const AudioTimeStamp* timestamp);

// Makes the prepared block readable, with its length recomputed from the byte sizes as they now
// stand (a writer may have shortened them; the block never grows). An optional time stamp
// replaces the one prepared. Does nothing when no block is prepared or its buffer 0 is empty.
// Answers the new fill count in bytes.
int32_t TPCircularBufferProduceAudioBufferList(TPCircularBuffer* ring, const AudioTimeStamp* timestamp);

// Copies `frames` frames (UINT32_MAX: all of buffer 0's bytes) of every buffer of `list` into
// one new block. True when copied or when there is nothing to copy; false, leaving the ring
// unchanged, when there is no room or a source buffer holds fewer bytes than asked.
bool TPCircularBufferCopyAudioBufferList(TPCircularBuffer* ring, const AudioBufferList* list,
                                         const AudioTimeStamp* timestamp, uint32_t frames,
                                         const AudioStreamBasicDescription* format);

// The front block's list (its time stamp copied out), or null (time stamp untouched) when empty.
AudioBufferList* TPCircularBufferNextBufferList(TPCircularBuffer* ring, AudioTimeStamp* outTimestamp);
// The block after a queued block, or null after the last (or for a list that is not queued).
AudioBufferList* TPCircularBufferNextBufferListAfter(TPCircularBuffer* ring, const AudioBufferList* list,
                                                     AudioTimeStamp* outTimestamp);

// Frames in the run of blocks from the front whose sample times follow on within `tolerance`
// samples (UINT32_MAX: all blocks), sample times counting modulo `wrapPoint` when it is not 0.
// The front block's time stamp is copied out when anything is queued.
uint32_t TPCircularBufferPeekContiguousWrapped(TPCircularBuffer* ring, AudioTimeStamp* outTimestamp,
                                               const AudioStreamBasicDescription* format,
                                               uint32_t contiguousToleranceSampleTime,
                                               uint32_t wrapPoint);
uint32_t TPCircularBufferPeekContiguous(TPCircularBuffer* ring, AudioTimeStamp* outTimestamp,
                                        const AudioStreamBasicDescription* format,
                                        uint32_t contiguousToleranceSampleTime);
// All frames queued.
uint32_t TPCircularBufferPeek(TPCircularBuffer* ring, AudioTimeStamp* outTimestamp,
                              const AudioStreamBasicDescription* format);

// Consumes `frames` frames from the front block (all of it when it holds no more); its sample
// and host times advance with it. Negative counts do nothing.
void TPCircularBufferConsumeNextBufferListPartial(TPCircularBuffer* ring, int frames,
                                                  const AudioStreamBasicDescription* format);

// Copies up to *ioFrames frames to the start of `outList` (null: only consumes) and consumes
// them; *ioFrames becomes what was there. The front block's time stamp is copied out, or zeroed
// when nothing was queued. Only what fits into each output buffer is written.
void TPCircularBufferDequeueBufferListFrames(TPCircularBuffer* ring, uint32_t* ioFrames,
                                             const AudioBufferList* outList, AudioTimeStamp* outTimestamp,
                                             const AudioStreamBasicDescription* format);

// Frames per buffer that one new block in `format` can still take.
uint32_t TPCircularBufferGetAvailableSpace(TPCircularBuffer* ring, const AudioStreamBasicDescription* format);
