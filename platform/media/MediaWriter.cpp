#include "MediaWriter.h"

#include "FFmpegSupport.h"
#include "Log.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <deque>
#include <vector>

using namespace MediaFFmpeg;

namespace {

struct SwsFree {
    void operator()(SwsContext* c) const { sws_freeContext(c); }
};
struct SwrFree {
    void operator()(SwrContext* c) const { swr_free(&c); }
};
struct FifoFree {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
// An output file: the muxer and its I/O, removed from disk unless it was completed.
struct OutputCloser {
    void operator()(AVFormatContext* c) const {
        if (c->pb) avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputCloser>;

// Tags as FFmpeg stores them (first letter in the lowest byte).
constexpr uint32_t ffTag(const char (&code)[5]) { return MKTAG(code[0], code[1], code[2], code[3]); }

OutputPtr makeOutput(const char* format, const std::string& path, MediaError* error) {
    AVFormatContext* raw = nullptr;
    const int rc = avformat_alloc_output_context2(&raw, nullptr, format, path.c_str());
    if (rc < 0 || !raw) {
        setError(error, MediaErrorCode::WriteFailed, "cannot write \"" + path + "\": " + errorString(rc));
        return nullptr;
    }
    return OutputPtr(raw);
}

// Creates the file and writes the header. *created tells whether a file of ours is on disk now
// (a destination that cannot be opened is never ours to remove).
bool openOutput(AVFormatContext* output, const std::string& path, bool* created, MediaError* error) {
    int rc = avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE);
    *created = rc >= 0;
    if (rc >= 0) rc = avformat_write_header(output, nullptr);
    if (rc < 0) {
        setError(error, MediaErrorCode::WriteFailed, "cannot write \"" + path + "\": " + errorString(rc));
        return false;
    }
    return true;
}

// Writes the index and closes the file; false when anything of it failed on the way.
bool closeOutput(AVFormatContext* output, const std::string& path, MediaError* error) {
    int rc = av_write_trailer(output);
    if (rc >= 0 && output->pb->error < 0) rc = output->pb->error;
    const int closed = avio_closep(&output->pb);
    if (rc >= 0) rc = closed;
    if (rc < 0) {
        setError(error, MediaErrorCode::WriteFailed, "writing \"" + path + "\" failed: " + errorString(rc));
        return false;
    }
    return true;
}

void removeFile(AVFormatContext* output, const std::string& path) {
    if (output && output->pb) avio_closep(&output->pb);
    std::remove(path.c_str());
}

}  // namespace

MediaWriterRole mediaWriterRoleOf(const MediaTrack& track) {
    if (track.kind == MediaTrackKind::Video) return MediaWriterRole::Reencode;
    if (track.codecType == fourCC("odsm") || track.codecType == fourCC("sdsm")) return MediaWriterRole::Leave;
    return MediaWriterRole::Copy;
}

namespace {

// One output stream and what feeds it.
struct Stream {
    AVStream* source = nullptr;
    AVStream* out = nullptr;
    MediaTrackKind kind = MediaTrackKind::Other;
    // Re-encoded video.
    CodecPtr decoder;
    CodecPtr encoder;
    std::unique_ptr<SwsContext, SwsFree> scaler;
    FramePtr converted;
    std::deque<int64_t> durations;  // of the frames in the encoder, in order (all intra)
    int64_t frameStep = 0;          // one frame in the source's time base
    bool drained = false;           // the decoder gave its last frame
    // Copied packets.
    bool sawFirst = false;
    int64_t shift = 0;  // added to the packets' times (a priming trim the source did not have)
    int64_t read = 0;     // samples read: packets copied, pictures decoded
    int64_t packets = 0;  // packets read, against the index's count
};

}  // namespace

struct MediaWriter::State {
    std::string source, destination;
    MediaWriterCodec codec = MediaWriterCodec::ProRes422;
    FormatPtr input;
    OutputPtr output;
    std::vector<Stream> streams;
    std::vector<int> streamOf;  // source stream index → output stream, -1 left out
    bool audioIsAAC = false;
    MediaTime duration;
    PacketPtr packet{av_packet_alloc()};
    PacketPtr encoded{av_packet_alloc()};
    FramePtr frame{av_frame_alloc()};
    bool holdsPacket = false, holdsFrame = false;
    bool readEnded = false;
    bool started = false, completed = false;

    bool fail(MediaError* error, MediaErrorCode code, const std::string& message) {
        setError(error, code, message);
        return false;
    }
    bool setUpEncoder(Stream& stream, MediaError* error);
    bool writeEncoded(Stream& stream, MediaError* error);
    bool writePacket(AVPacket* packet, MediaError* error);
    bool endedEarly(MediaError* error) const;
};

bool MediaWriter::State::setUpEncoder(Stream& stream, MediaError* error) {
    const AVCodecParameters* par = stream.source->codecpar;
    const bool hap = codec == MediaWriterCodec::Hap || codec == MediaWriterCodec::HapAlpha;
    const AVCodec* encoder = avcodec_find_encoder_by_name(hap ? "hap" : "prores_ks");
    if (!encoder) return fail(error, MediaErrorCode::WriteFailed, "no encoder for the chosen codec");
    stream.encoder.reset(avcodec_alloc_context3(encoder));
    AVCodecContext* enc = stream.encoder.get();
    enc->width = par->width;
    enc->height = par->height;
    enc->time_base = stream.source->time_base;
    enc->framerate = stream.source->avg_frame_rate;
    enc->sample_aspect_ratio = par->sample_aspect_ratio;
    enc->thread_count = 0;
    AVDictionary* options = nullptr;
    switch (codec) {
    case MediaWriterCodec::Hap:
    case MediaWriterCodec::HapAlpha:
        enc->pix_fmt = AV_PIX_FMT_RGBA;
        av_dict_set(&options, "format", codec == MediaWriterCodec::Hap ? "hap" : "hap_alpha", 0);
        enc->codec_tag = codec == MediaWriterCodec::Hap ? ffTag("Hap1") : ffTag("Hap5");
        break;
    case MediaWriterCodec::ProRes422:
        enc->pix_fmt = AV_PIX_FMT_YUV422P10;
        av_dict_set(&options, "profile", "standard", 0);
        enc->codec_tag = ffTag("apcn");
        break;
    case MediaWriterCodec::ProRes4444:
        enc->pix_fmt = AV_PIX_FMT_YUVA444P10;
        av_dict_set(&options, "profile", "4444", 0);
        enc->codec_tag = ffTag("ap4h");
        break;
    }
    if (!hap) {
        enc->color_primaries = par->color_primaries;
        enc->color_trc = par->color_trc;
        enc->colorspace = par->color_space;
        enc->color_range = AVCOL_RANGE_MPEG;
    }
    if (output->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int rc = avcodec_open2(enc, encoder, &options);
    av_dict_free(&options);
    if (rc < 0)
        return fail(error, MediaErrorCode::WriteFailed,
                    "the " + std::string(encoder->name) + " encoder refuses " + std::to_string(par->width) + "x" +
                        std::to_string(par->height) + " pictures of \"" + source + "\": " + errorString(rc));
    stream.converted.reset(av_frame_alloc());
    stream.converted->format = enc->pix_fmt;
    stream.converted->width = enc->width;
    stream.converted->height = enc->height;
    if (av_frame_get_buffer(stream.converted.get(), 0) < 0)
        return fail(error, MediaErrorCode::WriteFailed, "out of memory");
    avcodec_parameters_from_context(stream.out->codecpar, enc);
    stream.out->time_base = enc->time_base;
    stream.out->avg_frame_rate = stream.source->avg_frame_rate;
    // The track's display rotation goes with the new pictures, whichever the codec.
    size_t size = 0;
    if (const uint8_t* matrix = av_stream_get_side_data(stream.source, AV_PKT_DATA_DISPLAYMATRIX, &size)) {
        if (uint8_t* copy = av_stream_new_side_data(stream.out, AV_PKT_DATA_DISPLAYMATRIX, size))
            memcpy(copy, matrix, size);
    }
    const AVRational rate = stream.source->avg_frame_rate.num > 0 ? stream.source->avg_frame_rate
                                                                   : stream.source->r_frame_rate;
    stream.frameStep = rate.num > 0 ? av_rescale_q(1, av_inv_q(rate), stream.source->time_base) : 1;
    return true;
}

MediaWriter::MediaWriter(std::unique_ptr<State> state) : state_(std::move(state)) {}

MediaWriter::~MediaWriter() {
    if (state_->started && !state_->completed) removeFile(state_->output.get(), state_->destination);
}

std::unique_ptr<MediaWriter> MediaWriter::open(const std::string& source, const std::string& destination,
                                               MediaWriterCodec codec, MediaError* error) {
    auto state = std::make_unique<State>();
    state->source = source;
    state->destination = destination;
    state->codec = codec;
    const auto asset = MediaAsset::open(source, error);
    if (!asset) return nullptr;
    if (!asset->hasVideo()) {
        setError(error, MediaErrorCode::NoSuchTrack, "\"" + source + "\" has no video track");
        return nullptr;
    }
    state->duration = asset->duration();
    state->input = openInput(source, error);
    if (!state->input) return nullptr;
    state->output = makeOutput("mov", destination, error);
    if (!state->output || !state->packet || !state->encoded || !state->frame) return nullptr;

    AVFormatContext* input = state->input.get();
    state->streamOf.assign(input->nb_streams, -1);
    for (const MediaTrack& track : asset->tracks()) {
        AVStream* in = input->streams[track.index];
        const MediaWriterRole role = mediaWriterRoleOf(track);
        if (track.kind == MediaTrackKind::Audio) state->audioIsAAC = track.codecType == fourCC("aac ");
        if (role == MediaWriterRole::Leave) continue;
        Stream stream;
        stream.source = in;
        stream.kind = track.kind;
        stream.out = avformat_new_stream(state->output.get(), nullptr);
        if (!stream.out) {
            setError(error, MediaErrorCode::WriteFailed, "out of memory");
            return nullptr;
        }
        if (const AVDictionaryEntry* lang = av_dict_get(in->metadata, "language", nullptr, 0))
            av_dict_set(&stream.out->metadata, "language", lang->value, 0);
        if (role == MediaWriterRole::Reencode) {
            stream.decoder = openDecoder(in, 0, source, error);
            if (!stream.decoder || !state->setUpEncoder(stream, error)) return nullptr;
        } else {
            avcodec_parameters_copy(stream.out->codecpar, in->codecpar);
            // The container picks its own tag for codecs it knows; others (timecode) keep theirs.
            unsigned tag = 0;
            if (av_codec_get_tag2(state->output->oformat->codec_tag, in->codecpar->codec_id, &tag))
                stream.out->codecpar->codec_tag = 0;
            stream.out->time_base = in->time_base;
            // A timecode track is written at its frame rate.
            stream.out->avg_frame_rate = in->avg_frame_rate;
        }
        state->streamOf[track.index] = int(state->streams.size());
        state->streams.push_back(std::move(stream));
    }
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (state->streamOf[i] < 0) input->streams[i]->discard = AVDISCARD_ALL;
    return std::unique_ptr<MediaWriter>(new MediaWriter(std::move(state)));
}

std::size_t MediaWriter::inputCount() const { return state_->streams.size(); }
bool MediaWriter::audioIsAAC() const { return state_->audioIsAAC; }
MediaTime MediaWriter::duration() const { return state_->duration; }

bool MediaWriter::start(MediaError* error) {
    return openOutput(state_->output.get(), state_->destination, &state_->started, error);
}

MediaWriter::Step MediaWriter::readSample(Sample& sample, MediaError* error) {
    State& s = *state_;
    if (s.holdsPacket) av_packet_unref(s.packet.get());
    if (s.holdsFrame) av_frame_unref(s.frame.get());
    s.holdsPacket = s.holdsFrame = false;
    for (;;) {
        // Pictures the decoders hold come first: they were read before the next packet.
        bool allDrained = true;
        for (std::size_t i = 0; i < s.streams.size(); ++i) {
            Stream& stream = s.streams[i];
            if (!stream.decoder || stream.drained) continue;
            const int rc = avcodec_receive_frame(stream.decoder.get(), s.frame.get());
            if (rc == 0) {
                if (s.frame->decode_error_flags || (s.frame->flags & AV_FRAME_FLAG_CORRUPT)) {
                    s.fail(error, MediaErrorCode::DecodeFailed, "a damaged picture in \"" + s.source + "\"");
                    return Step::Failed;
                }
                if (s.frame->best_effort_timestamp == AV_NOPTS_VALUE)
                    s.frame->best_effort_timestamp = stream.read * stream.frameStep;
                ++stream.read;
                s.holdsFrame = true;
                sample = {};
                sample.input = i;
                sample.kind = stream.kind;
                sample.time = toMediaTime(s.frame->best_effort_timestamp - startOffset(s.input.get(), stream.source),
                                          stream.source->time_base);
                return Step::Sample;
            }
            if (rc == AVERROR_EOF) {
                stream.drained = true;
                continue;
            }
            if (rc != AVERROR(EAGAIN)) {
                s.fail(error, MediaErrorCode::DecodeFailed,
                       "decoding \"" + s.source + "\" failed: " + errorString(rc));
                return Step::Failed;
            }
            allDrained = false;
        }
        if (s.readEnded) {
            if (!allDrained) continue;
            return s.endedEarly(error) ? Step::Failed : Step::End;
        }
        const int rc = av_read_frame(s.input.get(), s.packet.get());
        if (rc < 0) {
            if (rc != AVERROR_EOF) {
                s.fail(error, MediaErrorCode::DecodeFailed, "reading \"" + s.source + "\" failed: " + errorString(rc));
                return Step::Failed;
            }
            s.readEnded = true;
            for (Stream& stream : s.streams)
                if (stream.decoder) avcodec_send_packet(stream.decoder.get(), nullptr);
            continue;
        }
        const int index = s.streamOf[std::size_t(s.packet->stream_index)];
        if (index < 0) {
            av_packet_unref(s.packet.get());
            continue;
        }
        Stream& stream = s.streams[std::size_t(index)];
        ++stream.packets;
        if (stream.decoder) {
            const int sent = avcodec_send_packet(stream.decoder.get(), s.packet.get());
            av_packet_unref(s.packet.get());
            if (sent < 0 && sent != AVERROR(EAGAIN)) {
                s.fail(error, MediaErrorCode::DecodeFailed, "decoding \"" + s.source + "\" failed: " + errorString(sent));
                return Step::Failed;
            }
            continue;
        }
        ++stream.read;
        s.holdsPacket = true;
        sample = {};
        sample.input = std::size_t(index);
        sample.kind = stream.kind;
        const AVRational base = stream.source->time_base;
        sample.time = toMediaTime(s.packet->pts == AV_NOPTS_VALUE ? s.packet->dts : s.packet->pts, base);
        if (stream.kind == MediaTrackKind::Audio) {
            sample.sampleRate = stream.source->codecpar->sample_rate;
            if (!stream.sawFirst && s.packet->pts != AV_NOPTS_VALUE && s.packet->pts < 0)
                sample.trimAtStart = toMediaTime(-s.packet->pts, base);
        }
        return Step::Sample;
    }
}

bool MediaWriter::State::endedEarly(MediaError* error) const {
    // An index that promises more than the file holds: the file was cut short.
    for (const Stream& stream : streams) {
        const bool counted = stream.kind == MediaTrackKind::Video || stream.kind == MediaTrackKind::Audio;
        if (counted && stream.source->nb_frames > 0 && stream.packets < stream.source->nb_frames) {
            setError(error, MediaErrorCode::DecodeFailed,
                     "\"" + source + "\" ends early: " + std::to_string(stream.packets) + " of " +
                         std::to_string(stream.source->nb_frames) + " samples of a track");
            return true;
        }
    }
    return false;
}

bool MediaWriter::State::writePacket(AVPacket* pkt, MediaError* error) {
    const int rc = av_interleaved_write_frame(output.get(), pkt);
    if (rc < 0 || output->pb->error < 0)
        return fail(error, MediaErrorCode::WriteFailed,
                    "writing \"" + destination + "\" failed: " + errorString(rc < 0 ? rc : output->pb->error));
    return true;
}

bool MediaWriter::State::writeEncoded(Stream& stream, MediaError* error) {
    for (;;) {
        const int rc = avcodec_receive_packet(stream.encoder.get(), encoded.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) return fail(error, MediaErrorCode::WriteFailed, "encoding failed: " + errorString(rc));
        if (!stream.durations.empty()) {
            encoded->duration = stream.durations.front();
            stream.durations.pop_front();
        }
        encoded->stream_index = stream.out->index;
        av_packet_rescale_ts(encoded.get(), stream.encoder->time_base, stream.out->time_base);
        if (!writePacket(encoded.get(), error)) return false;
    }
}

bool MediaWriter::append(const Sample& sample, MediaError* error) {
    State& s = *state_;
    if (sample.input >= s.streams.size())
        return s.fail(error, MediaErrorCode::WriteFailed, "no such output stream");
    Stream& stream = s.streams[sample.input];
    if (s.holdsFrame && stream.encoder) {
        AVFrame* in = s.frame.get();
        AVFrame* out = stream.converted.get();
        if (av_frame_make_writable(out) < 0) return s.fail(error, MediaErrorCode::WriteFailed, "out of memory");
        stream.scaler.reset(sws_getCachedContext(stream.scaler.release(), in->width, in->height,
                                                 AVPixelFormat(in->format), out->width, out->height,
                                                 AVPixelFormat(out->format), SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!stream.scaler) return s.fail(error, MediaErrorCode::WriteFailed, "cannot convert the pictures");
        if (out->format == AV_PIX_FMT_RGBA) {
            // RGB needs the source's matrix; untagged pictures read as their size suggests.
            int space = in->colorspace;
            if (space == AVCOL_SPC_UNSPECIFIED) space = in->height > 576 ? SWS_CS_ITU709 : SWS_CS_ITU601;
            sws_setColorspaceDetails(stream.scaler.get(), sws_getCoefficients(space),
                                     in->color_range == AVCOL_RANGE_JPEG, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                                     1 << 16, 1 << 16);
        }
        sws_scale(stream.scaler.get(), in->data, in->linesize, 0, in->height, out->data, out->linesize);
        out->pts = in->best_effort_timestamp;
        stream.durations.push_back(in->pkt_duration > 0 ? in->pkt_duration : stream.frameStep);
        const int rc = avcodec_send_frame(stream.encoder.get(), out);
        av_frame_unref(in);
        s.holdsFrame = false;
        if (rc < 0) return s.fail(error, MediaErrorCode::WriteFailed, "encoding failed: " + errorString(rc));
        return s.writeEncoded(stream, error);
    }
    if (!s.holdsPacket) return s.fail(error, MediaErrorCode::WriteFailed, "no sample to append");
    AVPacket* pkt = s.packet.get();
    if (!stream.sawFirst) {
        stream.sawFirst = true;
        // A trim the caller put on a track whose source has none: the track starts that much
        // earlier, so the file's edit list skips it.
        if (sample.trimAtStart.isNumeric() && !(pkt->pts != AV_NOPTS_VALUE && pkt->pts < 0))
            stream.shift = -fromMediaTime(sample.trimAtStart, stream.source->time_base);
    }
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += stream.shift;
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += stream.shift;
    pkt->stream_index = stream.out->index;
    pkt->pos = -1;
    av_packet_rescale_ts(pkt, stream.source->time_base, stream.out->time_base);
    const bool written = s.writePacket(pkt, error);
    s.holdsPacket = false;
    return written;
}

bool MediaWriter::finish(MediaError* error) {
    State& s = *state_;
    if (!s.started) return s.fail(error, MediaErrorCode::WriteFailed, "the writer was not started");
    for (Stream& stream : s.streams) {
        if (!stream.encoder) continue;
        avcodec_send_frame(stream.encoder.get(), nullptr);
        if (!s.writeEncoded(stream, error)) {
            cancel();
            return false;
        }
    }
    if (!closeOutput(s.output.get(), s.destination, error)) {
        cancel();
        return false;
    }
    s.completed = true;
    return true;
}

void MediaWriter::cancel() {
    if (state_->started && !state_->completed) removeFile(state_->output.get(), state_->destination);
    state_->started = false;
}

// --- Audio export ----------------------------------------------------------------------------------

namespace {

// The rate and channel layout the AAC encoder is given for a source track.
void chooseAudioFormat(const AVCodec* aac, const AVCodecContext* decoder, AVCodecContext* encoder) {
    encoder->sample_rate = 48000;
    for (const int* rate = aac->supported_samplerates; rate && *rate; ++rate)
        if (*rate == decoder->sample_rate) encoder->sample_rate = decoder->sample_rate;
    av_channel_layout_default(&encoder->ch_layout, 2);
    AVChannelLayout source;
    av_channel_layout_default(&source, decoder->ch_layout.nb_channels);
    if (decoder->ch_layout.order == AV_CHANNEL_ORDER_NATIVE) av_channel_layout_copy(&source, &decoder->ch_layout);
    for (const AVChannelLayout* layout = aac->ch_layouts; layout && layout->nb_channels; ++layout)
        if (!av_channel_layout_compare(layout, &source)) av_channel_layout_copy(&encoder->ch_layout, layout);
    av_channel_layout_uninit(&source);
}

struct AudioExport {
    std::string source, destination;
    OpenedTrack track;
    OutputPtr output;
    CodecPtr encoder;
    std::unique_ptr<SwrContext, SwrFree> resampler;
    std::unique_ptr<AVAudioFifo, FifoFree> fifo;
    AVStream* out = nullptr;
    int64_t written = 0;  // samples given to the encoder
    bool opened = false;

    bool setUp(MediaError* error);
    bool encodeFromFifo(bool all, MediaError* error);
    bool drainEncoder(MediaError* error);
};

bool AudioExport::setUp(MediaError* error) {
    if (!openTrack(source, AVMEDIA_TYPE_AUDIO, 0, track, error)) return false;
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    output = makeOutput("ipod", destination, error);
    if (!aac || !output) return false;
    encoder.reset(avcodec_alloc_context3(aac));
    AVCodecContext* enc = encoder.get();
    chooseAudioFormat(aac, track.codec.get(), enc);
    enc->sample_fmt = AV_SAMPLE_FMT_FLTP;
    enc->time_base = AVRational{1, enc->sample_rate};
    if (output->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int rc = avcodec_open2(enc, aac, nullptr);
    out = avformat_new_stream(output.get(), nullptr);
    if (rc < 0 || !out) {
        setError(error, MediaErrorCode::WriteFailed, "the AAC encoder refuses the audio of \"" + source + "\"");
        return false;
    }
    avcodec_parameters_from_context(out->codecpar, enc);
    out->time_base = enc->time_base;
    SwrContext* swr = nullptr;
    rc = swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &track.codec->ch_layout,
                             track.codec->sample_fmt, track.codec->sample_rate, 0, nullptr);
    resampler.reset(swr);
    if (rc < 0 || swr_init(swr) < 0) {
        setError(error, MediaErrorCode::WriteFailed, "cannot convert the audio of \"" + source + "\"");
        return false;
    }
    fifo.reset(av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, enc->frame_size));
    return fifo && openOutput(output.get(), destination, &opened, error);
}

bool AudioExport::drainEncoder(MediaError* error) {
    PacketPtr packet(av_packet_alloc());
    for (;;) {
        const int rc = avcodec_receive_packet(encoder.get(), packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) {
            setError(error, MediaErrorCode::WriteFailed, "encoding failed: " + errorString(rc));
            return false;
        }
        packet->stream_index = out->index;
        av_packet_rescale_ts(packet.get(), encoder->time_base, out->time_base);
        const int w = av_interleaved_write_frame(output.get(), packet.get());
        if (w < 0 || output->pb->error < 0) {
            setError(error, MediaErrorCode::WriteFailed,
                     "writing \"" + destination + "\" failed: " + errorString(w < 0 ? w : output->pb->error));
            return false;
        }
    }
}

// Encodes whole encoder frames from the FIFO; `all` also the last, shorter one.
bool AudioExport::encodeFromFifo(bool all, MediaError* error) {
    const int size = encoder->frame_size;
    FramePtr frame(av_frame_alloc());
    while (av_audio_fifo_size(fifo.get()) >= size || (all && av_audio_fifo_size(fifo.get()) > 0)) {
        frame->nb_samples = std::min(size, av_audio_fifo_size(fifo.get()));
        frame->format = encoder->sample_fmt;
        frame->sample_rate = encoder->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
        if (av_frame_get_buffer(frame.get(), 0) < 0 ||
            av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(frame->data), frame->nb_samples) < 0) {
            setError(error, MediaErrorCode::WriteFailed, "out of memory");
            return false;
        }
        frame->pts = written;
        written += frame->nb_samples;
        const int rc = avcodec_send_frame(encoder.get(), frame.get());
        av_frame_unref(frame.get());
        if (rc < 0) {
            setError(error, MediaErrorCode::WriteFailed, "encoding failed: " + errorString(rc));
            return false;
        }
        if (!drainEncoder(error)) return false;
    }
    return true;
}

}  // namespace

bool exportAudioToM4A(const std::string& source, const std::string& destination,
                      const std::atomic<bool>& cancelled, std::atomic<float>& progress, MediaError* error) {
    AudioExport job;
    job.source = source;
    job.destination = destination;
    const auto giveUp = [&] {
        if (job.opened) removeFile(job.output.get(), destination);
        return false;
    };
    if (!job.setUp(error)) return giveUp();
    const MediaTime end = trackEnd(job.track.format.get(), job.track.stream);
    const double length = end.isNumeric() ? end.seconds() : 0;
    StreamDecoder decoder(job.track.format.get(), job.track.codec.get(), job.track.streamIndex, 1, source);
    FramePtr converted(av_frame_alloc());
    while (FramePtr frame = decoder.next()) {
        if (cancelled.load()) {
            setError(error, MediaErrorCode::Cancelled, "the export of \"" + source + "\" was cancelled");
            return giveUp();
        }
        converted->format = job.encoder->sample_fmt;
        converted->sample_rate = job.encoder->sample_rate;
        av_channel_layout_copy(&converted->ch_layout, &job.encoder->ch_layout);
        const int rc = swr_convert_frame(job.resampler.get(), converted.get(), frame.get());
        if (rc < 0 || av_audio_fifo_write(job.fifo.get(), reinterpret_cast<void**>(converted->data),
                                          converted->nb_samples) < 0) {
            setError(error, MediaErrorCode::WriteFailed, "cannot convert the audio of \"" + source + "\"");
            return giveUp();
        }
        av_frame_unref(converted.get());
        if (!job.encodeFromFifo(false, error)) return giveUp();
        const double at = toMediaTime(frame->best_effort_timestamp - job.track.offset, job.track.stream->time_base)
                              .seconds();
        if (length > 0 && std::isfinite(at)) progress.store(float(std::clamp(at / length, 0.0, 1.0)));
    }
    if (decoder.failure()) {
        if (error) *error = decoder.failure();
        return giveUp();
    }
    // What the resampler still holds, then the encoder's tail.
    converted->format = job.encoder->sample_fmt;
    converted->sample_rate = job.encoder->sample_rate;
    av_channel_layout_copy(&converted->ch_layout, &job.encoder->ch_layout);
    if (swr_convert_frame(job.resampler.get(), converted.get(), nullptr) >= 0 && converted->nb_samples > 0)
        av_audio_fifo_write(job.fifo.get(), reinterpret_cast<void**>(converted->data), converted->nb_samples);
    if (!job.encodeFromFifo(true, error)) return giveUp();
    avcodec_send_frame(job.encoder.get(), nullptr);
    if (!job.drainEncoder(error) || !closeOutput(job.output.get(), destination, error)) return giveUp();
    progress.store(1.0f);
    return true;
}
