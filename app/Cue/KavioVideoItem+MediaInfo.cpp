#include "Cue/KavioVideoItem.h"

#include "Sources/KavioCameraManager.h"

#include "Clock/QVTClock.h"

#include "Log.h"
#include "MediaAsset.h"
#include "MediaPlayer.h"

#include <QFileInfo>

#include <cmath>
#include <utility>

namespace {

// Subtypes the codec table names, as MediaTrack::codecType gives them.
const std::pair<std::uint32_t, const char*> kCodecNames[] = {
    {24, "Uncompressed 24-bit RGB"},
    {fourCC("2vuy"), "2vuy"},
    {fourCC("420v"), "4:2:0 YUV"},
    {fourCC("yuvs"), "4:2:2 YUV"},
    {fourCC("avc1"), "H.264"},
    {fourCC("mp1v"), "MPEG-1"},
    {fourCC("mp2v"), "MPEG-2"},
    {fourCC("mp4v"), "MPEG-4"},
    {fourCC("jpeg"), "Photo - JPEG"},
    {fourCC("png "), "PNG"},
    {fourCC("SVQ3"), "Soreson 3"},
    {fourCC("apcn"), "Apple ProRes 422"},
    {fourCC("apch"), "Apple ProRes 422 HQ"},
    {fourCC("apcs"), "Apple ProRes 422 LT"},
    {fourCC("apco"), "Apple ProRes 422 Proxy"},
    {fourCC("ap4h"), "Apple ProRes 4444"},
    {fourCC("Hap1"), "HAP"},
    {fourCC("Hap5"), "HAP Alpha"},
    {fourCC("HapY"), "HAP Q"},
    {fourCC("HapM"), "HAP Q Alpha"},
    {fourCC("dvc "), "DV NTSC"},
    {fourCC("dvcp"), "DV PAL"},
    {fourCC("dvpp"), "DVCPro PAL"},
    {fourCC("dv5n"), "DVCPro 50 NTSC"},
    {fourCC("dv5p"), "DVCPro 50 PAL"},
    {fourCC("dvh2"), "DVCProHD"},
    {fourCC("dvh3"), "DVCProHD"},
    {fourCC("dvh5"), "DVCProHD"},
    {fourCC("dvh6"), "DVCProHD"},
    {fourCC("dvhp"), "DVCProHD"},
    {fourCC("dvhq"), "DVCProHD"},
    {fourCC("aac "), "AAC"},
    {fourCC("aach"), "HE-AAC"},
    {fourCC("aacp"), "HE-AAC"},
    {fourCC("lpcm"), "PCM"},
    {fourCC("alac"), "ALAC"},
    {fourCC("ac-3"), "AC-3"},
    {0x6D732000, "AC-3"},
    {fourCC(".mp1"), "MP3"},
    {fourCC(".mp2"), "MP3"},
    {fourCC(".mp3"), "MP3"},
    {fourCC("samr"), "AMR Narrow Band"},
    {fourCC("text"), "Text"},
    {fourCC("SRT "), "Text"},
    {fourCC("tx3g"), "3GPP Text"},
    {fourCC("SSA "), "SSA"},
    {fourCC("c608"), "CEA-608"},
    {fourCC("c708"), "CEA-708"},
    {fourCC("atcc"), "ATSC/52 part-4"},
    {fourCC("tmcd"), "Timecode"},
    {fourCC("tc64"), "Timecode"},
    {fourCC("cn32"), "Timecode"},
    {fourCC("cn64"), "Timecode"},
};

MediaTime secondsAtCueTimescale(double seconds)
{
    return MediaTime::makeWithSeconds(seconds, MediaTime::kCueTimescale);
}

const MediaTrack* lastTrackOfKind(const MediaAsset& asset, MediaTrackKind kind)
{
    const auto tracks = asset.tracksOfKind(kind);
    return tracks.empty() ? nullptr : tracks.back();
}

}  // namespace

float KavioVideoItem::videoFPS() const
{
    if (isMissing())
        return 0.0f;
    if (mediaType() == KavioMediaTypeCamera)
        return KavioCameraManager::sharedManager()->fpsOfDevice(mediaPath(), deviceUID());
    if (mediaType() != KavioMediaTypeMovie || !asset_)
        return 0.0f;
    return asset_->nominalFrameRate();
}

QString KavioVideoItem::videoFPSString() const
{
    if (mediaType() != KavioMediaTypeMovie && mediaType() != KavioMediaTypeCamera)
        return QStringLiteral("-");
    return QString::asprintf("%g", double(videoFPS()));
}

long KavioVideoItem::fpsForNDIOutput() const
{
    if (mediaType() != KavioMediaTypeMovie && mediaType() != KavioMediaTypeCamera)
        return 60000;
    return long(videoFPS() * 1000.0f);
}

QString KavioVideoItem::codecWithFormatDescription(const MediaTrack* track) const
{
    if (!track)
        return QStringLiteral("Unknown");
    if (track->codecType == fourCC("hvc1"))
        return hasAlpha() ? QStringLiteral("HEVC with Alpha") : QStringLiteral("HEVC");
    for (const auto& [code, name] : kCodecNames)
        if (code == track->codecType)
            return QString::fromLatin1(name);
    return QStringLiteral("Unknown");
}

std::uint32_t KavioVideoItem::defaultDecodeFormatYUV() const
{
    const auto controller = manager();
    return controller && controller->useHighBitDepthRendering() ? fourCC("v210") : fourCC("2vuy");
}

std::uint32_t KavioVideoItem::defaultDecodeFormatRGB() const
{
    const auto controller = manager();
    return controller && controller->useHighBitDepthRendering() ? fourCC("RGhA") : fourCC("BGRA");
}

std::uint32_t KavioVideoItem::decodeFormatWithFormatDescription(const MediaTrack* track)
{
    setIsYUV(false);
    if (!track)
        return defaultDecodeFormatRGB();
    const auto yuv = [this] {
        setIsYUV(true);
        return defaultDecodeFormatYUV();
    };
    // The decode format is chosen before the ready step reads the track's alpha into the cue.
    const bool alpha = hasAlpha() || track->hasAlpha;
    const std::uint32_t code = track->codecType;
    if (code == 24 || code == fourCC("jpeg"))
        return yuv();
    if (code == fourCC("apcn") || code == fourCC("apch") || code == fourCC("apcs") || code == fourCC("apco")) {
        setIsProRes(true);
        return yuv();
    }
    if (code == fourCC("ap4h")) {
        setIsProRes(true);
        return alpha ? defaultDecodeFormatRGB() : yuv();
    }
    if (code == fourCC("mp4v"))
        KLOG_VERBOSE("kCMVideoCodecType_MPEG4Video");
    if (code == fourCC("2vuy") || code == fourCC("avc1") || code == fourCC("mp4v") ||
        (code == fourCC("hvc1") && !alpha)) {
        const auto controller = manager();
        return controller && controller->useHighBitDepthRendering() ? defaultDecodeFormatRGB() : yuv();
    }
    if (code == fourCC("muxa"))
        KLOG_VERBOSE("HEVCWithAlpha");
    return defaultDecodeFormatRGB();
}

int KavioVideoItem::audioChannels() const
{
    const auto player = audioPlayer();
    return player ? player->realChannels() : 0;
}

QString KavioVideoItem::codecString() const
{
    if (isMissing())
        return QStringLiteral("-");
    QString video, audio;
    if (mediaType() == KavioMediaTypeCamera) {
        if (const auto format = KavioCameraManager::sharedManager()->formatDescriptionOfDevice(mediaPath(), deviceUID())) {
            MediaTrack track;
            track.codecType = format->pixelFormat;
            video = codecWithFormatDescription(&track);
        }
    } else if (mediaType() == KavioMediaTypeMovie && asset_) {
        if (const MediaTrack* track = lastTrackOfKind(*asset_, MediaTrackKind::Video))
            video = codecWithFormatDescription(track);
        if (const MediaTrack* track = lastTrackOfKind(*asset_, MediaTrackKind::Audio))
            audio = codecWithFormatDescription(track);
    } else if (mediaType() == KavioMediaTypeAudio) {
        const auto file = MediaAsset::open(resolvedPathForPath(mediaPath()).toStdString());
        if (file && !file->tracks().empty())
            audio = codecWithFormatDescription(&file->tracks().front());
    }
    if (!audio.isEmpty()) {
        const int channels = audioChannels();
        audio += channels == 1 ? QStringLiteral(" (%1 ch)").arg(channels) : QStringLiteral(" (%1 chs)").arg(channels);
    }
    if (!video.isEmpty() && !audio.isEmpty())
        return QStringLiteral("%1 / %2 ").arg(video, audio);
    if (!video.isEmpty())
        return video;
    return audio.isEmpty() ? QStringLiteral("-") : audio;
}

QString KavioVideoItem::videoDimensions() const
{
    if (mediaType() == KavioMediaTypeAudio)
        return QStringLiteral("-");
    return QString::asprintf("%.0f x %.0f", sourceSize().width(), sourceSize().height());
}

QString KavioVideoItem::videoDurationString() const
{
    const double total = getGoodDuration() + inTime().seconds() + outTime().seconds();
    const long minutes = long(total / 60.0);
    const long seconds = long(float(total) - float(minutes * 60));
    const long milliseconds = long((total - std::trunc(total)) * 1000.0);
    return QString::asprintf("%02ld:%02ld.%03ld", minutes, seconds, milliseconds);
}

QString KavioVideoItem::videoTRTSMPTE() const
{
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    return clock ? clock->smpteRepresentationOfTime(getGoodDuration()) : QStringLiteral("00:00:00:00");
}

double KavioVideoItem::videoTRT() const
{
    return getGoodDuration();
}

double KavioVideoItem::videoDuration() const
{
    return getGoodDuration() + inTimeAtCurrentPlaybackSpeed().seconds() + outTimeAtCurrentPlaybackSpeed().seconds();
}

MediaTime KavioVideoItem::videoDurationCMTime() const
{
    return secondsAtCueTimescale(videoDuration());
}

MediaTime KavioVideoItem::absoluteEndCMTime() const
{
    return videoDurationCMTime();
}

MediaTime KavioVideoItem::inTimeAtCurrentPlaybackSpeed() const
{
    return secondsAtCueTimescale(inTime().seconds() / playbackRate());
}

MediaTime KavioVideoItem::outTimeAtCurrentPlaybackSpeed() const
{
    return secondsAtCueTimescale(outTime().seconds() / playbackRate());
}

void KavioVideoItem::setInTimeAtCurrentPlaybackSpeed(const MediaTime& time)
{
    setInTime(secondsAtCueTimescale(time.seconds() * playbackRate()));
}

void KavioVideoItem::setOutTimeAtCurrentPlaybackSpeed(const MediaTime& time)
{
    setOutTime(secondsAtCueTimescale(time.seconds() * playbackRate()));
}

MediaTime KavioVideoItem::endCMTime() const
{
    return secondsAtCueTimescale(videoDuration() - outTimeAtCurrentPlaybackSpeed().seconds());
}

std::int64_t KavioVideoItem::inTimeFramesForDisplay() const
{
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    return clock ? clock->frameCountSMPTEString(
                       clock->smpteRepresentationOfTime(inTimeAtCurrentPlaybackSpeed().seconds()))
                 : 0;
}

std::int64_t KavioVideoItem::outTimeFramesForDisplay() const
{
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    return clock ? clock->frameCountSMPTEString(clock->smpteRepresentationOfTime(endCMTime().seconds())) : 0;
}

MediaTime KavioVideoItem::absoluteCurrentCMTime() const
{
    return currentCMTime() + inTime();
}

MediaTime KavioVideoItem::absoluteCurrentCMTimeAtCurrentRate() const
{
    return secondsAtCueTimescale(currentCMTime().seconds() * playbackRate()) + inTime();
}
