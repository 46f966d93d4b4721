#pragma once
// What the camera manager uses of DeckLink inputs: the device browser's list, the devices'
// capture formats and their delivery of video, s16 audio and format changes. The DeckLink
// browser of the outputs implements it; until then the shared browser lists no device, and
// tests give recording fakes.
//
// KavioDeckLinkBrowser's inputs face implements the browser and installs itself with
// setSharedBrowser; the browser posts the two device notifications below.

#include "VideoFrame.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

class DispatchQueue;

// A video format of an input: its display mode (a four-character code such as 'Hp25'), its
// pixel code ('2vuy', 'v210') and its frame duration value / timescale (1001 / 30000 for 29.97).
// Camera devices of the system describe their active format the same way, without a display
// mode. Shared as std::shared_ptr<const ...>: holders keep it alive.
struct KavioVideoFormatDescription {
    std::uint32_t displayMode = 0;
    std::uint32_t pixelFormat = 0;
    int width = 0;
    int height = 0;
    std::int64_t frameDurationValue = 0;
    std::int32_t frameDurationTimescale = 0;
};
using KavioVideoFormatRef = std::shared_ptr<const KavioVideoFormatDescription>;

// An audio format an input can capture.
struct KavioDeckLinkAudioFormat {
    double sampleRate = 48000;
    std::uint32_t channels = 2;
};

// One captured block of audio as the input hands it over. Only 'lpcm' with the signed-integer
// flag and 16 bits per channel is taken; `data` holds `byteSize` bytes of interleaved samples.
struct KavioDeckLinkAudioBuffer {
    static constexpr std::uint32_t kFormatLinearPCM = 0x6C70636D;  // 'lpcm'
    static constexpr std::uint32_t kFlagIsSignedInteger = 1u << 2;
    std::uint32_t formatID = kFormatLinearPCM;
    std::uint32_t formatFlags = kFlagIsSignedInteger;
    std::uint32_t bitsPerChannel = 16;
    std::uint32_t channelsPerFrame = 2;
    std::uint32_t bytesPerFrame = 4;
    double sampleRate = 48000;
    std::uint32_t sampleCount = 0;  // frames the buffer says it holds
    const void* data = nullptr;
    std::size_t byteSize = 0;
};

class KavioDeckLinkCaptureDevice;

// Receives an input's deliveries, on the queue given with setCaptureDelegate.
class KavioDeckLinkCaptureDelegate {
public:
    virtual ~KavioDeckLinkCaptureDelegate() = default;
    virtual void didCaptureVideoSampleBuffer(KavioDeckLinkCaptureDevice* device, VideoFrameRef frame) = 0;
    virtual void didCaptureAudioSampleBuffer(KavioDeckLinkCaptureDevice* device, const KavioDeckLinkAudioBuffer& buffer) = 0;
    virtual void didChangeActiveVideoFormatDescription(KavioDeckLinkCaptureDevice* device, KavioVideoFormatRef format) = 0;
};

class KavioDeckLinkCaptureDevice {
public:
    virtual ~KavioDeckLinkCaptureDevice() = default;
    // 1 or more when valid.
    virtual std::int64_t persistantID() const = 0;
    virtual std::int64_t topologicalID() const = 0;
    virtual QString displayName() const = 0;
    virtual bool captureSupported() const = 0;
    virtual QList<KavioVideoFormatRef> captureVideoFormatDescriptions() const = 0;
    virtual QList<KavioDeckLinkAudioFormat> captureAudioFormatDescriptions() const = 0;
    virtual KavioVideoFormatRef captureActiveVideoFormatDescription() const = 0;
    // False with a readable error on failure.
    virtual bool setCaptureActiveVideoFormatDescription(KavioVideoFormatRef format, QString* error) = 0;
    virtual bool setCaptureActiveAudioFormatDescription(const KavioDeckLinkAudioFormat& format, QString* error) = 0;
    // Video, audio and format changes go to `delegate` on `queue`; nullptr stops them. The
    // delegate must outlive its registration.
    virtual void setCaptureDelegate(KavioDeckLinkCaptureDelegate* delegate, DispatchQueue* queue) = 0;
    virtual bool startCaptureWithError(QString* error) = 0;
    virtual void stopCapture() = 0;

    // The UID text of a device: the persistent id when 1 or more, else the topological id when 1
    // or more, as "%d"; empty otherwise.
    QString uid() const;
};

class KavioDeckLinkCaptureBrowserInterface {
public:
    virtual ~KavioDeckLinkCaptureBrowserInterface() = default;
    virtual QList<std::shared_ptr<KavioDeckLinkCaptureDevice>> connectedDevices() const = 0;
    // The first connected device whose UID text (see uid()) equals `uid`; nullptr without uid or
    // match.
    std::shared_ptr<KavioDeckLinkCaptureDevice> deviceWithUID(const QString& uid) const;

    // The process's browser; one that lists no device until one is set. Any thread.
    static std::shared_ptr<KavioDeckLinkCaptureBrowserInterface> sharedBrowser();
    static void setSharedBrowser(std::shared_ptr<KavioDeckLinkCaptureBrowserInterface> browser);
};

// Posted on the default centre with the device's name and UID text (see uid()) as user info; the
// object is the backend's device and means nothing here.
inline const QString kDeckLinkDeviceNameKey = QStringLiteral("KavioDeckLinkDeviceName");
inline const QString kDeckLinkDeviceUIDKey = QStringLiteral("KavioDeckLinkDeviceUID");
inline const QString kDeckLinkDeviceWasConnectedNotification = QStringLiteral("DeckLinkDeviceWasConnectedNotification");
inline const QString kDeckLinkDeviceWasDisconnectedNotification = QStringLiteral("DeckLinkDeviceWasDisconnectedNotification");
