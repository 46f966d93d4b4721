#include "CaptionSampleReader.h"

#include "FFmpegSupport.h"

using namespace MediaFFmpeg;

struct CaptionSampleReader::Impl {
    FormatPtr format;
    AVStream* stream = nullptr;
    int64_t offset = 0;
    PacketPtr packet{av_packet_alloc()};
};

CaptionSampleReader::CaptionSampleReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
CaptionSampleReader::~CaptionSampleReader() = default;

std::unique_ptr<CaptionSampleReader> CaptionSampleReader::open(const std::string& path, int streamIndex,
                                                               MediaError* error)
{
    auto impl = std::make_unique<Impl>();
    impl->format = openInput(path, error);
    if (!impl->format) {
        return nullptr;
    }
    if (streamIndex < 0 || unsigned(streamIndex) >= impl->format->nb_streams ||
        impl->format->streams[streamIndex]->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) {
        setError(error, MediaErrorCode::NotMedia, path + ": stream " + std::to_string(streamIndex) +
                                                      " is not a caption track");
        return nullptr;
    }
    for (unsigned i = 0; i < impl->format->nb_streams; ++i) {
        impl->format->streams[i]->discard = int(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    impl->stream = impl->format->streams[streamIndex];
    impl->offset = startOffset(impl->format.get(), impl->stream);
    return std::unique_ptr<CaptionSampleReader>(new CaptionSampleReader(std::move(impl)));
}

namespace {

void appendBigEndian32(std::vector<uint8_t>& out, uint32_t v)
{
    out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

// The demuxer hands CEA-608 samples over as cc_data triplets (a marker byte with the valid bit
// and the field, then one byte pair); put the pairs back into the atom the file holds: "cdat"
// for field 1, or "cdt2" when only field 2 has data.
std::vector<uint8_t> captionAtom(const uint8_t* data, int size)
{
    std::vector<uint8_t> fields[2];
    for (int i = 0; i + 2 < size; i += 3) {
        const uint8_t marker = data[i];
        const int field = marker & 0x03;
        if (!(marker & 0x04) || field > 1) {
            continue;  // not valid line-21 data
        }
        fields[field].insert(fields[field].end(), {data[i + 1], data[i + 2]});
    }
    const int field = fields[0].empty() && !fields[1].empty() ? 1 : 0;
    std::vector<uint8_t> atom;
    appendBigEndian32(atom, uint32_t(8 + fields[field].size()));
    const char* type = field == 0 ? "cdat" : "cdt2";
    atom.insert(atom.end(), type, type + 4);
    atom.insert(atom.end(), fields[field].begin(), fields[field].end());
    return atom;
}

}  // namespace

std::optional<CaptionSample> CaptionSampleReader::next()
{
    AVPacket* packet = impl_->packet.get();
    for (;;) {
        av_packet_unref(packet);
        if (av_read_frame(impl_->format.get(), packet) < 0) {
            return std::nullopt;
        }
        if (packet->stream_index == impl_->stream->index) {
            break;
        }
    }
    CaptionSample sample;
    const AVRational timeBase = impl_->stream->time_base;
    const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    sample.presentationTime = pts == AV_NOPTS_VALUE ? MediaTime::invalid() : toMediaTime(pts - impl_->offset, timeBase);
    sample.duration = packet->duration > 0 ? toMediaTime(packet->duration, timeBase) : MediaTime::invalid();
    if (impl_->stream->codecpar->codec_id == AV_CODEC_ID_EIA_608) {
        sample.data = captionAtom(packet->data, packet->size);
    } else {
        sample.data.assign(packet->data, packet->data + packet->size);
    }
    return sample;
}
