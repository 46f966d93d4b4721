#pragma once
// Publishes one video output as an NDI source: the output's picture each frame and its sound,
// and announces every change of the source's program tally with "StrevalSenderTallyStateChange"
// (object: the sender; user info {"state": on program}), posted on the main queue with the
// value taken at the change.
//
// Pictures come as 8-bit BGRA rows (the output reads its texture back) and leave as UYVY
// (BT.709 video range) when converted to YUV, P216 made from v210 at high bit depth, or BGRA.
// High bit depth without YUV sends BGRA: the NDI library has no half-float format. A picture
// that cannot be converted, or of zero size, is not sent.
//
// Threads: sendMetalTexture from one thread at a time (the output's GPU completion thread),
// sendAudioNumberOfSamples from the output's queue, removeResources from the owner; every send
// and the teardown run one at a time on the queue "com.dalvek.ndiaudiosend", so a teardown never
// cuts a send in half and the caller's memory is free when a call returns.

#include "QVTNDIAudioSource.h"

#include <QSizeF>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class DispatchQueue;
namespace ndi {
class NdiBackend;
class Sender;
}  // namespace ndi

// A frame rate: timeValue frames per timeScale seconds (24000/1001 is 23.976 fps).
struct QVTNDIFrameRate {
    int64_t timeValue = 60000;
    int32_t timeScale = 1000;
    int32_t flags = 0;
};

class QVTNDISender : public std::enable_shared_from_this<QVTNDISender> {
public:
    static constexpr const char* kTallyStateChangeNotification = "StrevalSenderTallyStateChange";
    static constexpr const char* kStateKey = "state";

    // A sender announcing `name`; one whose NDI instance could not be made ("error creating
    // NDI sender") is still returned and sends nothing. Never null.
    static std::shared_ptr<QVTNDISender> initWithName(const QString& name, bool highBitDepth);
    static std::shared_ptr<QVTNDISender> initWithName(const QString& name, bool highBitDepth,
                                                      ndi::NdiBackend& backend);
    ~QVTNDISender();
    QVTNDISender(const QVTNDISender&) = delete;
    QVTNDISender& operator=(const QVTNDISender&) = delete;

    // One frame: polls the tally, and while a receiver is connected converts the picture of
    // `size` (BGRA rows of `bytesPerRow` bytes, at least size's width and height) and sends it
    // at `framerate` (a timeValue of 0 is sent as 30000).
    void sendMetalTexture(const uint8_t* bgra, int bytesPerRow, QSizeF size, bool convertToYUV,
                          QVTNDIFrameRate framerate);
    // Pulls `samples` frames of `channelCount` channels from the audio source and sends them as
    // one 48 kHz planar float frame; nothing while the source is missing or disabled.
    void sendAudioNumberOfSamples(uint32_t samples, int32_t channelCount);
    // Takes the tally and posts a change of the program state.
    void checkTally();
    // Ends the NDI source; later sends do nothing.
    void removeResources();

    std::shared_ptr<QVTNDIAudioSource> audioSource() const;
    void setAudioSource(const std::shared_ptr<QVTNDIAudioSource>& source);

    bool hasSendNode() const;
    // Whether a receiver is connected now: callers skip reading their picture back without one
    // (and poll the tally with checkTally instead).
    bool hasReceivers() const;
    // The conversion buffers exist (made by the first frame sent to a receiver). Tests.
    bool hasPool() const { return poolBuilt_.load(); }

private:
    QVTNDISender(bool highBitDepth, ndi::NdiBackend& backend);
    bool convert(const uint8_t* bgra, int bytesPerRow, int width, int height);

    ndi::NdiBackend& backend_;
    const bool ishighbitdepth;
    std::unique_ptr<DispatchQueue> sendqueue;
    std::unique_ptr<ndi::Sender> sendNode;  // touched on sendqueue
    mutable std::mutex sourceMutex_;
    std::weak_ptr<QVTNDIAudioSource> audioSource_;
    bool tallyOnProgram_ = false;  // on the video path

    // The video path's state (one caller at a time).
    bool shouldrebuild = false;
    bool use_yuv = true;
    QSizeF outputRenderingSize{0, 0};
    std::atomic<bool> poolBuilt_{false};
    struct Converter;
    std::unique_ptr<Converter> converter_;
};
