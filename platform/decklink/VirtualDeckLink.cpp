#include "VirtualDeckLink.h"

#include "DispatchQueue.h"

#include <cstdlib>
#include <utility>

namespace decklink {

VirtualDeckLinkDevice::VirtualDeckLinkDevice(std::string name, int64_t persistentID, int64_t topologicalID,
                                             bool hasInput)
    : name_(std::move(name)),
      persistentID_(persistentID),
      topologicalID_(topologicalID),
      hasInput_(hasInput),
      callbacks_(std::make_unique<DispatchQueue>("virtual decklink"))
{
    for (const DisplayMode& mode : displayModes())
        for (uint32_t pixels : {kPixelFormat2vuy, kPixelFormatBGRA, kPixelFormatV210})
            videoFormats_.push_back({mode.code, pixels});
    for (int channels : {2, 8, 16})
        audioFormats_.push_back({channels, 48000, 16});
}

VirtualDeckLinkDevice::~VirtualDeckLinkDevice()
{
    callbacks_.reset();  // runs what is queued first
}

std::vector<VideoFormatDescription> VirtualDeckLinkDevice::playbackVideoFormatDescriptions() const
{
    std::lock_guard lock(mutex_);
    return videoFormats_;
}

std::vector<AudioFormatDescription> VirtualDeckLinkDevice::playbackAudioFormatDescriptions() const
{
    std::lock_guard lock(mutex_);
    return audioFormats_;
}

std::vector<KeyingMode> VirtualDeckLinkDevice::playbackKeyingModes() const
{
    return {KeyingMode::None, KeyingMode::Internal, KeyingMode::External};
}

void VirtualDeckLinkDevice::activate(std::function<void()> apply, Completion done)
{
    bool fail = false;
    {
        std::lock_guard lock(mutex_);
        std::swap(fail, failNext_);
        if (!fail)
            apply();
    }
    callbacks_->async([done = std::move(done), fail] {
        if (done)
            done(fail ? "the virtual device refused the change" : "");
    });
}

void VirtualDeckLinkDevice::setPlaybackActiveVideoFormatDescription(std::optional<VideoFormatDescription> format,
                                                                    Completion done)
{
    activate([this, format] { activeVideo_ = format; }, std::move(done));
}

void VirtualDeckLinkDevice::setPlaybackActiveAudioFormatDescription(const AudioFormatDescription& format,
                                                                    Completion done)
{
    activate([this, format] { activeAudio_ = format; }, std::move(done));
}

void VirtualDeckLinkDevice::setPlaybackActiveKeyingMode(KeyingMode mode, double, Completion done)
{
    activate([this, mode] { keying_ = mode; }, std::move(done));
}

std::vector<VideoFormatDescription> VirtualDeckLinkDevice::captureVideoFormatDescriptions() const
{
    if (!hasInput_)
        return {};
    std::vector<VideoFormatDescription> formats;
    for (const DisplayMode& mode : displayModes())
        for (uint32_t pixels : {kPixelFormat2vuy, kPixelFormatV210})
            formats.push_back({mode.code, pixels});
    return formats;
}

std::vector<AudioFormatDescription> VirtualDeckLinkDevice::captureAudioFormatDescriptions() const
{
    return hasInput_ ? std::vector<AudioFormatDescription>{{2, 48000, 16}} : std::vector<AudioFormatDescription>{};
}

std::optional<VideoFormatDescription> VirtualDeckLinkDevice::captureActiveVideoFormatDescription() const
{
    std::lock_guard lock(mutex_);
    return captureFormat_;
}

std::string VirtualDeckLinkDevice::setCaptureActiveVideoFormatDescription(const VideoFormatDescription& format)
{
    if (!hasInput_)
        return DeckLinkDevice::setCaptureActiveVideoFormatDescription(format);
    std::lock_guard lock(mutex_);
    if (std::exchange(failNext_, false))
        return "the virtual device refused the change";
    captureFormat_ = format;
    return {};
}

std::string VirtualDeckLinkDevice::setCaptureActiveAudioFormatDescription(const AudioFormatDescription& format)
{
    if (!hasInput_ || format.bitsPerSample != 16)
        return DeckLinkDevice::setCaptureActiveAudioFormatDescription(format);
    return {};
}

void VirtualDeckLinkDevice::setCaptureDelegate(CaptureDelegate* delegate)
{
    // On the device's thread, so a delivery running there ends before the delegate goes.
    callbacks_->sync([this, delegate] { captureDelegate_ = delegate; });
}

std::string VirtualDeckLinkDevice::startCapture()
{
    if (!hasInput_)
        return DeckLinkDevice::startCapture();
    std::lock_guard lock(mutex_);
    capturing_ = true;
    return {};
}

void VirtualDeckLinkDevice::stopCapture()
{
    std::lock_guard lock(mutex_);
    capturing_ = false;
}

bool VirtualDeckLinkDevice::isCapturing() const
{
    std::lock_guard lock(mutex_);
    return capturing_;
}

void VirtualDeckLinkDevice::deliver(std::function<void(CaptureDelegate&)> deliver)
{
    if (!isCapturing())
        return;
    callbacks_->async([this, deliver = std::move(deliver)] {
        if (captureDelegate_ && isCapturing())
            deliver(*captureDelegate_);
    });
}

void VirtualDeckLinkDevice::feedFrame(CapturedFrame frame)
{
    deliver([this, frame = std::move(frame)](CaptureDelegate& delegate) { delegate.didCaptureFrame(*this, frame); });
}

void VirtualDeckLinkDevice::feedAudio(CapturedAudio audio)
{
    deliver([this, audio = std::move(audio)](CaptureDelegate& delegate) { delegate.didCaptureAudio(*this, audio); });
}

void VirtualDeckLinkDevice::feedFormatChange(VideoFormatDescription format)
{
    {
        std::lock_guard lock(mutex_);
        captureFormat_ = format;
    }
    deliver([this, format](CaptureDelegate& delegate) { delegate.didChangeCaptureFormat(*this, format); });
}

void VirtualDeckLinkDevice::playbackPixelBuffer(std::shared_ptr<const PixelBuffer> buffer, bool)
{
    std::lock_guard lock(mutex_);
    lastPixels_ = std::move(buffer);
    ++frames_;
}

void VirtualDeckLinkDevice::playback16bitAudioBuffer(int16_t* block, uint32_t samples, std::function<void()> done)
{
    {
        std::lock_guard lock(mutex_);
        const size_t channels = size_t(activeAudio_ ? activeAudio_->channels : 2);
        lastAudio_.assign(block, block + size_t(samples) * channels);
        audioFrames_ += samples;
    }
    std::free(block);  // played
    callbacks_->async([done = std::move(done)] {
        if (done)
            done();
    });
}

void VirtualDeckLinkDevice::setPlaybackVideoFormats(std::vector<VideoFormatDescription> formats)
{
    std::lock_guard lock(mutex_);
    videoFormats_ = std::move(formats);
}

void VirtualDeckLinkDevice::setPlaybackAudioFormats(std::vector<AudioFormatDescription> formats)
{
    std::lock_guard lock(mutex_);
    audioFormats_ = std::move(formats);
}

void VirtualDeckLinkDevice::failNextActivation()
{
    std::lock_guard lock(mutex_);
    failNext_ = true;
}

std::optional<VideoFormatDescription> VirtualDeckLinkDevice::activeVideoFormat() const
{
    std::lock_guard lock(mutex_);
    return activeVideo_;
}

std::optional<AudioFormatDescription> VirtualDeckLinkDevice::activeAudioFormat() const
{
    std::lock_guard lock(mutex_);
    return activeAudio_;
}

KeyingMode VirtualDeckLinkDevice::activeKeyingMode() const
{
    std::lock_guard lock(mutex_);
    return keying_;
}

std::shared_ptr<const PixelBuffer> VirtualDeckLinkDevice::lastPixelBuffer() const
{
    std::lock_guard lock(mutex_);
    return lastPixels_;
}

uint64_t VirtualDeckLinkDevice::framesPlayed() const
{
    std::lock_guard lock(mutex_);
    return frames_;
}

uint64_t VirtualDeckLinkDevice::audioFramesPlayed() const
{
    std::lock_guard lock(mutex_);
    return audioFrames_;
}

std::vector<int16_t> VirtualDeckLinkDevice::lastAudioBlock() const
{
    std::lock_guard lock(mutex_);
    return lastAudio_;
}

void VirtualDeckLinkDevice::flush()
{
    callbacks_->sync([] {});
}

// --- Browser ---------------------------------------------------------------------------------

VirtualDeckLinkBrowser::VirtualDeckLinkBrowser(int count) : reports_(std::make_unique<DispatchQueue>("virtual decklink browser"))
{
    for (int k = 1; k <= count; ++k)
        devices_.push_back(std::make_shared<VirtualDeckLinkDevice>("Virtual DeckLink " + std::to_string(k), k));
}

VirtualDeckLinkBrowser::~VirtualDeckLinkBrowser()
{
    stop();
    reports_.reset();
}

void VirtualDeckLinkBrowser::start()
{
    std::lock_guard lock(mutex_);
    started_ = true;
}

void VirtualDeckLinkBrowser::stop()
{
    std::lock_guard lock(mutex_);
    started_ = false;
}

void VirtualDeckLinkBrowser::setDelegate(DeckLinkDeviceBrowserDelegate* delegate)
{
    std::lock_guard lock(mutex_);
    delegate_ = delegate;
}

std::vector<std::shared_ptr<DeckLinkDevice>> VirtualDeckLinkBrowser::connectedDevices() const
{
    std::lock_guard lock(mutex_);
    return devices_;
}

void VirtualDeckLinkBrowser::plugIn(const std::shared_ptr<DeckLinkDevice>& device)
{
    {
        std::lock_guard lock(mutex_);
        devices_.push_back(device);
    }
    reports_->async([this, device] {
        DeckLinkDeviceBrowserDelegate* delegate = nullptr;
        {
            std::lock_guard lock(mutex_);
            delegate = started_ ? delegate_ : nullptr;
        }
        if (delegate)  // outside the lock: the delegate may ask for the devices
            delegate->didAddDevice(*this, device);
    });
}

void VirtualDeckLinkBrowser::unplug(const std::shared_ptr<DeckLinkDevice>& device)
{
    {
        std::lock_guard lock(mutex_);
        std::erase(devices_, device);
    }
    reports_->async([this, device] {
        DeckLinkDeviceBrowserDelegate* delegate = nullptr;
        {
            std::lock_guard lock(mutex_);
            delegate = started_ ? delegate_ : nullptr;
        }
        if (delegate)  // outside the lock: the delegate may ask for the devices
            delegate->didRemoveDevice(*this, device);
    });
}

void VirtualDeckLinkBrowser::flush()
{
    reports_->sync([] {});
}

}  // namespace decklink
