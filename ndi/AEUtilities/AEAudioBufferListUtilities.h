#pragma once
// Making, copying and slicing audio buffer lists. Lists made here belong to the caller, who
// releases them with AEAudioBufferListFree. Functions without a format assume 4 bytes per frame
// (the default format). Nothing here locks; only creation and copying allocate.

#include "AEAudioTypes.h"

#include <string>

// A list for `frameCount` frames of `format` with zeroed samples: one buffer per channel for a
// non-interleaved format, else one interleaved buffer. Null when memory runs out.
AudioBufferList* AEAudioBufferListCreateWithFormat(const AudioStreamBasicDescription* format, int frameCount);
AudioBufferList* AEAudioBufferListCreate(int frameCount);

// Reads a whole audio file into one new list in `format` (sample rate 0: the file's rate).
// Null when the file cannot be opened or converted.
AudioBufferList* AEAudioBufferListCreateWithContentsOfFile(const std::string& path,
                                                           AudioStreamBasicDescription format);

// A new list with newly allocated copies of every buffer's bytes; null when memory runs out.
AudioBufferList* AEAudioBufferListCopy(const AudioBufferList* original);

// Frees every buffer's memory, then the list. Null is ignored.
void AEAudioBufferListFree(AudioBufferList* list);

// Frames in buffer 0; the buffer count goes to *outChannelCount when given.
uint32_t AEAudioBufferListGetLength(const AudioBufferList* list, int* outChannelCount);
uint32_t AEAudioBufferListGetLengthWithFormat(const AudioBufferList* list, const AudioStreamBasicDescription* format,
                                              int* outChannelCount);

// Sets every buffer's byte size to `frames` frames.
void AEAudioBufferListSetLength(AudioBufferList* list, uint32_t frames);
void AEAudioBufferListSetLengthWithFormat(AudioBufferList* list, const AudioStreamBasicDescription* format,
                                          uint32_t frames);

// Moves every buffer's start on by `frames` frames (its byte size shrinks, never below 0).
void AEAudioBufferListOffset(AudioBufferList* list, uint32_t frames);
void AEAudioBufferListOffsetWithFormat(AudioBufferList* list, const AudioStreamBasicDescription* format,
                                       uint32_t frames);

// Makes `target` (with room for the source's buffer count) a view of `length` frames of
// `source` from `offset` on. No bytes are copied.
void AEAudioBufferListAssign(AudioBufferList* target, const AudioBufferList* source, uint32_t offset,
                             uint32_t length);
void AEAudioBufferListAssignWithFormat(AudioBufferList* target, const AudioBufferList* source,
                                       const AudioStreamBasicDescription* format, uint32_t offset, uint32_t length);

// Zeroes `length` frames from `offset` in every buffer (clamped to each buffer's byte size).
void AEAudioBufferListSilence(const AudioBufferList* list, uint32_t offset, uint32_t length);
void AEAudioBufferListSilenceWithFormat(const AudioBufferList* list, const AudioStreamBasicDescription* format,
                                        uint32_t offset, uint32_t length);

// Copies `length` frames from each source buffer (from `sourceOffset`) into the target buffer
// of the same index (at `targetOffset`). Target buffers 1 and 2 past the source's count take the
// source's last buffer (mono or stereo spread); copying stops at the first further one.
// Copies are clamped to both buffers' byte sizes.
void AEAudioBufferListCopyContents(const AudioBufferList* target, const AudioBufferList* source,
                                   uint32_t targetOffset, uint32_t sourceOffset, uint32_t length);
void AEAudioBufferListCopyContentsWithFormat(const AudioBufferList* target, const AudioBufferList* source,
                                             const AudioStreamBasicDescription* format, uint32_t targetOffset,
                                             uint32_t sourceOffset, uint32_t length);
