// The cue's audio: making its player on the shared engine, replacing and transcoding it, the
// delay, live buffers, loudness normalisation and the waveform image of the timeline.

#include "Cue/KavioVideoItem.h"

#include "Audio/AudioAnalyzer.h"
#include "Audio/KavioAudioOutputManager.h"
#include "Audio/KavioAudioOutputPanel.h"
#include "Audio/KavioAudioPlayer.h"
#include "Audio/KavioAudioPlayerCue.h"
#include "Audio/KavioWaveformManager.h"
#include "Controller/KavioVideoItemManager.h"
#include "DispatchQueue.h"
#include "Inspector/KavioVideoItemPreferencesControllerInterface.h"
#include "Log.h"
#include "NotificationCenter.h"

#include <QDateTime>
#include <QFileInfo>
#include <QImage>
#include <QLocale>
#include <QPainter>

#include <cmath>

namespace {

constexpr double kPlayerSampleRate = 48000.0;
const QColor kWaveformColor = QColor::fromRgbF(0.478f, 0.745f, 0.388f, 1.0f);

bool isLiveAudioType(long type)
{
    return type == KavioMediaTypeCamera || type == KavioMediaTypeNDI;
}

QString deviceText(const std::optional<uint32_t>& device)
{
    return device ? QString::number(*device) : QStringLiteral("(null)");
}

// What a cue's players ask of it, answered by the cue while it lives.
class CueSideOfAudio : public KavioAudioPlayerCue {
public:
    explicit CueSideOfAudio(std::weak_ptr<KavioVideoItem> cue) : cue_(std::move(cue)) {}
    double currentTimeForAudioWithPlayer(const KavioAudioPlayer* player) const override
    {
        const auto cue = cue_.lock();
        return cue ? cue->currentTimeForAudioWithPlayer(player) : 0.0;
    }
    QString resolvedMediaPath() const override
    {
        const auto cue = cue_.lock();
        return cue ? cue->resolvedMediaPath() : QString();
    }
    long mediaType() const override
    {
        const auto cue = cue_.lock();
        return cue ? cue->mediaType() : 0;
    }
    void setIsMissing(bool missing) override
    {
        if (const auto cue = cue_.lock())
            cue->setIsMissing(missing);
    }
    bool isCurrent() const override
    {
        const auto cue = cue_.lock();
        return cue && cue->isCurrent();
    }
    bool isUsingDefaultAudioChannels() const override
    {
        const auto cue = cue_.lock();
        return cue && cue->isUsingDefaultAudioChannels();
    }
    void setPlayersToDefaultChannelMapping() override
    {
        if (const auto cue = cue_.lock())
            cue->setPlayersToDefaultChannelMapping();
    }
    long index() const override
    {
        const auto cue = cue_.lock();
        return cue ? long(cue->index()) : 0;
    }
    std::shared_ptr<KavioAudioOutputManagerInterface> audioOutputManager() const override
    {
        const auto cue = cue_.lock();
        const auto controller = cue ? cue->manager() : nullptr;
        return controller ? controller->audioOutputManager() : nullptr;
    }

private:
    std::weak_ptr<KavioVideoItem> cue_;
};

}  // namespace

std::shared_ptr<KavioAudioOutputManagerInterface> KavioVideoItem::audioOutputManager() const
{
    const auto controller = manager();
    return controller ? controller->audioOutputManager() : nullptr;
}

void KavioVideoItem::refreshWaveformViewIfCurrent()
{
    const auto controller = manager();
    if (controller && controller->currentItem().get() == this)
        NotificationCenter::defaultCenter().post(kKavioRefreshWaveformViewNotification);
}

void KavioVideoItem::pullInspectorIfCurrent()
{
    const auto controller = manager();
    auto* inspector = controller ? controller->itemPreferencesController() : nullptr;
    if (inspector && inspector->currentItem().get() == this)
        inspector->pullCurrentItemData();
}

// --- Set-up and replacement -----------------------------------------------------------------------

std::shared_ptr<KavioAudioPlayer> KavioVideoItem::playerOnOutput(const KavioAudioOutputManagerInterface& output,
                                                                const QString& path, int deviceChannels)
{
    if (!audioPlayerCue_)
        audioPlayerCue_ = std::make_shared<CueSideOfAudio>(weak_from_this());
    const QList<int> mapping = output.outputChannelMapping();
    const int channels = int(mapping.size());
    // No path: a player of pushed buffers (live sources).
    return path.isEmpty() ? KavioAudioPlayer::initWithDeviceChannels(deviceChannels, mapping, channels,
                                                                     output.delayInMs(), audioPlayerCue_, kPlayerSampleRate)
                          : KavioAudioPlayer::initWithFileURL(path, mapping, channels, output.delayInMs(),
                                                              audioPlayerCue_, kPlayerSampleRate);
}

std::shared_ptr<KavioCueAudioPlayer> KavioVideoItem::makeAudioPlayer(const QString& path, int deviceChannels)
{
    const auto output = audioOutputManager();
    if (!output || output->hasNoOutputDeviceAtAll())
        return nullptr;
    if (!output->selectedOutputDeviceUID())
        KLOG_VERBOSE("no audio device, use deviceId 0 on loopHelper");
    return playerOnOutput(*output, path, deviceChannels);
}

void KavioVideoItem::setupAudioWithFileURL(const QString& path)
{
    const auto output = audioOutputManager();
    KLOG_VERBOSE("init audio with device: {}", deviceText(output ? output->selectedOutputDeviceUID() : std::nullopt).toStdString());
    // Without any output the cue plays silently and shows no meter.
    if (!output || output->hasNoOutputDeviceAtAll())
        return;
    if (!output->selectedOutputDeviceUID())
        KLOG_VERBOSE("no audio device, use deviceId 0");
    if (isMissing()) {
        audioMeterHidden_ = true;
        KLOG_ERROR("cannot init audio file: {}", mediaPath().toStdString());
        return;
    }
    const int channels = int(output->outputChannelMapping().size());
    const long type = mediaType();
    const auto player = playerOnOutput(*output, isLiveAudioType(type) ? QString() : path, channels);
    normalAudioPlayer_.store(player);
    setAudioPlayer(player);
    if (!player) {
        hasAudioChannels_ = false;
        hasaudioerror_ = true;
        audioMeterHidden_ = true;
        queueOnMain([](KavioVideoItem& cue) { cue.rebuildAudioMeter(); });
        KLOG_ERROR("skip audio player creation, file is missing or protected...");
        return;
    }
    hasAudioChannels_ = true;
    observeAudioOutput();
    audioMeterChannels_ = player->deviceChannels();
    KLOG_INFO("ready to play audio: {} ({} chs)", cueName().toStdString(), player->realChannels());
    soundButton_.enabled = true;
    if (const auto controller = manager(); controller && controller->defaultToggleAudioIsOn())
        soundButton_.state = 1;
    volumeChanged();
    if (isLooping())
        setupLoopHelper();
    audioMeterHidden_ = false;
    queueOnMain([](KavioVideoItem& cue) { cue.rebuildAudioMeter(); });
    if (!isLiveAudioType(type))
        generateAudioWaveform();
}

void KavioVideoItem::observeAudioOutput()
{
    // Once per cue: a replaced player is reached through the same handlers.
    if (observesAudioOutput_)
        return;
    observesAudioOutput_ = true;
    const auto output = audioOutputManager();
    void* sender = output.get();
    NotificationCenter& center = NotificationCenter::defaultCenter();
    const std::weak_ptr<KavioVideoItem> weak = weak_from_this();
    center.addObserver(this, KavioAudioNotification::ChannelsChanged, sender, [weak](const Notification& n) {
        if (const auto cue = weak.lock())
            cue->audioChannelsChanged(n.userInfo);
    });
    center.addObserver(this, KavioAudioNotification::RoutingChanged, sender, [weak](const Notification&) {
        if (const auto cue = weak.lock())
            cue->audioOutputRoutingChangedGlobally();
    });
    center.addObserver(this, KavioAudioNotification::MasterVolumeChanged, sender, [weak](const Notification&) {
        if (const auto cue = weak.lock())
            cue->volumeChanged();
    });
    center.addObserver(this, KavioAudioNotification::DelayChanged, sender, [weak](const Notification&) {
        if (const auto cue = weak.lock())
            cue->audioDelayChanged();
    });
}

void KavioVideoItem::replaceAudioWithFileURL(const QString& path)
{
    if (const auto player = audioPlayer()) {
        player->stop();
        player->removeResources();
    }
    queueOnMain([](KavioVideoItem& cue) {
        cue.errorButton_.hidden = true;
        cue.errorButton_.enabled = false;
    });
    setupAudioWithFileURL(path);
}

void KavioVideoItem::transcodeAudio()
{
    if (const auto controller = manager())
        controller->transcodeAudioOfItem(shared_from_this(), audioTranscodeURL());
}

QString KavioVideoItem::audioTranscodeURL() const
{
    const QFileInfo file(resolvedMediaPath());
    QDateTime stamp = file.lastModified();
    if (!stamp.isValid())
        stamp = file.birthTime();
    QString date = QLocale().toString(stamp.date(), QLocale::ShortFormat);
    // Short dates such as 12/11/26 would name folders that do not exist.
    for (const QChar separator : {QChar('/'), QChar('\\'), QChar(':')})
        date.replace(separator, QChar('-'));
    return KavioVideoItemManager::transcodedVideosDir() + QChar('/') + file.completeBaseName() + QChar('-') + date +
           QStringLiteral(".m4a");
}

void KavioVideoItem::audioDelayChanged()
{
    const auto player = audioPlayer();
    const auto output = audioOutputManager();
    if (!player || !output)
        return;
    const bool wasPlaying = isPlaying();
    if (wasPlaying)
        pausePlayersWithPreroll(true);
    player->setDelay(output->delayInMs());
    if (wasPlaying)
        startPlayers();
}

void KavioVideoItem::receivedAudioPCMBuffer(const std::shared_ptr<const PcmBuffer>& buffer)
{
    if (const auto player = audioPlayer(); player && buffer)
        player->scheduleBuffer(buffer);
}

// --- Normalising --------------------------------------------------------------------------------------

void KavioVideoItem::normalizeAudioVolume()
{
    const auto player = audioPlayer();
    if (!player)
        return;
    const auto analysis = analyzer_.load();
    if (!analysis) {
        shouldsetvolumetorms_ = true;
        generateAudioWaveform();
        return;
    }
    // A request while the analysis runs is dropped.
    if (!analysis->isReady())
        return;
    const float level = analysis->analyzeRMSOnChannels(player->channelMapping());
    setVolume(AudioAnalyzer::targetVolumeWithDBFS(level));
    volumeChanged();
    pullInspectorIfCurrent();
}

void KavioVideoItem::normalizeAudioOnSelectedItemsFromUI()
{
    if (!soundButton_.enabled)
        return;
    if (const auto controller = selectItemIfNotSelected())
        controller->normalizeAudioOnSelectedItems();
}

// --- Waveform -------------------------------------------------------------------------------------------

void KavioVideoItem::dropAnalyzer(const AudioAnalyzer* analysis)
{
    if (analysis && analyzer_.load().get() == analysis)
        analyzer_.store(nullptr);
}

void KavioVideoItem::generateAudioWaveform()
{
    KLOG_VERBOSE("generate waveform for {}", mediaPath().toStdString());
    audioWaveform_.store(nullptr);
    isBuildingAudioWaveform_ = true;
    refreshWaveformViewIfCurrent();
    const auto controller = manager();
    DispatchQueue* queue = controller ? controller->waveformQueue() : nullptr;
    if (!queue) {
        // Nowhere to analyse: no waveform, and no analysis a normalisation could wait for.
        KLOG_WARN("no waveform queue: no waveform for {}", mediaPath().toStdString());
        isBuildingAudioWaveform_ = false;
        return;
    }
    NotificationCenter::defaultCenter().post(KavioWaveformNotification::DidStart);
    const std::weak_ptr<KavioVideoItem> weak = weak_from_this();
    analyzer_.store(AudioAnalyzer::initWithFile(resolvedMediaPath(), *queue, [weak](AudioAnalyzer& analysis) {
        const auto cue = weak.lock();
        const std::weak_ptr<AudioAnalyzer> which = analysis.weak_from_this();
        if (analysis.isCancelled()) {
            KLOG_VERBOSE("analyzer is cancelled!");
            if (cue) {
                cue->refreshWaveformViewIfCurrent();
                cue->queueOnMain([which](KavioVideoItem& c) {
                    const auto cancelled = which.lock();
                    if (!cancelled || c.analyzer_.load() != cancelled)
                        return;  // a newer analysis builds now
                    // Back to idle: the strip must not show "building" for ever.
                    c.dropAnalyzer(cancelled.get());
                    c.isBuildingAudioWaveform_ = false;
                    c.refreshWaveformViewIfCurrent();
                });
            }
        } else if (cue) {
            // Normalising first, on the finished analysis; the drawing then lets it go.
            if (cue->shouldsetvolumetorms_.exchange(false))
                cue->queueOnMain([](KavioVideoItem& c) { c.normalizeAudioVolume(); });
            cue->queueOnMain([which](KavioVideoItem& c) {
                const auto finished = which.lock();
                if (!finished || c.analyzer_.load() != finished)
                    return;  // a newer analysis took its place and draws itself
                c.drawAudioWaveform();
                c.dropAnalyzer(finished.get());
            });
        }
        NotificationCenter::defaultCenter().post(KavioWaveformNotification::DidEnd);
    }));
}

void KavioVideoItem::drawAudioWaveform()
{
    KLOG_VERBOSE("drawAudioWaveform");
    const auto analysis = analyzer_.load();
    const auto player = audioPlayer();
    if (!analysis || !analysis->isReady() || !player)
        return;
    auto image = std::make_shared<QImage>(kWaveformWidth, kWaveformHeight, QImage::Format_ARGB32_Premultiplied);
    image->fill(Qt::transparent);
    const int lanes = player->realChannels();
    const float laneHeight = float(kWaveformHeight) / float(lanes);
    const float bucket = 1.0f / waveformBucketResolution();
    QPainter painter(image.get());
    for (int c = 0; c < player->realChannels(); ++c) {
        if (analysis->isCancelled()) {
            // The strip must not show "building" for ever.
            painter.end();
            isBuildingAudioWaveform_ = false;
            refreshWaveformViewIfCurrent();
            return;
        }
        const AudioAnalyzerResult peaks = analysis->analyzeChannel(uint32_t(c), bucket);
        const auto lane = waveformFromPeaks(peaks.peaks.data(), peaks.length(), QSizeF(kWaveformWidth, laneHeight));
        if (lane)
            painter.drawImage(QPointF(0, double(c) * laneHeight), *lane);
        hasaudioerror_ = analysis->hadError();
    }
    painter.end();
    audioWaveform_.store(std::move(image));
    isBuildingAudioWaveform_ = false;
    queueOnMain([](KavioVideoItem& cue) { cue.refreshWaveformViewIfCurrent(); });
}

float KavioVideoItem::waveformBucketResolution() const
{
    const double duration = videoDuration();
    if (duration < 20)
        return 160;
    if (duration < 30)
        return 100;
    if (duration < 60)
        return 60;
    return 30;
}

std::shared_ptr<QImage> KavioVideoItem::waveformFromPeaks(const float* peaks, uint32_t length, QSizeF size) const
{
    const auto player = audioPlayer();
    const float resolution = waveformBucketResolution();
    const float duration = player ? float(player->duration()) : 0.0f;
    const float spacing = float(size.width()) / (resolution * duration);
    if (std::isnan(spacing))
        KLOG_ERROR("error, sampleSize is nan! Duration: {:f} WaveformBucketResolution:{:f}", duration, resolution);
    // Nothing to draw, or a spacing that no grouping can bring to half a point.
    if (!peaks || length == 0 || !std::isfinite(spacing) || !(spacing > 0.0f))
        return nullptr;
    uint32_t group = 1;
    if (spacing < 0.5f)
        while ((spacing * float(length)) / float(length / group) < 0.5f)
            ++group;
    KLOG_VERBOSE("bucketcount: {}", length);
    KLOG_VERBOSE("sampleSize: {:f}", spacing);
    KLOG_VERBOSE("resolution: {}", group);
    const auto analysis = analyzer_.load();
    if (analysis && analysis->isCancelled())
        return nullptr;

    const int width = std::max(1, int(std::ceil(size.width())));
    const int height = std::max(1, int(std::ceil(size.height())));
    auto image = std::make_shared<QImage>(width, height, QImage::Format_ARGB32_Premultiplied);
    image->fill(Qt::transparent);
    QPainter painter(image.get());
    painter.setPen(QPen(kWaveformColor, 1.0));
    const double h = size.height();
    for (uint32_t i = 0; i < length; i += group) {
        float peak = peaks[i];
        for (uint32_t j = i + 1; j < i + group && j < length; ++j)
            peak = std::max(peak, peaks[j]);
        const double v = double(peak) * h * 0.5;
        // A line of no length draws nothing (the raster engine would still set a pixel).
        if (!(v > 0.0))
            continue;
        const double x = double(i) * double(spacing);
        painter.drawLine(QPointF(x, h / 2 + v), QPointF(x, h / 2 - v));
    }
    return image;
}
