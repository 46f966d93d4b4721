#include "KavioAudioPlayerNode.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr float kSilenceDb = -120.0f;

void freeList(KavioAudioPlayerNode::Item* item) {
    while (item) delete std::exchange(item, item->next);
}

}  // namespace

KavioAudioPlayerNode::~KavioAudioPlayerNode() {
    freeList(inbox_.exchange(nullptr));
    freeList(queueHead_);
}

void KavioAudioPlayerNode::RetireList::push(Item* item) {
    item->next = head.load(std::memory_order_relaxed);
    while (!head.compare_exchange_weak(item->next, item, std::memory_order_release, std::memory_order_relaxed)) {
    }
}

void KavioAudioPlayerNode::scheduleBuffer(std::shared_ptr<const PcmBuffer> buffer, Completion completion) {
    if (!buffer || buffer->frameLength() == 0 || buffer->format().channelCount() == 0) return;
    auto* item = new Item{std::move(buffer), std::move(completion), generation_.load(std::memory_order_acquire)};
    item->next = inbox_.load(std::memory_order_relaxed);
    while (!inbox_.compare_exchange_weak(item->next, item, std::memory_order_release, std::memory_order_relaxed)) {
    }
}

void KavioAudioPlayerNode::play(int64_t sampleTime) {
    startTime_.store(sampleTime, std::memory_order_relaxed);
    playing_.store(true, std::memory_order_release);
}

void KavioAudioPlayerNode::stop() {
    playing_.store(false, std::memory_order_release);
    generation_.fetch_add(1, std::memory_order_acq_rel);
}

float KavioAudioPlayerNode::averagePower(uint32_t channel) const {
    return channel < kMeteredChannels ? power_[channel].load(std::memory_order_relaxed) : kSilenceDb;
}

void KavioAudioPlayerNode::resetMeters() {
    for (auto& p : power_) p.store(kSilenceDb, std::memory_order_relaxed);
}

void KavioAudioPlayerNode::render(float* const* planes, uint32_t channels, uint32_t frames, int64_t cycleStart,
                                  RetireList& retired) {
    lastRender_.store(cycleStart, std::memory_order_relaxed);
    // The inbox holds the newest first: reverse it onto the end of the queue.
    Item* taken = inbox_.exchange(nullptr, std::memory_order_acquire);
    Item* reversed = nullptr;
    while (taken) {
        Item* next = taken->next;
        taken->next = reversed;
        reversed = taken;
        taken = next;
    }
    if (reversed) {
        if (queueTail_)
            queueTail_->next = reversed;
        else
            queueHead_ = reversed;
        queueTail_ = reversed;
        while (queueTail_->next) queueTail_ = queueTail_->next;
    }

    const uint64_t generation = generation_.load(std::memory_order_acquire);
    // Buffers scheduled before the last stop never play.
    while (queueHead_ && queueHead_->generation != generation) {
        Item* stale = queueHead_;
        queueHead_ = stale->next;
        if (!queueHead_) queueTail_ = nullptr;
        retired.push(stale);
    }

    const bool metering = metering_.load(std::memory_order_relaxed);
    float sums[kMeteredChannels] = {};
    uint32_t meteredChannels = 0;
    const int64_t start = startTime_.load(std::memory_order_relaxed);
    if (playing_.load(std::memory_order_acquire) && (start == kNow || start < cycleStart + int64_t(frames))) {
        const float gain = volume_.load(std::memory_order_relaxed);
        uint32_t frame = start == kNow || start <= cycleStart ? 0 : uint32_t(start - cycleStart);
        while (frame < frames && queueHead_) {
            Item* item = queueHead_;
            if (item->generation != generation) {  // scheduled while a stop was under way
                queueHead_ = item->next;
                if (!queueHead_) queueTail_ = nullptr;
                retired.push(item);
                continue;
            }
            const PcmBuffer& buffer = *item->buffer;
            const uint32_t n = std::min(frames - frame, buffer.frameLength() - item->position);
            const uint32_t shared = std::min(buffer.format().channelCount(), channels);
            meteredChannels = std::max(meteredChannels, std::min(buffer.format().channelCount(), kMeteredChannels));
            for (uint32_t c = 0; c < shared; ++c) {
                const float* in = buffer.floatChannelData(c) + item->position;
                float* out = planes[c] + frame;
                float sum = 0;
                for (uint32_t k = 0; k < n; ++k) {
                    const float v = in[k] * gain;
                    out[k] += v;
                    sum += v * v;
                }
                if (c < kMeteredChannels) sums[c] += sum;
            }
            frame += n;
            item->position += n;
            if (item->position >= buffer.frameLength()) {
                queueHead_ = item->next;
                if (!queueHead_) queueTail_ = nullptr;
                item->played = true;
                retired.push(item);
            }
        }
    }
    if (!metering || frames == 0) return;
    for (uint32_t c = 0; c < kMeteredChannels; ++c) {
        const float meanSquare = c < meteredChannels ? sums[c] / float(frames) : 0.0f;
        power_[c].store(meanSquare > 1e-12f ? std::max(kSilenceDb, 10.0f * std::log10(meanSquare)) : kSilenceDb,
                        std::memory_order_relaxed);
    }
}
