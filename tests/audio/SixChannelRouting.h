#pragma once
// The routing check of cue audio through the engine to a real server: MediaFixtures' six.wav
// played by a cue's player with kRouting into 8 outputs and recorded from the device without
// remixing. Outputs 1..4 carry the file's constants 0.3 .. 0.6, outputs 5 and 6 silence, outputs
// 7 and 8 its frame counter (low and high part).

#include <QList>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace SixChannelRouting {

inline const QList<int> kRouting = {3, 4, 5, 6, 0, 0, 1, 2};
constexpr int kOutputs = 8;
constexpr size_t kFileFrames = 96000;

struct Frame {
    float channels[kOutputs];
    int counter() const {
        return int(std::lround(channels[7] * 32768.0f)) * 32000 + int(std::lround(channels[6] * 32768.0f));
    }
    bool playing() const { return std::abs(channels[0] - 0.3f) < 1e-4f; }
};

// The frames of an interleaved 8-channel recording made while the cue played.
inline std::vector<Frame> playedFrames(const std::vector<float>& recorded) {
    std::vector<Frame> frames;
    for (size_t i = 0; i + kOutputs <= recorded.size(); i += kOutputs) {
        Frame frame;
        std::copy_n(&recorded[i], kOutputs, frame.channels);
        if (frame.playing()) frames.push_back(frame);
    }
    return frames;
}

// `recordWholeFile` plays the file from its start to its end and answers the frames recorded.
// A machine loaded enough to hold a server's threads past its buffer loses samples in the
// server; a fault of ours shows in every attempt, such a stall in one. A channel off its output
// is ours at once.
inline void expectEveryChannelOnItsOutputAndEveryFrameOnce(const std::function<std::vector<Frame>()>& recordWholeFile) {
    std::string lastProblem;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::vector<Frame> frames = recordWholeFile();
        const float constants[6] = {0.3f, 0.4f, 0.5f, 0.6f, 0.0f, 0.0f};
        int wrongChannels = 0;
        for (const Frame& frame : frames)
            for (int c = 0; c < 6; ++c) wrongChannels += std::abs(frame.channels[c] - constants[c]) > 1e-4f;
        ASSERT_EQ(wrongChannels, 0);
        lastProblem.clear();
        for (size_t i = 0; i < frames.size() && lastProblem.empty(); ++i)
            if (frames[i].counter() != int(i))
                lastProblem = "frame " + std::to_string(i) + " carries " + std::to_string(frames[i].counter());
        if (lastProblem.empty() && frames.size() != kFileFrames)
            lastProblem = std::to_string(frames.size()) + " frames";
        if (lastProblem.empty()) return;
        std::cerr << "attempt " << attempt + 1 << ": " << lastProblem << "\n";
    }
    ADD_FAILURE() << lastProblem;
}

}  // namespace SixChannelRouting
