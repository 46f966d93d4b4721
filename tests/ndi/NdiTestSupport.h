#pragma once
// Shared by the NDI tests: a private discovery folder per test process (so parallel suites
// never see each other's loopback sources), a backend with a scripted source list, and pictures
// with known colours.

#include "NdiBackend.h"
#include "NdiLoopbackBackend.h"

#include <QTemporaryDir>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

// Points XDG_RUNTIME_DIR at a folder of this process's own.
inline void usePrivateRuntimeDirectory()
{
    static QTemporaryDir dir;
    static std::once_flag once;
    std::call_once(once, [] { ::setenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit().constData(), 1); });
}

// A backend whose finder lists what the test sets; no senders or receivers.
class ScriptedBackend : public NdiLoopbackBackend {
public:
    std::shared_ptr<std::vector<ndi::Source>> sources = std::make_shared<std::vector<ndi::Source>>();

    std::unique_ptr<ndi::Finder> createFinder() override
    {
        struct ScriptedFinder : ndi::Finder {
            std::shared_ptr<std::vector<ndi::Source>> list;
            std::vector<ndi::Source> sources() override { return *list; }
        };
        auto finder = std::make_unique<ScriptedFinder>();
        finder->list = sources;
        return finder;
    }
};

// A BGRA picture of one colour, rows padded to `bytesPerRow`.
inline std::vector<uint8_t> solidBGRA(int width, int height, int bytesPerRow, uint8_t b, uint8_t g, uint8_t r,
                                      uint8_t a = 255)
{
    std::vector<uint8_t> pixels(size_t(bytesPerRow) * size_t(height), 0xEE);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &pixels[size_t(y) * size_t(bytesPerRow) + size_t(x) * 4];
            p[0] = b, p[1] = g, p[2] = r, p[3] = a;
        }
    return pixels;
}

// A sender that records what it is asked; its connections and tally are the test's to set.
struct ScriptedSender : ndi::Sender {
    std::atomic<int> connectionCount{0};
    std::atomic<int> tallyPolls{0};
    std::mutex mutex;
    ndi::Tally currentTally;
    std::vector<ndi::VideoFrame> videos;
    std::vector<ndi::AudioFrame> audios;

    int connections() override { return connectionCount.load(); }
    ndi::Tally tally() override
    {
        ++tallyPolls;
        std::lock_guard lock(mutex);
        return currentTally;
    }
    void setTally(ndi::Tally t)
    {
        std::lock_guard lock(mutex);
        currentTally = t;
    }
    void sendVideo(const ndi::VideoFrame& frame) override
    {
        std::lock_guard lock(mutex);
        videos.push_back(frame);
        videos.back().data = nullptr;  // not ours past the call
    }
    void sendAudio(const ndi::AudioFrame& frame) override
    {
        std::lock_guard lock(mutex);
        audios.push_back(frame);
        audios.back().data = nullptr;
    }
};

// Hands out one ScriptedSender.
class ScriptedSenderBackend : public NdiLoopbackBackend {
public:
    ScriptedSender* last = nullptr;
    std::unique_ptr<ndi::Sender> createSender(const std::string&) override
    {
        auto sender = std::make_unique<ScriptedSender>();
        last = sender.get();
        return sender;
    }
};
