#include "Sources/KavioCameraManager.h"

#include "Cue/KavioVideoItem.h"
#include "Sources/KavioCamera.h"
#include "CaptureDevice.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "PcmBuffer.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

struct DisplayMode {
    const char code[5];
    const char* name;
};

// DeckLink display-mode codes and their names. The 59.94 Hz 2K DCI mode is named "2kDCI59.97":
// project files and the inspector's menus carry that text.
constexpr std::array<DisplayMode, 62> kDisplayModes{{
    {"ntsc", "NTSC"}, {"nt23", "NTSC 23.98"}, {"pal ", "PAL"}, {"ntsp", "NTSC Progressive"}, {"palp", "PAL Progressive"},
    {"23ps", "1080p23.98"}, {"24ps", "1080p24"}, {"Hp25", "1080p25"}, {"Hp29", "1080p29.97"}, {"Hp30", "1080p30"},
    {"Hi50", "1080i50"}, {"Hi59", "1080i59.94"}, {"Hi60", "1080i60"}, {"Hp50", "1080p50"}, {"Hp59", "1080p59.94"},
    {"Hp60", "1080p60"},
    {"hp50", "720p50"}, {"hp59", "720p59.94"}, {"hp60", "720p60"},
    {"2k23", "2k23.98"}, {"2k24", "2k24"}, {"2k25", "2k25"},
    {"2d23", "2kDCI23.98"}, {"2d24", "2kDCI24"}, {"2d25", "2kDCI25"}, {"2d29", "2kDCI29.97"}, {"2d30", "2kDCI30"},
    {"2d50", "2kDCI50"}, {"2d59", "2kDCI59.97"}, {"2d60", "2kDCI60"},
    {"4k23", "4K2160p23.98"}, {"4k24", "4K2160p24"}, {"4k25", "4K2160p25"}, {"4k29", "4K2160p29.97"},
    {"4k30", "4K2160p30"}, {"4k50", "4K2160p50"}, {"4k59", "4K2160p59.94"}, {"4k60", "4K2160p60"},
    {"4d23", "4kDCI23.98"}, {"4d24", "4kDCI24"}, {"4d25", "4kDCI25"}, {"4d29", "4kDCI29.97"}, {"4d30", "4kDCI30"},
    {"4d50", "4kDCI50"}, {"4d59", "4kDCI59.94"}, {"4d60", "4kDCI60"},
    {"8k23", "8K4320p23.98"}, {"8k24", "8K4320p24"}, {"8k25", "8K4320p25"}, {"8k29", "8K4320p29.97"},
    {"8k30", "8K4320p30"}, {"8k50", "8K4320p50"}, {"8k59", "8K4320p59.94"}, {"8k60", "8K4320p60"},
    {"8d23", "8kDCI23.98"}, {"8d24", "8kDCI24"}, {"8d25", "8kDCI25"}, {"8d29", "8kDCI29.97"}, {"8d30", "8kDCI30"},
    {"8d50", "8kDCI50"}, {"8d59", "8kDCI59.94"}, {"8d60", "8kDCI60"},
}};

constexpr std::uint32_t codeOf(const char (&c)[5])
{
    return std::uint32_t(std::uint8_t(c[0])) << 24 | std::uint32_t(std::uint8_t(c[1])) << 16 |
           std::uint32_t(std::uint8_t(c[2])) << 8 | std::uint32_t(std::uint8_t(c[3]));
}

// A reference of its own to the frame's pixels: holders of an earlier copy keep theirs.
VideoFrameRef shareFrame(const VideoFrameRef& frame)
{
    if (frame->pixelFormat() == MediaPixelFormat::Native)
        return std::make_shared<VideoFrame>(frame->width(), frame->height(), frame->planes(), frame->presentationTime(),
                                            std::const_pointer_cast<VideoFrame>(frame));
    return std::make_shared<VideoFrame>(frame->pixelFormat(), frame->width(), frame->height(), frame->bytesPerRow(),
                                        frame->data(), frame->presentationTime(), std::const_pointer_cast<VideoFrame>(frame));
}

}  // namespace

std::shared_ptr<KavioCameraManager> KavioCameraManager::sharedManager()
{
    static const std::shared_ptr<KavioCameraManager> manager = [] {
        auto made = std::make_shared<KavioCameraManager>(CaptureService::shared(),
                                                         KavioDeckLinkCaptureBrowserInterface::sharedBrowser());
        // A manager installed before (tests stand one in) keeps serving the frames.
        if (!KavioCameraManagerInterface::sharedManager())
            KavioCameraManagerInterface::setSharedManager(made);
        return made;
    }();
    return manager;
}

KavioCameraManager::KavioCameraManager(CaptureService& capture, std::shared_ptr<KavioDeckLinkCaptureBrowserInterface> deckLink)
    : capture_(capture),
      deckLink_(std::move(deckLink)),
      queue_(std::make_unique<DispatchQueue>(kKavioCameraManagerQueueLabel.toStdString()))
{
    for (const QString& name : {CaptureService::kDeviceWasConnectedNotification, CaptureService::kDeviceWasDisconnectedNotification,
                                kDeckLinkDeviceWasConnectedNotification, kDeckLinkDeviceWasDisconnectedNotification})
        NotificationCenter::defaultCenter().addObserver(this, name, nullptr,
                                                        [this](const Notification& n) { cameraSourcesChanged(n); });
}

KavioCameraManager::~KavioCameraManager()
{
    NotificationCenter::defaultCenter().removeObserver(this);
    // Streams stop outside the queue: their last deliveries may still be queued behind us.
    std::vector<std::shared_ptr<KavioCamera>> cameras;
    queue_->sync([&] {
        primary_ = {};
        secondary_ = {};
        cameras.swap(devices_);
    });
    for (const auto& camera : cameras)
        camera->removeResources();
}

std::uint64_t KavioCameraManager::nextOutputIdentity()
{
    static std::atomic<std::uint64_t> counter{0};
    return ++counter;
}

std::size_t KavioCameraManager::deviceCount()
{
    std::size_t count = 0;
    queue_->sync([&] { count = devices_.size(); });
    return count;
}

std::shared_ptr<KavioCamera> KavioCameraManager::findOnQueue(const QString& uid, const QString& name)
{
    if (!uid.isEmpty())
        for (const auto& camera : devices_)
            if (!camera->deviceUID().isEmpty() && camera->deviceUID() == uid)
                return camera;
    if (!name.isEmpty())
        for (const auto& camera : devices_)
            if (camera->deviceName() == name)
                return camera;
    return nullptr;
}

KavioCamera* KavioCameraManager::findCameraWithUID(const QString& uid, const QString& name)
{
    KavioCamera* found = nullptr;
    queue_->sync([&] { found = findOnQueue(uid, name).get(); });
    return found;
}

void KavioCameraManager::startCaptureWithDevice(const QString& name, const std::shared_ptr<KavioVideoItem>& item,
                                                const QString& deviceUID)
{
    queue_->sync([&] {
        auto camera = findOnQueue(deviceUID, name);
        if (!camera) {
            camera = std::make_shared<KavioCamera>(name, deviceUID, this, item && item->isDeckLinkDevice());
            devices_.push_back(camera);
        }
        auto& clients = camera->connectedClients();
        const bool known = std::any_of(clients.begin(), clients.end(), [&](const auto& c) { return c.lock() == item; });
        if (!known && item)
            clients.push_back(item);
    });
}

void KavioCameraManager::removeItem(const KavioVideoItem* item, const QString& name, const QString& deviceUID)
{
    queue_->sync([&] {
        const auto camera = findOnQueue(deviceUID, name);
        if (!camera)
            return;
        std::erase_if(camera->connectedClients(), [&](const auto& c) {
            const auto cue = c.lock();
            return !cue || cue.get() == item;
        });
        if (camera->connectedClients().empty()) {
            std::erase(devices_, camera);
            camera->removeResources();
        }
    });
}

void KavioCameraManager::fillSlot(Slot& slot, const QString& name, const QString& deviceUID)
{
    const auto camera = (name.isEmpty() && deviceUID.isEmpty()) ? nullptr : findOnQueue(deviceUID, name);
    slot.device = camera;
    slot.currentVideoOutput = camera && !camera->isDeckLinkDevice() ? camera->captureVideoOutput() : 0;
    slot.currentDecklinkDevice = camera && camera->isDeckLinkDevice() ? camera->decklinkInput() : nullptr;
}

void KavioCameraManager::setCurrentDevice(const QString& name, const QString& deviceUID)
{
    KLOG_VERBOSE("setCurrentDevice: {}", name.toStdString());
    queue_->sync([&] { fillSlot(primary_, name, deviceUID); });
}

void KavioCameraManager::setSecondaryDevice(const QString& name, const QString& deviceUID)
{
    KLOG_VERBOSE("setSecondaryDevice: {}", name.toStdString());
    queue_->sync([&] { fillSlot(secondary_, name, deviceUID); });
}

void KavioCameraManager::captureOutput(std::uint64_t output, VideoFrameRef frame)
{
    if (output == 0)
        return;
    if (primary_.currentVideoOutput == output)
        primary_.captureVideoSampleBuffer = frame;
    if (secondary_.currentVideoOutput == output)
        secondary_.captureVideoSampleBuffer = frame;
}

void KavioCameraManager::didCaptureVideoSampleBuffer(KavioDeckLinkCaptureDevice* device, VideoFrameRef frame)
{
    if (!device)
        return;
    if (primary_.currentDecklinkDevice.get() == device)
        primary_.captureVideoSampleBuffer = frame;
    if (secondary_.currentDecklinkDevice.get() == device)
        secondary_.captureVideoSampleBuffer = frame;
}

VideoFrameRef KavioCameraManager::pull(Slot& slot)
{
    // The previous copy goes first; a caller still holding it keeps its own reference.
    slot.copiedVideoSampleBuffer.reset();
    if (slot.captureVideoSampleBuffer)
        slot.copiedVideoSampleBuffer = shareFrame(slot.captureVideoSampleBuffer);
    return slot.copiedVideoSampleBuffer;
}

VideoFrameRef KavioCameraManager::videoSampleBufferCopy()
{
    VideoFrameRef copy;
    queue_->sync([&] { copy = pull(primary_); });
    return copy;
}

VideoFrameRef KavioCameraManager::videoSampleBufferSecondary()
{
    VideoFrameRef copy;
    queue_->sync([&] { copy = pull(secondary_); });
    return copy;
}

bool KavioCameraManager::deviceIsAvailable(const QString& name, const QString& deviceUID)
{
    bool missing = false;
    queue_->sync([&] {
        if (const auto camera = findOnQueue(deviceUID, name))
            missing = camera->isMissing();
    });
    return missing;
}

KavioVideoFormatRef KavioCameraManager::formatDescriptionOfDevice(const QString& name, const QString& deviceUID)
{
    KavioVideoFormatRef format;
    queue_->sync([&] {
        if (const auto camera = findOnQueue(deviceUID, name))
            format = camera->isDeckLinkDevice() ? camera->deckLinkFormat() : camera->activeFormat();
    });
    return format;
}

float KavioCameraManager::fpsOfDevice(const QString& name, const QString& deviceUID)
{
    const KavioVideoFormatRef format = formatDescriptionOfDevice(name, deviceUID);
    if (!format || format->frameDurationValue == 0)
        return 0.0f;
    return float(double(format->frameDurationTimescale) / double(format->frameDurationValue));
}

void KavioCameraManager::setVideoFormat(KavioVideoFormatRef format, const QString& name, const QString& deviceUID)
{
    KLOG_VERBOSE("apply manual video format change... ");
    queue_->sync([&] {
        const auto camera = findOnQueue(deviceUID, name);
        if (!camera || !camera->isDeckLinkDevice())
            return;
        camera->setDeckLinkFormat(std::move(format));
        camera->connectWithManager();
        // The slots follow the new connection of the camera they hold.
        for (Slot* slot : {&primary_, &secondary_})
            if (slot->device == camera)
                slot->currentDecklinkDevice = camera->decklinkInput();
    });
}

std::optional<QList<KavioFormatMenuItem>> KavioCameraManager::supportedCommonFormatsOfDecklinkDevices(const QList<QStringList>& devices)
{
    std::optional<QList<KavioFormatMenuItem>> list;
    const auto itemsOf = [](const QList<KavioVideoFormatRef>& formats) {
        QList<KavioFormatMenuItem> items;
        for (const auto& format : formats)
            items.append({displayModeNameWithDisplayModeNumber(format->displayMode), format});
        return items;
    };
    for (const QStringList& pair : devices) {
        if (pair.isEmpty())
            continue;
        queue_->sync([&] {
            const auto camera = findOnQueue(pair.last(), pair.first());
            if (!camera || camera->isMissing() || !camera->isDeckLinkDevice() || !camera->decklinkInput())
                return;
            const auto formats = camera->decklinkInput()->captureVideoFormatDescriptions();
            if (!list) {
                list = itemsOf(KavioCamera::filteredVideoFormatDescriptionsFromArray(
                    formats, isHighBitDepth_ ? fourCC("v210") : fourCC("2vuy")));
                return;
            }
            const QList<KavioFormatMenuItem> offered = itemsOf(formats);
            list->removeIf([&](const KavioFormatMenuItem& item) {
                return std::none_of(offered.begin(), offered.end(), [&](const auto& o) { return o.title == item.title; });
            });
        });
    }
    return list;
}

QString KavioCameraManager::displayModeNameWithDisplayModeNumber(std::uint32_t code)
{
    for (const DisplayMode& mode : kDisplayModes)
        if (codeOf(mode.code) == code)
            return QString::fromLatin1(mode.name);
    return QStringLiteral("unknown");
}

bool KavioCameraManager::isHighBitDepth() const
{
    bool value = false;
    queue_->sync([&] { value = isHighBitDepth_; });
    return value;
}

void KavioCameraManager::setIsHighBitDepth(bool highBitDepth)
{
    queue_->sync([&] { isHighBitDepth_ = highBitDepth; });
}

PcmFormat KavioCameraManager::generateProcessingFormatWithSamplerate(double sampleRate, std::uint32_t channels)
{
    return PcmFormat(sampleRate, channels);
}

std::shared_ptr<PcmBuffer> KavioCameraManager::convertDeckLinkAudio(const KavioDeckLinkAudioBuffer& buffer)
{
    const bool s16 = buffer.formatID == KavioDeckLinkAudioBuffer::kFormatLinearPCM &&
                     (buffer.formatFlags & KavioDeckLinkAudioBuffer::kFlagIsSignedInteger) && buffer.bitsPerChannel == 16;
    // Zero channels or bytes per frame would divide by zero or read nothing sensible.
    if (!s16 || buffer.channelsPerFrame == 0 || buffer.bytesPerFrame < buffer.channelsPerFrame * 2 || !buffer.data) {
        KLOG_VERBOSE("DDLogVerbose: Unknown audio buffer format.");
        return nullptr;
    }
    const PcmFormat format = generateProcessingFormatWithSamplerate(buffer.sampleRate, buffer.channelsPerFrame);
    if (!format.isValid()) {
        KLOG_VERBOSE("DDLogVerbose: Unknown audio buffer format.");
        return nullptr;
    }
    auto pcm = std::make_shared<PcmBuffer>(format, buffer.sampleCount);
    pcm->setFrameLength(buffer.sampleCount);
    // Never more frames than the buffer holds, nor than the block brings.
    const std::uint32_t frames = std::min<std::uint64_t>(buffer.byteSize / buffer.bytesPerFrame, pcm->frameCapacity());
    const auto* bytes = static_cast<const std::uint8_t*>(buffer.data);
    for (std::uint32_t c = 0; c < buffer.channelsPerFrame; ++c) {
        float* out = pcm->floatChannelData(c);
        for (std::uint32_t i = 0; i < frames; ++i) {
            std::int16_t sample;
            std::memcpy(&sample, bytes + std::size_t(i) * buffer.bytesPerFrame + c * 2, sizeof sample);
            out[i] = float(sample) * (1.0f / 32768.0f);
        }
    }
    return pcm;
}

void KavioCameraManager::didCaptureAudioSampleBuffer(KavioDeckLinkCaptureDevice* device, const KavioDeckLinkAudioBuffer& buffer)
{
    const std::shared_ptr<const PcmBuffer> pcm = convertDeckLinkAudio(buffer);
    if (!pcm || !device)
        return;
    for (Slot* slot : {&primary_, &secondary_})
        if (slot->currentDecklinkDevice.get() == device && slot->device)
            for (const auto& cue : slot->device->liveClients())
                cue->receivedAudioPCMBuffer(pcm);
}

void KavioCameraManager::didChangeActiveVideoFormatDescription(KavioDeckLinkCaptureDevice* device, KavioVideoFormatRef format)
{
    KLOG_VERBOSE("DeckLinkDevice video format change");
    if (!device)
        return;
    const QString uid = device->uid();
    const auto camera = uid.isEmpty() ? findOnQueue(QString(), device->displayName()) : findOnQueue(uid, QString());
    if (!camera)
        return;
    camera->setDeckLinkFormat(format);
    QString error;
    device->setCaptureActiveVideoFormatDescription(format, &error);
    KLOG_VERBOSE("setCaptureActiveVideoFormatDescription: {}", error.toStdString());
}

void KavioCameraManager::cameraSourcesChanged(const Notification& notification)
{
    QString name, uid;
    if (notification.name == kDeckLinkDeviceWasConnectedNotification ||
        notification.name == kDeckLinkDeviceWasDisconnectedNotification) {
        name = notification.userInfo.value(kDeckLinkDeviceNameKey).toString();
        uid = notification.userInfo.value(kDeckLinkDeviceUIDKey).toString();
    } else {
        name = notification.userInfo.value(CaptureService::kDeviceNameKey).toString();
        uid = notification.userInfo.value(CaptureService::kDeviceUIDKey).toString();
    }
    queue_->sync([&] {
        const auto camera = findOnQueue(uid, name);
        if (!camera)
            return;
        camera->setDeviceName(name);
        camera->setDeviceUID(uid);
        camera->connectWithManager();
        // The slots follow the new connection.
        for (Slot* slot : {&primary_, &secondary_})
            if (slot->device == camera) {
                slot->currentVideoOutput = camera->isDeckLinkDevice() ? 0 : camera->captureVideoOutput();
                slot->currentDecklinkDevice = camera->isDeckLinkDevice() ? camera->decklinkInput() : nullptr;
            }
    });
    std::vector<std::pair<std::shared_ptr<KavioVideoItem>, std::pair<QString, QString>>> renames;
    queue_->sync([&] {
        for (const auto& each : devices_) {
            each->refreshInternalCameraName();
            for (const auto& cue : each->liveClients())
                renames.push_back({cue, {each->deviceName(), each->deviceUID()}});
        }
    });
    for (const auto& [cue, pair] : renames) {
        cue->setMediaPath(pair.first);
        cue->setDeviceUID(pair.second);
    }
    NotificationCenter::defaultCenter().post(kKavioCameraSourcesChangedNotification);
}
