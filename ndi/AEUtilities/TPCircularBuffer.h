#pragma once
// A lock-free byte ring for one producer and one consumer, whose memory is mapped twice back to
// back: the bytes from any offset onward are always one contiguous run of up to `length` bytes,
// so nothing written into or read out of the ring ever splits at its end.
//
// Threads: the producer alone calls the head/produce side, the consumer alone the tail/consume
// side (Clear included); both may run at the same time. Init and Cleanup must not overlap
// anything else. `fillCount` is the only word both sides change; every change is one fully
// ordered atomic add, so data written before a produce is visible after the consumer reads it.

#include <atomic>
#include <cstdint>

struct TPCircularBuffer {
    void* buffer = nullptr;  // start of the ring; null before init and after clean-up
    int32_t length = 0;      // usable bytes, whole pages; the mapping spans 2 * length
    int32_t tail = 0;        // next byte to read (consumer)
    int32_t head = 0;        // next byte to write (producer)
    std::atomic<int32_t> fillCount{0};  // bytes written and not yet consumed
    bool atomic = false;     // kept for callers; every fillCount change is atomic regardless
};

// Makes the mirrored memory for `length` bytes (> 0), rounded up to whole pages. `recordSize`
// must be sizeof(TPCircularBuffer) as the caller sees it; a mismatch aborts the process (it can
// only come from mixing builds). Up to four attempts; on failure prints one line on standard
// output and answers false, leaving the record zero.
bool _TPCircularBufferInit(TPCircularBuffer* ring, int32_t length, size_t recordSize);
inline bool TPCircularBufferInit(TPCircularBuffer* ring, int32_t length) {
    return _TPCircularBufferInit(ring, length, sizeof(TPCircularBuffer));
}

// Releases both halves of the mapping and zeroes the record. Answers 0, or the system's error.
int TPCircularBufferCleanup(TPCircularBuffer* ring);

// Consumer side: consumes everything queued. Memory and length stay.
void TPCircularBufferClear(TPCircularBuffer* ring);

void TPCircularBufferSetAtomic(TPCircularBuffer* ring, bool atomic);

// Consumer side: the queued bytes start at the result; their count goes to *availableBytes.
// Null (and 0) when nothing is queued or the ring has no memory.
void* TPCircularBufferTail(TPCircularBuffer* ring, int32_t* availableBytes);

// Consumer side: marks `amount` queued bytes (0 <= amount <= fill count) as read.
void TPCircularBufferConsume(TPCircularBuffer* ring, int32_t amount);

// Producer side: the free room starts at the result; its size goes to *availableBytes.
// Null (and 0) when the ring is full or has no memory.
void* TPCircularBufferHead(TPCircularBuffer* ring, int32_t* availableBytes);

// Producer side: makes `amount` bytes written at the head (0 <= amount <= free room) readable.
void TPCircularBufferProduce(TPCircularBuffer* ring, int32_t amount);
