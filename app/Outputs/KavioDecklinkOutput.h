#pragma once
// The playback sink of one DeckLink output: each frame's picture (the output texture read back
// as 8-bit BGRA) converted into the card's pixel format through a pool of buffers and played on
// the output's device. '2vuy' for YUV, 'v210' for YUV at high bit depth, 'BGRA' while the card
// keys (YUV off). The pool follows the last size and path: a change rebuilds it on the next
// frame. A picture that cannot be converted is dropped, never played half-made. Audio does not
// pass here: the output object hands it to the same device.
//
// Threads: sendTexture from one thread at a time (the output's GPU completion thread);
// outputDevice and deviceUID from any thread.

#include "Cue/KavioAtomicProperty.h"

#include "DeckLinkDevice.h"

#include <QSizeF>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class BGRAPictureConverter;

class KavioDecklinkOutput : public std::enable_shared_from_this<KavioDecklinkOutput> {
public:
    explicit KavioDecklinkOutput(bool highBitDepth);
    ~KavioDecklinkOutput();
    KavioDecklinkOutput(const KavioDecklinkOutput&) = delete;
    KavioDecklinkOutput& operator=(const KavioDecklinkOutput&) = delete;

    std::shared_ptr<decklink::DeckLinkDevice> outputDevice() const { return outputDevice_.load(); }
    void setOutputDevice(std::shared_ptr<decklink::DeckLinkDevice> device) { outputDevice_.store(std::move(device)); }
    QString deviceUID() const { return deviceUID_.load(); }
    void setDeviceUID(const QString& uid) { deviceUID_.store(uid); }

    // Plays one frame of `size` from BGRA rows of `bytesPerRow` bytes.
    void sendTexture(const uint8_t* bgra, int bytesPerRow, QSizeF size, bool useYUV);

    // {"deviceUID"}. loadWithData takes it when present, then deactivates the device's playback
    // and drops the device once it reports back ("Decklink device will remove!").
    QVariantMap saveData() const;
    void loadWithData(const QVariantMap& data);

    // The pool's pixel format, and how often it was built. Tests.
    uint32_t poolPixelFormat() const { return poolFormat_.load(); }
    int poolBuildCount() const { return poolBuilds_.load(); }

private:
    const bool ishighbithdepth_;
    std::atomic<std::shared_ptr<decklink::DeckLinkDevice>> outputDevice_;
    KavioLockedValue<QString> deviceUID_;

    // The frame path's state.
    bool shouldrebuild = false;
    bool use_yuv = true;
    QSizeF outputSize{0, 0};
    std::vector<std::shared_ptr<decklink::PixelBuffer>> pool;
    std::unique_ptr<BGRAPictureConverter> converter_;
    std::atomic<uint32_t> poolFormat_{0};
    std::atomic<int> poolBuilds_{0};
};
