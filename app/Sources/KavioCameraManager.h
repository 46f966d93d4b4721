#pragma once
// The process's capture devices as the camera cues use them. One KavioCamera per device in use,
// shared by the cues that show it (its clients) and released with its last client. Two slots keep
// the newest frame of the current cue's device (primary) and of the next cue's (secondary); the
// render path pulls a shared reference to it, never a pixel copy. DeckLink audio becomes planar
// float and goes to the slots' client cues. Device arrival and removal reconnect the cameras,
// rename their cues and post "KavioCameraSourcesChanged".
//
// Threads: every field, the slots and the client sets live on the queue
// "com.dalvek.kaviocameramanager"; each public operation runs its work synchronously there (inline
// when already on it, so a capture callback may call them). Frames, DeckLink audio and format
// changes are delivered there. Connecting a camera (creation, device events) runs on the queue
// too: a device opens on its stream's own thread, so connecting is quick, and no frame or slot
// ever sees a camera half connected. Device events arrive, and "KavioCameraSourcesChanged" is
// posted, on the thread that posted the device's notification.

#include "Cue/KavioLiveSourceInterfaces.h"
#include "Sources/KavioDeckLinkCaptureInterface.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class CaptureService;
class DispatchQueue;
class KavioCamera;
class KavioVideoItem;
class PcmBuffer;
class PcmFormat;
struct Notification;

inline const QString kKavioCameraSourcesChangedNotification = QStringLiteral("KavioCameraSourcesChanged");
inline const QString kKavioCameraManagerQueueLabel = QStringLiteral("com.dalvek.kaviocameramanager");

// A menu entry of the common DeckLink formats: the display-mode name and its format.
struct KavioFormatMenuItem {
    QString title;
    KavioVideoFormatRef format;
};

class KavioCameraManager : public KavioCameraManagerInterface, public KavioDeckLinkCaptureDelegate {
public:
    // The process's manager over CaptureService::shared() and the shared DeckLink browser; made on
    // first use, when it also becomes KavioCameraManagerInterface's shared manager.
    static std::shared_ptr<KavioCameraManager> sharedManager();

    // Observes the capture service's and the DeckLink browser's device notifications.
    KavioCameraManager(CaptureService& capture, std::shared_ptr<KavioDeckLinkCaptureBrowserInterface> deckLink);
    // Drops both newest frames and releases every camera.
    ~KavioCameraManager() override;
    KavioCameraManager(const KavioCameraManager&) = delete;
    KavioCameraManager& operator=(const KavioCameraManager&) = delete;

    // The first camera whose UID equals `uid` (when given), else the first of that name; nullptr
    // without either or a match. Valid while the camera has clients.
    KavioCamera* findCameraWithUID(const QString& uid, const QString& name);
    // A cue starts using a device: its camera is made (and connected) when none exists, and the
    // cue joins its clients (once).
    void startCaptureWithDevice(const QString& name, const std::shared_ptr<KavioVideoItem>& item, const QString& deviceUID);
    // A cue stops using a device; the last client's leaving releases the camera. The slots keep
    // their device and frame.
    void removeItem(const KavioVideoItem* item, const QString& name, const QString& deviceUID);
    // The primary or secondary slot takes the device's camera (none: the slot is emptied; empty
    // name and UID clear it). The slot's newest frame stays until the new device delivers.
    // Logs "setCurrentDevice: %@" / "setSecondaryDevice: %@".
    void setCurrentDevice(const QString& name, const QString& deviceUID);
    void setSecondaryDevice(const QString& name, const QString& deviceUID);

    // The slot's newest frame as a new reference sharing its pixels (nullptr before any frame).
    // The manager keeps it until the next pull of the same slot, and drops the previous one then.
    VideoFrameRef videoSampleBufferCopy() override;
    VideoFrameRef videoSampleBufferSecondary() override;

    // The matching camera's missing flag: true when its device is absent, false when present AND
    // when no camera matches. The name says the opposite of the answer; cues store it as their
    // missing flag, so it is kept as it stands.
    bool deviceIsAvailable(const QString& name, const QString& deviceUID);
    // The device's active format (DeckLink: the camera's chosen format); nullptr when unknown.
    KavioVideoFormatRef formatDescriptionOfDevice(const QString& name, const QString& deviceUID);
    // Frames per second; 0 when unknown (a DeckLink frame duration of value 0 included).
    float fpsOfDevice(const QString& name, const QString& deviceUID);
    // The operator's format for a DeckLink camera: kept and applied by reconnecting. Logs
    // "apply manual video format change... ".
    void setVideoFormat(KavioVideoFormatRef format, const QString& name, const QString& deviceUID);
    // DeckLink formats all listed devices ([name, UID] pairs) offer: the first present DeckLink
    // camera's 'v210' (high bit depth) or '2vuy' formats, kept when every later one has a format
    // of the same display-mode name. nullopt without a present DeckLink camera among them.
    std::optional<QList<KavioFormatMenuItem>> supportedCommonFormatsOfDecklinkDevices(const QList<QStringList>& devices);
    // The readable name of a DeckLink display-mode code; "unknown" outside the table.
    static QString displayModeNameWithDisplayModeNumber(std::uint32_t code);

    // Cameras connect for 10-bit formats; read at each connection.
    bool isHighBitDepth() const;
    void setIsHighBitDepth(bool highBitDepth);

    // Planar float at that rate and channel count, discrete channels in order.
    static PcmFormat generateProcessingFormatWithSamplerate(double sampleRate, std::uint32_t channels);
    // DeckLink audio as float: sample / 32768, at most the buffer's own frame count. nullptr (and
    // logged) for anything but signed 16-bit linear PCM, or no channels or bytes per frame.
    static std::shared_ptr<PcmBuffer> convertDeckLinkAudio(const KavioDeckLinkAudioBuffer& buffer);

    // A device came or went (a capture-service or DeckLink notification).
    void cameraSourcesChanged(const Notification& notification);

    // Delivery of the devices, on the queue.
    void captureOutput(std::uint64_t output, VideoFrameRef frame);
    void didCaptureVideoSampleBuffer(KavioDeckLinkCaptureDevice* device, VideoFrameRef frame) override;
    void didCaptureAudioSampleBuffer(KavioDeckLinkCaptureDevice* device, const KavioDeckLinkAudioBuffer& buffer) override;
    void didChangeActiveVideoFormatDescription(KavioDeckLinkCaptureDevice* device, KavioVideoFormatRef format) override;

    // For the cameras.
    CaptureService& capture() const { return capture_; }
    const std::shared_ptr<KavioDeckLinkCaptureBrowserInterface>& deckLink() const { return deckLink_; }
    DispatchQueue& cameraFramesQueue() const { return *queue_; }
    std::uint64_t nextOutputIdentity();
    // Number of cameras in use.
    std::size_t deviceCount();

private:
    struct Slot {
        VideoFrameRef captureVideoSampleBuffer;
        VideoFrameRef copiedVideoSampleBuffer;
        std::uint64_t currentVideoOutput = 0;
        std::shared_ptr<KavioDeckLinkCaptureDevice> currentDecklinkDevice;
        std::shared_ptr<KavioCamera> device;  // keeps the camera while the slot holds it
    };
    void fillSlot(Slot& slot, const QString& name, const QString& deviceUID);
    static VideoFrameRef pull(Slot& slot);
    std::shared_ptr<KavioCamera> findOnQueue(const QString& uid, const QString& name);

    CaptureService& capture_;
    std::shared_ptr<KavioDeckLinkCaptureBrowserInterface> deckLink_;
    std::vector<std::shared_ptr<KavioCamera>> devices_;
    Slot primary_, secondary_;
    bool isHighBitDepth_ = false;
    std::uint64_t outputCounter_ = 0;
    // Last: it goes first, running its queued deliveries while the fields above still live.
    std::unique_ptr<DispatchQueue> queue_;
};
