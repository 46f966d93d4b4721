#pragma once
// Helpers shared by the audio tests: owned buffer lists filled with known samples, and a
// capture of what the program logs.

#include "AEAudioBufferListUtilities.h"
#include "AEUtilities.h"
#include "Log.h"

#include <spdlog/sinks/ringbuffer_sink.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

// A planar float list that frees itself.
struct OwnedList {
    AudioStreamBasicDescription format;
    AudioBufferList* list;
    OwnedList(int channels, int frames)
        : format(AEAudioDescriptionWithChannelsAndRate(channels, 48000)),
          list(AEAudioBufferListCreateWithFormat(&format, frames)) {}
    ~OwnedList() { AEAudioBufferListFree(list); }
    OwnedList(const OwnedList&) = delete;
    OwnedList& operator=(const OwnedList&) = delete;
    float* operator[](uint32_t channel) const { return static_cast<float*>(list->mBuffers[channel].mData); }
    uint32_t frames() const { return list->mBuffers[0].mDataByteSize / 4; }
    // Sample k of channel c becomes value(c, k).
    void fill(const std::function<float(uint32_t, uint32_t)>& value) const {
        for (uint32_t c = 0; c < list->mNumberBuffers; ++c)
            for (uint32_t k = 0; k < frames(); ++k) (*this)[c][k] = value(c, k);
    }
};

// Collects the log lines written while it lives.
class LogCapture {
public:
    LogCapture() : sink_(std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(1000)) {
        sink_->set_pattern("%v");
        KavioLog::logger().sinks().push_back(sink_);
    }
    ~LogCapture() {
        auto& sinks = KavioLog::logger().sinks();
        sinks.erase(std::remove(sinks.begin(), sinks.end(), sink_), sinks.end());
    }
    int count(const std::string& text) const {
        const auto lines = sink_->last_formatted();
        return int(std::count_if(lines.begin(), lines.end(),
                                 [&](const std::string& line) { return line.find(text) != std::string::npos; }));
    }

private:
    std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> sink_;
};
