#pragma once
// One video output: where the composed picture of every frame leaves the program. Its kind
// decides the destination: 10 a screen (a frameless stay-on-top window covering the screen),
// 20 frame sharing, 30 NDI, 40 DeckLink (the last three keep their window hidden and hand a copy
// of each frame to their sink once the GPU finished it). Every output owns its window with the
// drawable view that projects the picture (corner pin, span cell, orientation, edge blending)
// and one audio streamer of the streamers manager, keyed by its UUID.
//
// Threads: creation, kind and settings changes, orderFront/orderOut, records and mouse events on
// the main thread; the pass (renderWithTexture, renderTestCard, handleAudioOutput,
// handleClearOutputIfNeeded) on the rendering thread; the hand-over on the GPU's completion
// thread. The records the rendering thread reads (frame, corners, edge blend, span, location)
// are sequence-locked values: a reader never sees half a write and never waits.

#include "Cue/KavioAtomicProperty.h"
#include "Outputs/KavioVideoOutputMTKView.h"

#include "GpuDisplayLink.h"

#include <QByteArray>
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class DispatchQueue;
class GpuTexture;
class KavioAudioStreamersManagerInterface;
class KavioDecklinkOutput;
class QVTAudioStreamer;
class QVTNDISender;
namespace decklink {
class DeckLinkDevice;
}
class QVTMetalManager;
class QWindow;
class SyphonServer;

enum KavioVideoOutputType : std::int32_t {
    KavioVideoOutputTypeScreen = 10,
    KavioVideoOutputTypeSyphon = 20,
    KavioVideoOutputTypeNDI = 30,
    KavioVideoOutputTypeDeckLink = 40,
};

// Identity of a bound display: four unsigned 32-bit numbers, in this order.
struct KavioScreenInfo {
    std::uint32_t serial = 0, vendor = 0, model = 0, displayid = 0;
    friend bool operator==(const KavioScreenInfo&, const KavioScreenInfo&) = default;
    // 16 bytes, little-endian, in field order.
    QByteArray data() const;
    // Copies exactly 16 bytes; anything else leaves `info` as it is and answers false.
    static bool fromData(const QByteArray& data, KavioScreenInfo& info);
};

struct KavioScreenSpan {
    std::int32_t rows = 0, cols = 0;
};
struct KavioScreenLocation {
    std::int32_t row = 0, col = 0;
};

struct KavioEdgeBlendSettings {
    std::int64_t leftEdgeWidth = 0, rightEdgeWidth = 0, topEdgeWidth = 0, bottomEdgeWidth = 0;
    float leftEdgePower = 1.0f, rightEdgePower = 1.0f, topEdgePower = 1.0f, bottomEdgePower = 1.0f;
    // 48 bytes: the four widths as signed 64-bit, then the four powers as 32-bit floats.
    QByteArray data() const;
    static bool fromData(const QByteArray& data, KavioEdgeBlendSettings& settings);
};

struct KavioPoint32 {
    float x = 0, y = 0;
};
struct KavioCornerCoords {
    KavioPoint32 topLeft{-1, 1}, topRight{1, 1}, bottomLeft{-1, -1}, bottomRight{1, -1};
    // 32 bytes: x, y of top left, top right, bottom left, bottom right.
    QByteArray data() const;
    static bool fromData(const QByteArray& data, KavioCornerCoords& coords);
};

class KavioVideoOutputObject : public std::enable_shared_from_this<KavioVideoOutputObject> {
public:
    // Log texts of creation failures.
    static constexpr const char* kCannotInitObject = "cannot init KavioFullscreenObject";

    // Creates the hidden window and its view, the output's queue, UUID and audio streamer, and
    // observes "KavioAudioChannelsChanged". Main thread.
    KavioVideoOutputObject(const QRectF& frame, bool highBitDepth, QVTMetalManager& gpu,
                           std::shared_ptr<KavioAudioStreamersManagerInterface> streamers);
    ~KavioVideoOutputObject();
    KavioVideoOutputObject(const KavioVideoOutputObject&) = delete;
    KavioVideoOutputObject& operator=(const KavioVideoOutputObject&) = delete;

    // Hides the window, drops the view's drawable, the streamer, the test card and the sink.
    // Called by the manager before it drops the output. Main thread.
    void removeResources();

    // --- Kind and identity (main thread) ---
    std::int32_t videoOutputType() const { return videoOutputType_.load(); }
    // Stores the kind and builds its sink, tearing the others down; a sink that exists stays
    // (its name keeps the index it was made with). Unknown kinds change only the stored kind.
    // NDI: a sender "Kavio NDI #<index>" pulling from the output's streamer; DeckLink: a card
    // output without a device until setDecklinkOutputDevice.
    void setVideoOutputType(std::int32_t type);
    // The sinks of kinds 30 and 40, or nullptr. Any thread.
    std::shared_ptr<QVTNDISender> ndiSender() const { return ndisender_.load(); }
    std::shared_ptr<KavioDecklinkOutput> decklinkOutput() const { return decklinkoutput_.load(); }
    std::uint64_t index() const { return index_.load(); }
    void setIndex(std::uint64_t index) { index_.store(index); }
    const QString& uuid() const { return uuid_; }
    // Kind 20's frame-sharing source, or nullptr: named "Kavio Syphon #<index>" when made, it
    // follows the output's size (remade on the GPU's thread when the size changes). Any thread.
    std::shared_ptr<SyphonServer> syphonServer() const { return syphonserver_.load(); }
    QString screenName() const { return screenName_.load(); }
    void setScreenName(const QString& name) { screenName_.store(name); }
    KavioScreenInfo screenInfo() const { return screenInfo_.load(); }
    void setScreenInfo(const KavioScreenInfo& info) { screenInfo_.store(info); }

    // --- Geometry and settings (main thread writes; the rendering thread reads) ---
    QRectF frame() const { return frame_.load(); }
    void setFrame(const QRectF& frame);
    KavioScreenSpan screenSpan() const { return screenSpan_.load(); }
    void setScreenSpan(KavioScreenSpan span) { screenSpan_.store(span); }
    KavioScreenLocation screenLocation() const { return screenLocation_.load(); }
    void setScreenLocation(KavioScreenLocation location) { screenLocation_.store(location); }
    bool enableSpanMode() const { return enableSpanMode_.load(); }
    void setEnableSpanMode(bool on) { enableSpanMode_.store(on); }
    std::uint64_t orientation() const { return orientation_.load(); }
    void setOrientation(std::uint64_t degrees) { orientation_.store(degrees); }
    long warpMode() const { return warpMode_.load(); }
    void setWarpMode(long mode) { warpMode_.store(mode); }
    KavioCornerCoords cornerCoords() const { return cornerCoords_.load(); }
    void setCornerCoords(const KavioCornerCoords& coords) { cornerCoords_.store(coords); }
    bool edgeBlendEnabled() const { return edgeBlendEnabled_.load(); }
    void setEdgeBlendEnabled(bool on) { edgeBlendEnabled_.store(on); }
    KavioEdgeBlendSettings edgeBlendSettings() const { return edgeBlendSettings_.load(); }
    void setEdgeBlendSettings(const KavioEdgeBlendSettings& settings) { edgeBlendSettings_.store(settings); }
    // All widths 0, all powers 1.
    void resetEdgeBlend() { setEdgeBlendSettings({}); }
    bool colorMatteEnabled() const { return colorMatteEnabled_.load(); }
    void setColorMatteEnabled(bool on);
    bool timeOverlayEnabled() const { return timeOverlayEnabled_.load(); }
    void setTimeOverlayEnabled(bool on) { timeOverlayEnabled_.store(on); }
    bool subtitlesEnabled() const { return subtitlesEnabled_.load(); }
    void setSubtitlesEnabled(bool on) { subtitlesEnabled_.store(on); }
    bool isOnline() const { return isOnline_.load(); }
    void setIsOnline(bool on) { isOnline_.store(on); }
    bool isFullscreen() const { return isFullscreen_.load(); }
    bool shouldRedrawTestCard() const { return shouldRedrawTestCard_.load(); }
    void setShouldRedrawTestCard(bool redraw) { shouldRedrawTestCard_.store(redraw); }
    QString videoOutputFormatString() const { return videoOutputFormatString_.load(); }
    void setVideoOutputFormatString(const QString& name) { videoOutputFormatString_.store(name); }
    GpuTime framerate() const { return framerate_.load(); }
    void setFramerate(const GpuTime& rate) { framerate_.store(rate); }
    bool convertToYUV() const { return convertToYUV_.load(); }
    void setConvertToYUV(bool on) { convertToYUV_.store(on); }
    QString decklinkKeyer() const { return decklinkkeyer_.load(); }

    // --- DeckLink settings (main thread; each does nothing without a DeckLink output) ---
    // The card that plays this output.
    void setDecklinkOutputDevice(std::shared_ptr<decklink::DeckLinkDevice> device);
    // Activates every playback format of the device with that display mode ("video format set
    // to: ..."), then the audio format; a refusal is logged ("error ..., could not set Decklink
    // format to ...").
    void setDecklinkFormat(std::uint32_t displayMode);
    // The first playback audio format with at least the program's channels, else the last; its
    // channel count becomes outputChannels() once the device accepts it. Restarts the cadence.
    void setProperDecklinkAudioFormat();
    // "Internal" or "External" key with alpha 1.0 and send RGBA once the device accepts; anything
    // else keys off and sends YUV, even when the device refuses. A refusal keeps the keyer.
    void setDecklinkKeyer(const QString& keyer);
    // "audioChannels" changed: the program's channel count, then the card's audio format.
    void audioChannelsChanged();
    std::int32_t audioChannels() const { return audiochannels_.load(); }
    std::int32_t outputChannels() const { return outputchannels_.load(); }
    // --- Showing (main thread) ---
    // Online: the window takes `frame` (a screen window comes to the front). Always: active.
    void orderFront();
    // Hides the window, clears the view, arms one blank frame when the view ever drew.
    void orderOut();
    // Main thread only (re-issued there from any other thread): a new frame, also applied to
    // the window of an active, online output.
    void changeFrameIfNeeded(const QRectF& frame);
    // The pointer over the output's window: hides the cursor when "disableMouseCursorHide" is on.
    void mouseEntered();
    void mouseExited();
    bool cursorHidden() const { return cursorhidden_; }
    QWindow* window() const { return window_.get(); }
    KavioVideoOutputMTKView* mtkView() const { return mtkView_.get(); }

    // --- Per frame (rendering thread) ---
    // Encodes this output's pass of `texture` (nullptr: only clear) with the overlay into the
    // frame's command buffer. `atSize` is the render resolution; the paddings are the blend
    // widths of the outputs left of and above this one. Screens handle their audio now; other
    // kinds hand the frame over once the GPU finished it.
    void renderWithTexture(const std::shared_ptr<GpuTexture>& texture, const std::shared_ptr<GpuTexture>& overlay,
                           bool hasCaption, QSizeF atSize, std::uint16_t edgeBlendPaddingX,
                           std::uint16_t edgeBlendPaddingY);
    // The pass with the test card (drawn again when missing or marked for redraw).
    void renderTestCardWithEdgeBlendPaddingX(std::uint64_t paddingX, std::uint64_t paddingY);
    // Draws the card of that size into testCardTexture; a zero size keeps the previous card.
    void generateTestCardWithSize(QSizeF size, std::uint64_t paddingX, std::uint64_t paddingY);
    void destroyTestCard() { testCardTexture_.reset(); }
    std::shared_ptr<GpuTexture> testCardTexture() const { return testCardTexture_; }
    // The card as a picture (premultiplied ARGB, top row first). Pure but for the icon's file.
    static QImage drawTestCard(QSizeF size, std::uint64_t paddingX, std::uint64_t paddingY, std::uint64_t index);
    // One frame's worth of 48 kHz audio from the streamer to the sink, or discarded. NDI: the
    // exact share of the frame rate, its fraction carried to the next frame; DeckLink: the
    // card's cadence at x/1001 rates (1601 nine times then 1607 at 29.97); screens and frame
    // sharing: the real time since the last pull (one frame's worth after orderFront). At most
    // 153600 frames.
    void handleAudioOutput();
    // A not-a-number elapsed time becomes one frame duration (logged).
    void checkElapsedTimeForNaN();
    // How often handleAudioOutput ran, and the frames it took last time (tests, benchmarks).
    std::uint64_t audioOutputCount() const { return audioOutputCount_.load(); }
    std::uint32_t lastAudioFrames() const { return lastAudioFrames_.load(); }
    // Sends one blank frame to the sink when orderOut armed one.
    void handleClearOutputIfNeeded();
    // Size of the view at the last pass; the output texture's size.
    QSizeF renderSize() const { return renderSize_.load(); }
    // The copy of the last frame that sinks receive, or nullptr. Completion thread / tests.
    std::shared_ptr<GpuTexture> outputTexture() const { return outputTexture_.load(); }

    // --- Records (main thread) ---
    QVariantMap saveData() const;
    // Restores the keys present; wrong-length blobs and unparsable frames keep the current value
    // (logged).
    void loadWithData(const QVariantMap& data);
    // The "frame" text: "{{x, y}, {w, h}}"; parse answers false for anything else.
    static QString stringFromRect(const QRectF& rect);
    static bool rectFromString(const QString& text, QRectF& rect);

    // The warp preview's data for the set-up window: the corners (bottom left, bottom right,
    // top left, top right) and the uniforms of a plain projection of that size.
    struct ProjectionData {
        KavioCornerCoords corners;
        KavioProjectionUniforms uniforms;
    };
    ProjectionData projectionDataForRenderingHelperForSize(QSizeF size) const;

private:
    void handOver(const std::shared_ptr<GpuTexture>& drawn, QSizeF size);
    void publishToSyphon();
    // The output texture as 8-bit BGRA rows in readback_; false when there is none to read.
    bool readBackOutputTexture(QSize& size);
    void sendReadbackToSink(QSize size);
    std::uint32_t audioFramesForThisFrame(std::int32_t kind, const GpuTime& rate);
    void showCursorIfHidden();

    QVTMetalManager& gpu_;
    std::shared_ptr<KavioAudioStreamersManagerInterface> streamers_;
    std::unique_ptr<DispatchQueue> queue;
    QString uuid_;
    std::unique_ptr<QWindow> window_;
    std::unique_ptr<KavioVideoOutputMTKView> mtkView_;
    std::shared_ptr<QVTAudioStreamer> audiostreamer_;  // touched on `queue`
    std::atomic<std::shared_ptr<SyphonServer>> syphonserver_;
    std::atomic<std::shared_ptr<QVTNDISender>> ndisender_;
    std::atomic<std::shared_ptr<KavioDecklinkOutput>> decklinkoutput_;
    std::vector<std::uint8_t> readback_;  // the GPU thread's copy for the sink
    std::vector<std::uint16_t> readbackHalves_;  // the same at high bit depth, before narrowing
    const bool highbitdepth_;

    std::atomic<std::int32_t> videoOutputType_{0};
    std::atomic<std::uint64_t> index_{1};
    KavioLockedValue<QString> screenName_;
    KavioLockedValue<QString> videoOutputFormatString_;
    KavioLockedValue<QString> decklinkkeyer_{QStringLiteral("None")};
    KavioSeqLocked<KavioScreenInfo> screenInfo_;
    KavioSeqLocked<QRectF> frame_;
    KavioSeqLocked<KavioScreenSpan> screenSpan_;
    KavioSeqLocked<KavioScreenLocation> screenLocation_;
    KavioSeqLocked<KavioCornerCoords> cornerCoords_;
    KavioSeqLocked<KavioEdgeBlendSettings> edgeBlendSettings_;
    KavioSeqLocked<GpuTime> framerate_{GpuTime{60000, 1000, 0}};
    std::atomic<bool> enableSpanMode_{false};
    std::atomic<std::uint64_t> orientation_{0};
    std::atomic<long> warpMode_{0};
    std::atomic<bool> edgeBlendEnabled_{false};
    std::atomic<bool> colorMatteEnabled_{false};
    std::atomic<bool> timeOverlayEnabled_{false};
    std::atomic<bool> subtitlesEnabled_{true};
    std::atomic<bool> isOnline_{true};
    std::atomic<bool> isFullscreen_{false};
    std::atomic<bool> shouldRedrawTestCard_{true};
    std::atomic<bool> convertToYUV_{true};
    std::atomic<bool> shouldclearoutputs_{false};
    std::atomic<std::int32_t> audiochannels_{2};
    std::atomic<std::int32_t> outputchannels_{2};
    std::atomic<std::uint32_t> framecounter_{0};  // the DeckLink cadence's place, 0-9
    std::atomic<std::uint64_t> ndiAudioFrames_{0};  // video frames since orderFront, for NDI's share
    std::atomic<double> elapsedtime_{0};
    std::atomic<std::uint64_t> audioOutputCount_{0};
    std::atomic<std::uint32_t> lastAudioFrames_{0};
    bool cursorhidden_ = false;

    // Rendering thread.
    KavioSeqLocked<QSizeF> renderSize_;  // read by the completion thread too
    QSizeF inputTextureSize_{1, 1};
    std::atomic<std::shared_ptr<GpuTexture>> outputTexture_;
    std::shared_ptr<GpuTexture> testCardTexture_;
};
