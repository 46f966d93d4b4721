#pragma once
// Shared pieces of the live-source tests: the test-pattern devices every suite starts with (set
// before the capture service is first made), a recording DeckLink browser, and pixel helpers.

#include "Cue/KavioVideoItem.h"
#include "Sources/KavioDeckLinkCaptureInterface.h"
#include "PcmBuffer.h"
#include "DispatchQueue.h"

#include <QColor>

#include <algorithm>
#include <cmath>

#include <cstdlib>
#include <mutex>
#include <vector>

// "Red" and "Blue" colour devices, 64 x 48 at 25 frames per second.
inline const bool kSourcesTestPatternsSet = [] {
    setenv("KAVIO_VIRTUAL_CAPTURE", "Red=color=c=red:s=64x48:r=25|Blue=color=c=blue:s=64x48:r=25", 1);
    return true;
}();

// A DeckLink input that records what the camera manager asks of it.
class FakeDeckLinkDevice : public KavioDeckLinkCaptureDevice {
public:
    std::int64_t persistent = 0, topological = 0;
    QString name = QStringLiteral("DeckLink Mini");
    bool captures = true;
    QList<KavioVideoFormatRef> formats;
    KavioVideoFormatRef active;
    KavioDeckLinkCaptureDelegate* delegate = nullptr;
    DispatchQueue* queue = nullptr;
    int starts = 0, stops = 0;

    std::int64_t persistantID() const override { return persistent; }
    std::int64_t topologicalID() const override { return topological; }
    QString displayName() const override { return name; }
    bool captureSupported() const override { return captures; }
    QList<KavioVideoFormatRef> captureVideoFormatDescriptions() const override { return formats; }
    QList<KavioDeckLinkAudioFormat> captureAudioFormatDescriptions() const override { return {KavioDeckLinkAudioFormat{}}; }
    KavioVideoFormatRef captureActiveVideoFormatDescription() const override { return active; }
    bool setCaptureActiveVideoFormatDescription(KavioVideoFormatRef format, QString*) override
    {
        active = std::move(format);
        return true;
    }
    bool setCaptureActiveAudioFormatDescription(const KavioDeckLinkAudioFormat&, QString*) override { return true; }
    void setCaptureDelegate(KavioDeckLinkCaptureDelegate* d, DispatchQueue* q) override
    {
        delegate = d;
        queue = q;
    }
    bool startCaptureWithError(QString*) override { return ++starts > 0; }
    void stopCapture() override { ++stops; }
};

class FakeDeckLinkBrowser : public KavioDeckLinkCaptureBrowserInterface {
public:
    QList<std::shared_ptr<KavioDeckLinkCaptureDevice>> devices;
    QList<std::shared_ptr<KavioDeckLinkCaptureDevice>> connectedDevices() const override { return devices; }
};

inline KavioVideoFormatRef deckLinkFormat(std::uint32_t mode, std::uint32_t pixel, std::int64_t value = 1,
                                          std::int32_t timescale = 25)
{
    auto format = std::make_shared<KavioVideoFormatDescription>();
    format->displayMode = mode;
    format->pixelFormat = pixel;
    format->width = 1920;
    format->height = 1080;
    format->frameDurationValue = value;
    format->frameDurationTimescale = timescale;
    return format;
}

// The colour of a '2vuy' picture's first pixel, through BT.601 video range.
inline QColor colorOf2vuy(const std::uint8_t* p)
{
    const double cb = p[0] - 128.0, y = (p[1] - 16.0) * 255.0 / 219.0, cr = p[2] - 128.0;
    const auto clamp = [](double v) { return std::clamp(int(std::lround(v)), 0, 255); };
    return QColor(clamp(y + 1.596 * cr), clamp(y - 0.392 * cb - 0.813 * cr),
                  clamp(y + 2.017 * cb));
}

// Colours within a tolerance per channel.
inline bool isNear(const QColor& a, const QColor& b, int tolerance = 40)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// A cue that keeps the DeckLink audio it is given.
class AudioCue : public KavioVideoItem {
public:
    std::mutex mutex;
    std::vector<std::shared_ptr<const PcmBuffer>> buffers;
    void receivedAudioPCMBuffer(const std::shared_ptr<const PcmBuffer>& buffer) override
    {
        std::lock_guard lock(mutex);
        buffers.push_back(buffer);
    }
    std::size_t count()
    {
        std::lock_guard lock(mutex);
        return buffers.size();
    }
};
