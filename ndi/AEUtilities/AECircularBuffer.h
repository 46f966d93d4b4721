#pragma once
// The audio ring of one deck: a byte ring holding whole buffer lists of 32-bit float samples,
// one buffer per channel, in the ring's format. One producer and one consumer may work at the
// same time without locks (see TPCircularBuffer.h); changing the format and cleaning up must not
// overlap anything else.

#include "AEAudioTypes.h"
#include "TPCircularBuffer.h"

struct AECircularBuffer {
    TPCircularBuffer buffer;
    AudioStreamBasicDescription audioDescription{};  // format of what is stored
};

// Makes the ring for `capacityInFrames` frames of `channels` channels at `sampleRate`, plus a
// margin for block headers (15 %, at most 2048 bytes), rounded up to whole pages. False when
// the memory cannot be made or the size is out of range.
bool AECircularBufferInit(AECircularBuffer* ring, uint32_t capacityInFrames, int channels, double sampleRate);
// The byte length AECircularBufferInit asks of the byte ring, before page rounding; 0 when out of range.
int32_t AECircularBufferByteLengthForFrames(uint32_t capacityInFrames, int channels);
void AECircularBufferCleanup(AECircularBuffer* ring);
// Empties the ring, then gives it the new format; the byte length stays.
void AECircularBufferSetChannelCountAndSampleRate(AECircularBuffer* ring, int channels, double sampleRate);
void AECircularBufferClear(AECircularBuffer* ring);
void AECircularBufferSetAtomic(AECircularBuffer* ring, bool atomic);

// Producer side.
// Copies `frames` frames (UINT32_MAX: all) of every buffer of `list` into one record. False,
// with the ring unchanged, when there is no room.
bool AECircularBufferEnqueue(AECircularBuffer* ring, const AudioBufferList* list, const AudioTimeStamp* timestamp,
                             uint32_t frames);
// Frames per channel one new record can still take.
uint32_t AECircularBufferGetAvailableSpace(AECircularBuffer* ring);
// An empty record for `frames` frames to fill in place, then AECircularBufferProduceAudioBufferList.
AudioBufferList* AECircularBufferPrepareEmptyAudioBufferList(AECircularBuffer* ring, uint32_t frames,
                                                             const AudioTimeStamp* timestamp);
void AECircularBufferProduceAudioBufferList(AECircularBuffer* ring);

// Consumer side.
// Frames queued; the front record's time stamp goes to *outTimestamp when given.
uint32_t AECircularBufferPeek(AECircularBuffer* ring, AudioTimeStamp* outTimestamp);
// Copies up to *ioFrames frames to the start of `outList` (null: only consumes); *ioFrames
// becomes what was there.
void AECircularBufferDequeue(AECircularBuffer* ring, uint32_t* ioFrames, const AudioBufferList* outList,
                             AudioTimeStamp* outTimestamp);
// With `previous` null, the front record (null and a zeroed time stamp when empty); else the
// record after `previous`.
AudioBufferList* AECircularBufferNextBufferList(AECircularBuffer* ring, AudioTimeStamp* outTimestamp,
                                                const AudioBufferList* previous);
// Consumes the front record whole; answers the new fill count in bytes.
int32_t AECircularBufferConsumeNextBufferList(AECircularBuffer* ring);
void AECircularBufferConsumeNextBufferListPartial(AECircularBuffer* ring, int frames);
