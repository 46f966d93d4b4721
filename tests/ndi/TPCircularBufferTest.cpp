#include "AECircularBuffer.h"
#include "AETime.h"
#include "AudioTestSupport.h"
#include "TPCircularBuffer+AudioBufferList.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

const AudioStreamBasicDescription kStereo = AEAudioDescriptionWithChannelsAndRate(2, 48000);

class RingTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(AECircularBufferInit(&ring, 1000, 2, 48000)); }
    void TearDown() override { AECircularBufferCleanup(&ring); }

    // Queues `frames` frames whose left samples count on from `first` (right = -left).
    bool enqueueRamp(uint32_t frames, float first, const AudioTimeStamp* time = nullptr) {
        OwnedList block(2, int(frames));
        block.fill([&](uint32_t c, uint32_t k) { return (c == 0 ? 1.0f : -1.0f) * (first + float(k)); });
        return AECircularBufferEnqueue(&ring, block.list, time, UINT32_MAX);
    }
    // Dequeues `frames` frames and checks they continue the ramp from `first`.
    void expectRamp(uint32_t frames, float first) {
        OwnedList out(2, int(frames));
        uint32_t count = frames;
        AECircularBufferDequeue(&ring, &count, out.list, nullptr);
        ASSERT_EQ(count, frames);
        for (uint32_t k = 0; k < frames; ++k) {
            ASSERT_EQ(out[0][k], first + float(k)) << "frame " << k;
            ASSERT_EQ(out[1][k], -(first + float(k))) << "frame " << k;
        }
    }

    AECircularBuffer ring;
};

TEST(TPCircularBuffer, MemoryIsMirroredAndPageRounded) {
    TPCircularBuffer ring;
    ASSERT_TRUE(TPCircularBufferInit(&ring, 100));
    EXPECT_EQ(ring.length, sysconf(_SC_PAGESIZE));
    EXPECT_TRUE(ring.atomic);
    auto* bytes = static_cast<unsigned char*>(ring.buffer);
    bytes[ring.length + 5] = 0xAB;  // written through the upper view
    EXPECT_EQ(bytes[5], 0xAB);
    bytes[7] = 0xCD;
    EXPECT_EQ(bytes[ring.length + 7], 0xCD);
    EXPECT_EQ(TPCircularBufferCleanup(&ring), 0);
    EXPECT_EQ(ring.buffer, nullptr);
    EXPECT_EQ(ring.length, 0);
    EXPECT_FALSE(TPCircularBufferInit(&ring, 0));
}

TEST(AECircularBuffer, StreamerSizedRingAsksForTheDocumentedBytes) {
    EXPECT_EQ(AECircularBufferByteLengthForFrames(1536000, 2), 12290048);
    EXPECT_EQ(AECircularBufferByteLengthForFrames(100, 0), 0);
    EXPECT_EQ(AECircularBufferByteLengthForFrames(UINT32_MAX, 16), 0);  // beyond a 32-bit ring: refused
    AECircularBuffer ring;
    ASSERT_TRUE(AECircularBufferInit(&ring, 1536000, 2, 48000));
    const long page = sysconf(_SC_PAGESIZE);
    EXPECT_EQ(ring.buffer.length, (12290048 + page - 1) / page * page);
    EXPECT_EQ(ring.audioDescription.mChannelsPerFrame, 2u);
    EXPECT_EQ(ring.audioDescription.mSampleRate, 48000);
    AECircularBufferCleanup(&ring);
}

TEST_F(RingTest, BlockAcrossTheWrapPointReadsBackContiguous) {
    // Move head and tail so close to the end that the next block of 300 frames runs past it.
    constexpr int32_t kBlockBytes = 2512;  // header and two 16-byte aligned planes of 1200 bytes
    while (ring.buffer.head + kBlockBytes <= ring.buffer.length) {
        ASSERT_TRUE(enqueueRamp(400, 0));
        expectRamp(400, 0);
    }
    const int32_t start = ring.buffer.head;

    ASSERT_TRUE(enqueueRamp(300, 1000));
    AudioBufferList* block = AECircularBufferNextBufferList(&ring, nullptr, nullptr);
    ASSERT_NE(block, nullptr);
    const auto* end = static_cast<const char*>(block->mBuffers[1].mData) + block->mBuffers[1].mDataByteSize;
    EXPECT_GT(end, static_cast<const char*>(ring.buffer.buffer) + ring.buffer.length) << "block does not cross the end";
    EXPECT_LT(ring.buffer.head, start) << "head did not wrap";
    expectRamp(300, 1000);
    EXPECT_EQ(AECircularBufferPeek(&ring, nullptr), 0u);
}

TEST_F(RingTest, FullRingRefusesAndLeavesHeadAndFillCount) {
    int accepted = 0;
    while (enqueueRamp(100, 0)) ++accepted;
    ASSERT_GT(accepted, 0);
    const int32_t head = ring.buffer.head;
    const int32_t fill = ring.buffer.fillCount.load();
    EXPECT_FALSE(enqueueRamp(100, 0));
    EXPECT_EQ(ring.buffer.head, head);
    EXPECT_EQ(ring.buffer.fillCount.load(), fill);
}

TEST_F(RingTest, AvailableSpaceIsExactlyWhatOneBlockTakes) {
    const uint32_t space = AECircularBufferGetAvailableSpace(&ring);
    ASSERT_GT(space, 0u);
    EXPECT_FALSE(enqueueRamp(space + 4, 0));
    EXPECT_TRUE(enqueueRamp(space, 0));
}

TEST_F(RingTest, NothingToCopyIsAcceptedWithoutStoring) {
    OwnedList empty(2, 0);
    OwnedList some(2, 10);
    EXPECT_TRUE(AECircularBufferEnqueue(&ring, empty.list, nullptr, UINT32_MAX));
    EXPECT_TRUE(AECircularBufferEnqueue(&ring, some.list, nullptr, 0));
    EXPECT_EQ(ring.buffer.fillCount.load(), 0);
    // Asking for more frames than the source holds would read past it.
    EXPECT_FALSE(AECircularBufferEnqueue(&ring, some.list, nullptr, 11));
    EXPECT_EQ(ring.buffer.fillCount.load(), 0);
}

TEST_F(RingTest, DequeueAcrossBlocksAdvancesTheRemainingBlock) {
    const AudioTimeStamp first = AETimeStampWithSamples(5000);
    const AudioTimeStamp second = AETimeStampWithSamples(5100);
    ASSERT_TRUE(enqueueRamp(100, 0, &first));
    ASSERT_TRUE(enqueueRamp(50, 100, &second));
    AudioTimeStamp time{};
    EXPECT_EQ(AECircularBufferPeek(&ring, &time), 150u);
    EXPECT_EQ(time.mSampleTime, 5000);

    expectRamp(120, 0);
    EXPECT_EQ(AECircularBufferPeek(&ring, &time), 30u);
    EXPECT_EQ(time.mSampleTime, 5120);

    uint32_t count = 200;
    OwnedList out(2, 200);
    AECircularBufferDequeue(&ring, &count, out.list, &time);
    EXPECT_EQ(count, 30u);
    EXPECT_EQ(out[0][0], 120);
    EXPECT_EQ(out[0][29], 149);
}

TEST_F(RingTest, DequeueMoreThanQueuedGivesWhatIsThere) {
    ASSERT_TRUE(enqueueRamp(100, 0));
    ASSERT_TRUE(enqueueRamp(50, 100));
    uint32_t count = 200;
    OwnedList out(2, 200);
    AECircularBufferDequeue(&ring, &count, out.list, nullptr);
    EXPECT_EQ(count, 150u);
    EXPECT_EQ(out[1][149], -149);
    EXPECT_EQ(out[0][150], 0) << "nothing written past what was there";
}

TEST_F(RingTest, DequeueFromEmptyRingZeroesCountAndTimestamp) {
    uint32_t count = 64;
    AudioTimeStamp time = AETimeStampWithSamples(42);
    AECircularBufferDequeue(&ring, &count, nullptr, &time);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(time.mFlags, 0u);
    EXPECT_EQ(time.mSampleTime, 0);
}

TEST_F(RingTest, NextBufferListWalksTheQueuedBlocks) {
    AudioTimeStamp time = AETimeStampWithSamples(3);
    EXPECT_EQ(AECircularBufferNextBufferList(&ring, &time, nullptr), nullptr);
    EXPECT_EQ(time.mFlags, 0u) << "an empty ring zeroes the time stamp";

    const AudioTimeStamp first = AETimeStampWithSamples(10);
    const AudioTimeStamp second = AETimeStampWithSamples(20);
    ASSERT_TRUE(enqueueRamp(10, 0, &first));
    ASSERT_TRUE(enqueueRamp(20, 10, &second));
    AudioBufferList* list = AECircularBufferNextBufferList(&ring, &time, nullptr);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(time.mSampleTime, 10);
    list = AECircularBufferNextBufferList(&ring, &time, list);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(time.mSampleTime, 20);
    EXPECT_EQ(static_cast<float*>(list->mBuffers[0].mData)[0], 10.0f);
    EXPECT_EQ(AECircularBufferNextBufferList(&ring, &time, list), nullptr);
    AECircularBufferConsumeNextBufferList(&ring);
    EXPECT_EQ(AECircularBufferPeek(&ring, nullptr), 20u);
}

TEST_F(RingTest, PartialConsumptionAdvancesHostTime) {
    const AudioTimeStamp time = AETimeStampWithHostTicks(AEHostTicksFromSeconds(10));
    ASSERT_TRUE(enqueueRamp(480, 0, &time));
    AECircularBufferConsumeNextBufferListPartial(&ring, 48);
    AudioTimeStamp front{};
    EXPECT_EQ(AECircularBufferPeek(&ring, &front), 432u);
    EXPECT_NEAR(AESecondsFromHostTicks(front.mHostTime), 10.001, 1e-6);
    expectRamp(432, 48);
}

TEST_F(RingTest, FormatChangeEmptiesTheRing) {
    ASSERT_TRUE(enqueueRamp(100, 0));
    AECircularBufferSetChannelCountAndSampleRate(&ring, 1, 44100);
    EXPECT_EQ(AECircularBufferPeek(&ring, nullptr), 0u);
    EXPECT_EQ(ring.audioDescription.mChannelsPerFrame, 1u);
    EXPECT_EQ(ring.audioDescription.mSampleRate, 44100);
}

TEST_F(RingTest, ContiguousPeekStopsAtAGapInSampleTime) {
    struct Case {
        double secondStart;
        uint32_t wrapPoint;
        uint32_t expected;
    };
    // First block: samples 900 .. 999.
    for (const Case& c : {Case{1000, 0, 150}, Case{1002, 0, 100}, Case{1001, 0, 150} /* within tolerance */,
                          Case{0, 1000, 150} /* wrapped back to 0 */}) {
        AECircularBufferClear(&ring);
        const AudioTimeStamp first = AETimeStampWithSamples(900);
        const AudioTimeStamp second = AETimeStampWithSamples(c.secondStart);
        ASSERT_TRUE(enqueueRamp(100, 0, &first));
        ASSERT_TRUE(enqueueRamp(50, 0, &second));
        EXPECT_EQ(TPCircularBufferPeekContiguousWrapped(&ring.buffer, nullptr, &kStereo, 1, c.wrapPoint), c.expected)
            << "second block at " << c.secondStart;
    }
}

TEST_F(RingTest, ProducedBlockShrinksToTheBytesWritten) {
    AudioBufferList* list = AECircularBufferPrepareEmptyAudioBufferList(&ring, 100, nullptr);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(ring.buffer.fillCount.load(), 0) << "prepared, not yet produced";
    for (uint32_t i = 0; i < list->mNumberBuffers; ++i) {
        static_cast<float*>(list->mBuffers[i].mData)[0] = 7;
        list->mBuffers[i].mDataByteSize = 40;
    }
    AECircularBufferProduceAudioBufferList(&ring);
    EXPECT_EQ(AECircularBufferPeek(&ring, nullptr), 10u);
    EXPECT_EQ(AECircularBufferConsumeNextBufferList(&ring), 0);
}

// One producer thread, one consumer thread, no locks: every sample arrives, in order.
TEST(AECircularBufferThreads, ProducerAndConsumerSeeEverySampleInOrder) {
    AECircularBuffer ring;
    ASSERT_TRUE(AECircularBufferInit(&ring, 2048, 2, 48000));
    constexpr uint32_t kTotal = 400000;
    std::atomic<bool> failed{false};

    std::thread producer([&] {
        OwnedList block(2, 301);
        uint32_t sent = 0;
        uint32_t size = 1;
        while (sent < kTotal && !failed) {
            const uint32_t frames = std::min(size, kTotal - sent);
            for (uint32_t k = 0; k < frames; ++k) {
                block[0][k] = float(sent + k);
                block[1][k] = -float(sent + k);
            }
            if (AECircularBufferEnqueue(&ring, block.list, nullptr, frames)) {
                sent += frames;
                size = size % 263 + 37;  // stays below the 301 frames the block holds
            } else {
                std::this_thread::yield();
            }
        }
    });

    OwnedList out(2, 257);
    uint32_t received = 0;
    uint32_t ask = 1;
    while (received < kTotal && !failed) {
        uint32_t count = ask;
        AECircularBufferDequeue(&ring, &count, out.list, nullptr);
        for (uint32_t k = 0; k < count; ++k) {
            if (out[0][k] != float(received + k) || out[1][k] != -float(received + k)) failed = true;
        }
        received += count;
        ask = ask % 200 + 53;  // stays below the 257 frames the output holds
        if (count == 0) std::this_thread::yield();
    }
    producer.join();
    EXPECT_FALSE(failed);
    EXPECT_EQ(received, kTotal);
    AECircularBufferCleanup(&ring);
}

}  // namespace
