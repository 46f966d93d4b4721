#include "MediaAsset.h"

#include "FFmpegSupport.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

#include <cmath>
#include <cstring>

using namespace MediaFFmpeg;

namespace {

// FFmpeg keeps tags little-endian ('a' in the lowest byte); ours read as written.
uint32_t fromFFmpegTag(uint32_t tag) {
    return ((tag & 0xff) << 24) | ((tag & 0xff00) << 8) | ((tag >> 8) & 0xff00) | (tag >> 24);
}

bool isMovFamily(const AVFormatContext* format) {
    return std::strstr(format->iformat->name, "mov") != nullptr;
}

uint32_t proResType(int profile) {
    switch (profile) {
    case FF_PROFILE_PRORES_PROXY: return fourCC("apco");
    case FF_PROFILE_PRORES_LT: return fourCC("apcs");
    case FF_PROFILE_PRORES_HQ: return fourCC("apch");
    case FF_PROFILE_PRORES_4444: return fourCC("ap4h");
    case FF_PROFILE_PRORES_XQ: return fourCC("ap4x");
    default: return fourCC("apcn");
    }
}

// Audio formats are named by what they decode as, whatever box the container wrote them in.
uint32_t audioType(const AVCodecParameters* par) {
    switch (par->codec_id) {
    case AV_CODEC_ID_AAC:
        if (par->profile == FF_PROFILE_AAC_HE) return fourCC("aach");
        if (par->profile == FF_PROFILE_AAC_HE_V2) return fourCC("aacp");
        return fourCC("aac ");
    case AV_CODEC_ID_MP1: return fourCC(".mp1");
    case AV_CODEC_ID_MP2: return fourCC(".mp2");
    case AV_CODEC_ID_MP3: return fourCC(".mp3");
    case AV_CODEC_ID_ALAC: return fourCC("alac");
    case AV_CODEC_ID_AC3: return fourCC("ac-3");
    case AV_CODEC_ID_EAC3: return fourCC("ec-3");
    case AV_CODEC_ID_AMR_NB: return fourCC("samr");
    case AV_CODEC_ID_FLAC: return fourCC("flac");
    case AV_CODEC_ID_OPUS: return fourCC("opus");
    default: break;
    }
    if (std::strncmp(avcodec_get_name(par->codec_id), "pcm_", 4) == 0) return fourCC("lpcm");
    return 0;
}

uint32_t captionType(const AVCodecParameters* par) {
    switch (par->codec_id) {
    case AV_CODEC_ID_MOV_TEXT: return fourCC("tx3g");
    case AV_CODEC_ID_EIA_608: return fourCC("c608");
    case AV_CODEC_ID_SUBRIP: return fourCC("SRT ");
    case AV_CODEC_ID_TEXT: return fourCC("text");
    case AV_CODEC_ID_SSA:
    case AV_CODEC_ID_ASS: return fourCC("SSA ");
    default: return 0;
    }
}

uint32_t videoType(const AVFormatContext* format, const AVCodecParameters* par) {
    if (isMovFamily(format) && par->codec_tag) return fromFFmpegTag(par->codec_tag);
    if (par->codec_id == AV_CODEC_ID_PRORES) return proResType(par->profile);
    const AVCodecTag* const tables[] = {avformat_get_mov_video_tags(), nullptr};
    return fromFFmpegTag(av_codec_get_tag(tables, par->codec_id));
}

void describeVideo(const AVStream* stream, MediaTrack& track) {
    const AVCodecParameters* par = stream->codecpar;
    track.width = par->width;
    track.height = par->height;
    AVRational aspect = stream->sample_aspect_ratio.num > 0 ? stream->sample_aspect_ratio
                                                            : par->sample_aspect_ratio;
    if (aspect.num > 0 && aspect.den > 0) track.pixelAspect = av_q2d(aspect);
    AVRational rate =
        stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) {
        track.nominalFrameRate = float(av_q2d(rate));
        track.minFrameDuration = MediaTime::make(rate.den, rate.num);
    }
    track.colorMatrix = colorMatrixOf(par->color_space);
    const auto pixelFormat = AVPixelFormat(par->format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pixelFormat);
    track.fullRange = par->color_range == AVCOL_RANGE_JPEG || pixelFormat == AV_PIX_FMT_YUVJ420P ||
                      pixelFormat == AV_PIX_FMT_YUVJ422P || pixelFormat == AV_PIX_FMT_YUVJ444P;
    track.hasAlpha = (desc && (desc->flags & AV_PIX_FMT_FLAG_ALPHA)) ||
                     track.codecType == fourCC("Hap5") || track.codecType == fourCC("HapM");
    track.interlaced =
        par->field_order != AV_FIELD_UNKNOWN && par->field_order != AV_FIELD_PROGRESSIVE;
    track.bitsPerComponent = par->bits_per_raw_sample > 0 ? par->bits_per_raw_sample
                             : desc                       ? desc->comp[0].depth
                                                          : 0;
    if (const uint8_t* matrix =
            av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr)) {
        // FFmpeg gives the counter-clockwise angle; the program thinks in clockwise turns.
        double turn = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
        if (!std::isnan(turn)) track.rotationDegrees = turn == 0 ? 0 : turn;
    }
}

void describeAudio(const AVCodecParameters* par, MediaTrack& track) {
    track.channelCount = par->ch_layout.nb_channels;
    char layout[128] = {};
    if (av_channel_layout_describe(&par->ch_layout, layout, sizeof layout) > 0)
        track.channelLayout = layout;
    if (par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE) track.channelMask = par->ch_layout.u.mask;
    track.sampleRate = par->sample_rate;
    track.isHEAAC = track.codecType == fourCC("aach") || track.codecType == fourCC("aacp");
}

}  // namespace

std::string fourCCString(uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        char c = char((code >> shift) & 0xff);
        if (c < 0x20 || c > 0x7e) return std::to_string(code);
        text += c;
    }
    return text;
}

std::shared_ptr<const MediaAsset> MediaAsset::open(const std::string& path, MediaError* error) {
    FormatPtr format = openInput(path, error);
    if (!format) return nullptr;

    std::shared_ptr<MediaAsset> asset(new MediaAsset());
    asset->path_ = path;
    double longest = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        const AVCodecParameters* par = stream->codecpar;
        MediaTrack track;
        track.index = int(i);
        track.codecName = avcodec_get_name(par->codec_id);
        track.decodable = avcodec_find_decoder(par->codec_id) != nullptr;
        if (const AVDictionaryEntry* lang = av_dict_get(stream->metadata, "language", nullptr, 0);
            lang && std::strcmp(lang->value, "und") != 0)
            track.language = lang->value;
        switch (par->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
                continue;  // cover art, not a picture track
            track.kind = MediaTrackKind::Video;
            track.codecType = videoType(format.get(), par);
            describeVideo(stream, track);
            break;
        case AVMEDIA_TYPE_AUDIO:
            track.kind = MediaTrackKind::Audio;
            track.codecType = audioType(par);
            describeAudio(par, track);
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            track.kind = MediaTrackKind::Caption;
            track.codecType = captionType(par);
            if (!track.codecType && isMovFamily(format.get()))
                track.codecType = fromFFmpegTag(par->codec_tag);
            break;
        default:
            track.kind = par->codec_tag == MKTAG('t', 'm', 'c', 'd') ? MediaTrackKind::Timecode
                                                                     : MediaTrackKind::Other;
            track.codecType = par->codec_tag ? fromFFmpegTag(par->codec_tag) : 0;
            break;
        }
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
            track.duration = toMediaTime(stream->duration, stream->time_base);
            if (track.kind == MediaTrackKind::Video || track.kind == MediaTrackKind::Audio) {
                const MediaTime end = trackEnd(format.get(), stream);
                if (end.seconds() > longest) {
                    longest = end.seconds();
                    asset->duration_ = end;
                }
            }
        }
        asset->tracks_.push_back(std::move(track));
    }
    if (longest < 0 && format->duration != AV_NOPTS_VALUE && format->duration > 0)
        asset->duration_ = toMediaTime(format->duration, AV_TIME_BASE_Q);
    return asset;
}

std::vector<const MediaTrack*> MediaAsset::tracksOfKind(MediaTrackKind kind) const {
    std::vector<const MediaTrack*> found;
    for (const MediaTrack& track : tracks_)
        if (track.kind == kind) found.push_back(&track);
    return found;
}

const MediaTrack* MediaAsset::firstVideoTrack() const {
    for (const MediaTrack& track : tracks_)
        if (track.kind == MediaTrackKind::Video) return &track;
    return nullptr;
}

const MediaTrack* MediaAsset::firstAudioTrack() const {
    for (const MediaTrack& track : tracks_)
        if (track.kind == MediaTrackKind::Audio) return &track;
    return nullptr;
}

bool MediaAsset::isHap() const {
    const MediaTrack* video = firstVideoTrack();
    return video && video->codecName == "hap";
}

float MediaAsset::nominalFrameRate() const {
    const MediaTrack* video = firstVideoTrack();
    return video ? video->nominalFrameRate : 0.f;
}

int MediaAsset::naturalWidth() const {
    const MediaTrack* video = firstVideoTrack();
    return video ? video->width : 0;
}

int MediaAsset::naturalHeight() const {
    const MediaTrack* video = firstVideoTrack();
    return video ? video->height : 0;
}

MediaColorMatrix MediaAsset::colorMatrix() const {
    const MediaTrack* video = firstVideoTrack();
    return video ? video->colorMatrix : MediaColorMatrix::Unspecified;
}
