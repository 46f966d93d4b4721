#include "Sources/KavioCamera.h"

#include "Sources/KavioCameraManager.h"
#include "CaptureDevice.h"
#include "DispatchQueue.h"
#include "Log.h"

#include <cmath>

namespace {

constexpr std::uint32_t kPixel2vuy = fourCC("2vuy");
constexpr std::uint32_t kPixelV210 = fourCC("v210");

}  // namespace

KavioCamera::KavioCamera(const QString& name, const QString& deviceUID, KavioCameraManager* manager, bool isDecklink)
    : manager_(manager), isDeckLinkDevice_(isDecklink), deviceName_(name), deviceUID_(deviceUID)
{
    connectWithManager();
    KLOG_VERBOSE("camera is initiated: {} (isDecklink: {})", name.toStdString(), int(isDecklink));
}

KavioCamera::~KavioCamera()
{
    removeResources();
}

QList<KavioVideoFormatRef> KavioCamera::filteredVideoFormatDescriptionsFromArray(const QList<KavioVideoFormatRef>& formats,
                                                                                 std::uint32_t filterFormat)
{
    QList<KavioVideoFormatRef> result;
    for (const auto& format : formats)
        if (format && format->pixelFormat == filterFormat)
            result.append(format);
    return result;
}

void KavioCamera::connectWithManager()
{
    removeResources();
    if (!isDeckLinkDevice_ && !manager_->capture().devices().isEmpty())
        connectSystemCamera();
    else
        connectDeckLink();
}

void KavioCamera::connectSystemCamera()
{
    const QList<CaptureDeviceInfo> devices = manager_->capture().devices();
    isMissing_ = false;
    auto found = std::find_if(devices.begin(), devices.end(),
                              [&](const CaptureDeviceInfo& d) { return !deviceUID_.isEmpty() && d.uid == deviceUID_; });
    if (found == devices.end())
        found = std::find_if(devices.begin(), devices.end(), [&](const CaptureDeviceInfo& d) { return d.name == deviceName_; });
    if (found == devices.end()) {
        isMissing_ = true;
        return;
    }
    const std::uint64_t output = manager_->nextOutputIdentity();
    KavioCameraManager* manager = manager_;
    // Frames go to the manager's queue; the stream ends (and so does this handler) before the
    // camera and the manager go.
    stream_ = manager_->capture().start(found->uid, manager_->isHighBitDepth(), [manager, output](VideoFrameRef frame) {
        manager->cameraFramesQueue().async([manager, output, frame = std::move(frame)] { manager->captureOutput(output, frame); });
    });
    if (stream_)
        captureVideoOutput_ = output;
    else
        isMissing_ = true;
}

void KavioCamera::connectDeckLink()
{
    const auto& browser = manager_->deckLink();
    std::shared_ptr<KavioDeckLinkCaptureDevice> device = browser ? browser->deviceWithUID(deviceUID_) : nullptr;
    if (!device && browser)
        for (const auto& candidate : browser->connectedDevices())
            if (candidate && candidate->captureSupported() && candidate->displayName() == deviceName_) {
                device = candidate;
                break;
            }
    if (!device) {
        isMissing_ = true;
        return;
    }
    decklinkInput_ = device;
    deviceName_ = device->displayName();
    if (!deckLinkFormat_)
        deckLinkFormat_ = device->captureActiveVideoFormatDescription();
    if (!deckLinkFormat_) {
        const auto formats = filteredVideoFormatDescriptionsFromArray(device->captureVideoFormatDescriptions(),
                                                                      manager_->isHighBitDepth() ? kPixelV210 : kPixel2vuy);
        if (!formats.isEmpty())
            deckLinkFormat_ = formats.first();
    }
    KLOG_VERBOSE("will set format: {}", deckLinkFormat_ ? KavioCameraManager::displayModeNameWithDisplayModeNumber(deckLinkFormat_->displayMode).toStdString() : std::string("(null)"));
    QString error;
    device->setCaptureActiveVideoFormatDescription(deckLinkFormat_, &error);
    KLOG_VERBOSE("setCaptureActiveVideoFormatDescription: {}", error.toStdString());
    error.clear();
    const auto audioFormats = device->captureAudioFormatDescriptions();
    if (!audioFormats.isEmpty())
        device->setCaptureActiveAudioFormatDescription(audioFormats.first(), &error);
    device->setCaptureDelegate(manager_, &manager_->cameraFramesQueue());
    KLOG_VERBOSE("setCaptureActiveAudioFormatDescription: {}", error.toStdString());
    error.clear();
    device->startCaptureWithError(&error);
    KLOG_VERBOSE("start DeckLink capture: {}", error.toStdString());
    isMissing_ = false;
    deviceName_ = device->displayName();
}

void KavioCamera::removeResources()
{
    stream_.reset();
    captureVideoOutput_ = 0;
    if (decklinkInput_) {
        decklinkInput_->stopCapture();
        decklinkInput_->setCaptureDelegate(nullptr, nullptr);
        decklinkInput_.reset();
    }
}

void KavioCamera::refreshInternalCameraName()
{
    if (!decklinkInput_ || !manager_->deckLink())
        return;
    for (const auto& device : manager_->deckLink()->connectedDevices())
        if (device && device->captureSupported() && !device->uid().isEmpty() && device->uid() == deviceUID_) {
            deviceName_ = device->displayName();
            return;
        }
}

KavioVideoFormatRef KavioCamera::activeFormat() const
{
    if (!stream_)
        return nullptr;
    const CaptureFormat format = stream_->format();
    if (format.width <= 0)
        return nullptr;
    auto description = std::make_shared<KavioVideoFormatDescription>();
    description->pixelFormat = std::uint32_t(format.pixelFormat);
    description->width = format.width;
    description->height = format.height;
    if (format.frameRate > 0) {
        description->frameDurationValue = 1000;
        description->frameDurationTimescale = std::int32_t(std::lround(format.frameRate * 1000.0));
    }
    return description;
}

std::vector<std::shared_ptr<KavioVideoItem>> KavioCamera::liveClients()
{
    std::vector<std::shared_ptr<KavioVideoItem>> live;
    // Only the cues that are gone leave the list.
    std::erase_if(connectedClients_, [&](const std::weak_ptr<KavioVideoItem>& weak) {
        auto cue = weak.lock();
        if (!cue)
            return true;
        live.push_back(std::move(cue));
        return false;
    });
    return live;
}
