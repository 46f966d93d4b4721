#pragma once
// What a cue reads of its live sources for its frames: the camera manager, an NDI receiver, the
// frame-sharing client and the web-page and window sources. The sources implement these; tests
// give recording fakes.

#include "Cue/KavioVideoItem.h"
#include "VideoFrame.h"

#include <QSizeF>
#include <QString>

#include <cstdint>
#include <memory>

class GpuTexture;
class PcmBuffer;
class QUrl;
class QWindow;

// The capture devices' newest frames. Each call replaces the manager's previous copy, which the
// manager keeps; a caller holding a frame keeps it alive by its own reference.
class KavioCameraManagerInterface {
public:
    virtual ~KavioCameraManagerInterface() = default;
    // The primary or the secondary device's newest frame; nullptr while it has delivered none.
    virtual VideoFrameRef videoSampleBufferCopy() = 0;
    virtual VideoFrameRef videoSampleBufferSecondary() = 0;

    // The process's camera manager; nullptr while there is none (KavioCameraManager's
    // sharedManager() installs itself on first use). Any thread.
    static std::shared_ptr<KavioCameraManagerInterface> sharedManager();
    // At start, or in tests.
    static void setSharedManager(std::shared_ptr<KavioCameraManagerInterface> manager);
};

// An NDI cue's receiver, touched only on the cue's NDI queue.
class KavioNDIReceiverInterface {
public:
    virtual ~KavioNDIReceiverInterface() = default;
    // Captures without waiting: the newest video frame, or nullptr when none arrived since the
    // last call ('2vuy' or 'v210' for YUV sources, else BGRA). Updates hasAlpha and isYUV.
    virtual VideoFrameRef pixelBuffer() = 0;
    virtual bool hasAlpha() const = 0;
    virtual bool isYUV() const = 0;
    // The newest received audio, or nullptr.
    virtual std::shared_ptr<const PcmBuffer> audioPCMBuffer() { return nullptr; }
};

// A source that delivers GPU textures: the frame-sharing client, and (through
// KavioRecordedSource) the web-page and window sources. Render thread.
class KavioTextureSourceInterface {
public:
    virtual ~KavioTextureSourceInterface() = default;
    // The newest frame, or nullptr.
    virtual std::shared_ptr<GpuTexture> texture() = 0;
};

// The web-page source's settings as the cue passes them through to the inspector. Main thread.
class KavioBrowserSourceInterface : public KavioRecordedSource {
public:
    virtual QString customCSS() const = 0;
    virtual void setCustomCSS(const QString& css) = 0;
    virtual bool shouldUnloadOnPause() const = 0;
    virtual void setShouldUnloadOnPause(bool unload) = 0;
    virtual std::int32_t renderSizeMultiplierTag() const = 0;
    virtual void setRenderSizeMultiplierTag(std::int32_t tag) = 0;
    // The page capture's size: the render size times the multiplier.
    virtual void setRenderSize(QSizeF renderSize) = 0;
    // Loads the page (again, for the same address), with the custom CSS.
    virtual void loadURL(const QUrl& url) = 0;
    // The off-screen window the page renders in.
    virtual QWindow* webWindow() const = 0;
    virtual void setWindowOriginToASafeArea() = 0;
    virtual void unloadPage() = 0;
};
