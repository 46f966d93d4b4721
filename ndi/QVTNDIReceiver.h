#pragma once
// One connection to an NDI source, turning what arrives into the media layer's frames and
// PCM buffers. Captures never wait.
//
// Video by the frame's FourCC: UYVY becomes '2vuy' ('v210' when made for high bit depth), P216
// becomes 'v210', BGRA and BGRX become BGRA (hasAlpha); other FourCCs and zero-sized frames are
// dropped (logged once per kind). Rows are copied honouring the frame's stride and ours. Frames
// come from a pool of at least two buffers per size and format, remade when either changes.
//
// Threads: pixelBuffer on one thread at a time (the cue's queue); audioPCMBuffer on one thread
// at a time (the cue's audio path); removeResources not while a capture runs. Frames and
// buffers handed out belong to the caller and may outlive the receiver.

#include "PcmBuffer.h"
#include "PcmFormat.h"
#include "VideoFrame.h"

#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <memory>

class FrameTransferSession;
namespace ndi {
class NdiBackend;
class Receiver;
struct VideoFrame;
}  // namespace ndi

class QVTNDIReceiver {
public:
    static constexpr const char* kReceiverName = "QVTNDIReceiver";
    static constexpr int kPoolMinimum = 2;

    // A receiver connected to the source dictionary ("kQVTNDISourceName", "kQVTNDISourceIP");
    // nullptr when the backend makes none ("was not able to create NDI receiver instance...").
    static std::shared_ptr<QVTNDIReceiver> initWithSource(const QVariantMap& source, bool highBitDepth);
    static std::shared_ptr<QVTNDIReceiver> initWithSource(const QVariantMap& source, bool highBitDepth,
                                                          ndi::NdiBackend& backend);
    ~QVTNDIReceiver();
    QVTNDIReceiver(const QVTNDIReceiver&) = delete;
    QVTNDIReceiver& operator=(const QVTNDIReceiver&) = delete;

    // The next waiting video frame, or nullptr. Updates hasAlpha and isYUV.
    VideoFrameRef pixelBuffer();
    bool hasAlpha() const { return hasAlpha_.load(); }
    bool isYUV() const { return isYUV_.load(); }
    // The next waiting planar float audio frame, or nullptr.
    std::shared_ptr<const PcmBuffer> audioPCMBuffer();
    // Whether a video frame waits.
    bool hasNewPixelBuffer();
    // 32-bit float, non-interleaved, discrete channels in order.
    static PcmFormat generateProcessingFormatWithSamplerate(double sampleRate, int32_t channels);
    // What this receiver shows its source (program, preview).
    void setTally(bool onProgram, bool onPreview);
    // Ends the connection and drops the pool.
    void removeResources();

private:
    QVTNDIReceiver(bool highBitDepth, ndi::NdiBackend& backend);
    bool fill(const ndi::VideoFrame& in, MediaPixelFormat format, uint8_t* out, int outStride);

    ndi::NdiBackend& backend_;
    const bool ishighbitdepth;
    std::unique_ptr<ndi::Receiver> ndi_receiver;
    struct Pool;
    std::shared_ptr<Pool> pixelbufferpool;
    int32_t xres = 0, yres = 0;
    std::unique_ptr<FrameTransferSession> transfer_;  // UYVY to v210 at high bit depth
    uint32_t lastDropped_ = 0;
    std::atomic<bool> hasAlpha_{false}, isYUV_{false};
};
