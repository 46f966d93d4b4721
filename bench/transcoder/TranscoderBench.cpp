// The conversion jobs (QVTTranscoder) against a bare libav decode and encode loop doing the same
// work in the same process: a 10 s 1080p H.264 clip with AAC to Hap and to ProRes 422 (audio
// copied packet for packet), and its audio to M4A. Same encoders, settings and pixel conversion,
// both with their default (automatic) thread counts; the two runs alternate within every
// iteration, so load that comes and goes hits them alike. Both outputs are decoded back and must
// hold the same frames (count, and small greyscale pictures of the first, middle and last frame)
// or the same number of audio samples. "ratio" is the reference's time over ours (1.0: as fast;
// the target is at least 0.9); "fps" the frames per second of our job. Run on demand:
// ./TranscoderBench

#include "Media/QVTTranscoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

namespace {

constexpr double kFrames = 250;

struct Clip {
    std::string folder;
    bool ok = false;
    Clip()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kavio-bench-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (!mkdtemp(buffer.data()))
            return;
        folder = buffer.data();
        ok = run("-f lavfi -i testsrc2=size=1920x1080:rate=25:duration=10 -f lavfi -i "
                 "sine=frequency=440:sample_rate=48000:duration=10 -c:v libx264 -preset veryfast "
                 "-pix_fmt yuv420p -c:a aac -ac 2 clip.mp4");
    }
    ~Clip()
    {
        std::error_code ec;
        if (!folder.empty())
            std::filesystem::remove_all(folder, ec);
    }
    bool run(const std::string& arguments) const
    {
        return std::system(("cd '" + folder + "' && ffmpeg -nostdin -v error -y " + arguments).c_str()) == 0;
    }
    std::string path(const std::string& name) const { return folder + "/" + name; }
};

const Clip& clip()
{
    static const Clip made;
    return made;
}

class Waiter : public QVTTranscoderDelegate {
public:
    void updateConversionProgress() override {}
    void transcodingFinished(const std::shared_ptr<QVTTranscoderInterface>& job) override
    {
        done.set_value(!job->isCancelled());
    }
    std::promise<bool> done;
};

double seconds(const std::function<bool()>& work, bool* ok)
{
    const auto start = std::chrono::steady_clock::now();
    *ok = work() && *ok;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool runJob(bool audio, QVTTranscoderCodec codec, const std::string& destination)
{
    const auto waiter = std::make_shared<Waiter>();
    auto future = waiter->done.get_future();
    const auto job = QVTTranscoder::create();
    const QString source = QString::fromStdString(clip().path("clip.mp4"));
    job->setSourcePath(source);
    job->setDestinationPath(QString::fromStdString(destination));
    job->setDestinationCodec(codec);
    job->setDelegate(waiter);
    if (audio)
        job->transcodeAudio(source, QString::fromStdString(destination));
    else
        job->startTranscode();
    return future.get() && (!audio || job->destinationPath() == QString::fromStdString(destination));
}

// --- The bare reference ------------------------------------------------------------------------

struct Input {
    AVFormatContext* format = nullptr;
    ~Input() { avformat_close_input(&format); }
};
struct Output {
    AVFormatContext* format = nullptr;
    ~Output()
    {
        if (format && !(format->oformat->flags & AVFMT_NOFILE))
            avio_closep(&format->pb);
        avformat_free_context(format);
    }
};
struct Codec {
    AVCodecContext* context = nullptr;
    ~Codec() { avcodec_free_context(&context); }
};

bool openDecoder(AVStream* stream, Codec& codec)
{
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    codec.context = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(codec.context, stream->codecpar);
    codec.context->thread_count = 0;
    return avcodec_open2(codec.context, decoder, nullptr) >= 0;
}

// Sends what the encoder gives to the muxer; packets without a duration last one frame (the
// muxer would give the last picture none).
bool drain(Codec& encoder, AVStream* out, Output& output)
{
    AVPacket* packet = av_packet_alloc();
    const AVRational rate = encoder.context->framerate;
    const std::int64_t frame = rate.num > 0 ? av_rescale_q(1, av_inv_q(rate), encoder.context->time_base) : 0;
    bool ok = true;
    while (avcodec_receive_packet(encoder.context, packet) == 0) {
        if (packet->duration <= 0)
            packet->duration = frame;
        packet->stream_index = out->index;
        av_packet_rescale_ts(packet, encoder.context->time_base, out->time_base);
        ok = av_interleaved_write_frame(output.format, packet) >= 0 && ok;
    }
    av_packet_free(&packet);
    return ok;
}

// Video re-encoded with the job's encoder and settings (pictures converted as the job converts
// them), audio copied; a QuickTime movie.
bool bareVideo(bool hap, const std::string& destination)
{
    Input in;
    if (avformat_open_input(&in.format, clip().path("clip.mp4").c_str(), nullptr, nullptr) < 0
        || avformat_find_stream_info(in.format, nullptr) < 0)
        return false;
    const int video = av_find_best_stream(in.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audio = av_find_best_stream(in.format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    AVStream* source = in.format->streams[video];
    Codec decoder, encoder;
    if (video < 0 || audio < 0 || !openDecoder(source, decoder))
        return false;
    Output output;
    avformat_alloc_output_context2(&output.format, nullptr, "mov", destination.c_str());
    const AVCodec* codec = avcodec_find_encoder_by_name(hap ? "hap" : "prores_ks");
    encoder.context = avcodec_alloc_context3(codec);
    AVCodecContext* enc = encoder.context;
    enc->width = source->codecpar->width;
    enc->height = source->codecpar->height;
    enc->time_base = source->time_base;
    enc->framerate = source->avg_frame_rate;
    enc->thread_count = 0;
    enc->pix_fmt = hap ? AV_PIX_FMT_RGBA : AV_PIX_FMT_YUV422P10;
    AVDictionary* options = nullptr;
    av_dict_set(&options, hap ? "format" : "profile", hap ? "hap" : "standard", 0);
    if (output.format->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int opened = avcodec_open2(enc, codec, &options);
    av_dict_free(&options);
    if (opened < 0)
        return false;
    AVStream* videoOut = avformat_new_stream(output.format, nullptr);
    avcodec_parameters_from_context(videoOut->codecpar, enc);
    videoOut->time_base = enc->time_base;
    AVStream* audioOut = avformat_new_stream(output.format, nullptr);
    avcodec_parameters_copy(audioOut->codecpar, in.format->streams[audio]->codecpar);
    audioOut->codecpar->codec_tag = 0;
    audioOut->time_base = in.format->streams[audio]->time_base;
    if (avio_open(&output.format->pb, destination.c_str(), AVIO_FLAG_WRITE) < 0
        || avformat_write_header(output.format, nullptr) < 0)
        return false;

    AVFrame* picture = av_frame_alloc();
    AVFrame* converted = av_frame_alloc();
    converted->format = enc->pix_fmt;
    converted->width = enc->width;
    converted->height = enc->height;
    av_frame_get_buffer(converted, 0);
    SwsContext* scaler = nullptr;
    AVPacket* packet = av_packet_alloc();
    bool ok = true;
    const auto encodeDecoded = [&] {
        while (avcodec_receive_frame(decoder.context, picture) == 0) {
            av_frame_make_writable(converted);
            scaler = sws_getCachedContext(scaler, picture->width, picture->height, AVPixelFormat(picture->format),
                                          converted->width, converted->height, AVPixelFormat(converted->format),
                                          SWS_BICUBIC, nullptr, nullptr, nullptr);
            if (hap) {
                const int space = picture->colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_ITU709 : picture->colorspace;
                sws_setColorspaceDetails(scaler, sws_getCoefficients(space), picture->color_range == AVCOL_RANGE_JPEG,
                                         sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
            }
            sws_scale(scaler, picture->data, picture->linesize, 0, picture->height, converted->data,
                      converted->linesize);
            converted->pts = picture->best_effort_timestamp;
            av_frame_unref(picture);
            ok = avcodec_send_frame(enc, converted) >= 0 && drain(encoder, videoOut, output) && ok;
        }
    };
    while (ok && av_read_frame(in.format, packet) >= 0) {
        if (packet->stream_index == video) {
            ok = avcodec_send_packet(decoder.context, packet) >= 0 && ok;
            encodeDecoded();
        } else if (packet->stream_index == audio) {
            av_packet_rescale_ts(packet, in.format->streams[audio]->time_base, audioOut->time_base);
            packet->stream_index = audioOut->index;
            ok = av_interleaved_write_frame(output.format, packet) >= 0 && ok;
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder.context, nullptr);
    encodeDecoded();
    avcodec_send_frame(enc, nullptr);
    ok = drain(encoder, videoOut, output) && av_write_trailer(output.format) >= 0 && ok;
    av_packet_free(&packet);
    sws_freeContext(scaler);
    av_frame_free(&converted);
    av_frame_free(&picture);
    return ok;
}

// The first audio track decoded, resampled to the encoder's planar float and encoded to AAC in
// an .m4a, as the job's audio export does.
bool bareAudio(const std::string& destination)
{
    Input in;
    if (avformat_open_input(&in.format, clip().path("clip.mp4").c_str(), nullptr, nullptr) < 0
        || avformat_find_stream_info(in.format, nullptr) < 0)
        return false;
    const int audio = av_find_best_stream(in.format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    Codec decoder, encoder;
    if (audio < 0 || !openDecoder(in.format->streams[audio], decoder))
        return false;
    Output output;
    avformat_alloc_output_context2(&output.format, nullptr, "ipod", destination.c_str());
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    encoder.context = avcodec_alloc_context3(aac);
    AVCodecContext* enc = encoder.context;
    enc->sample_rate = decoder.context->sample_rate;
    av_channel_layout_copy(&enc->ch_layout, &decoder.context->ch_layout);
    enc->sample_fmt = AV_SAMPLE_FMT_FLTP;
    enc->time_base = AVRational{1, enc->sample_rate};
    if (output.format->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(enc, aac, nullptr) < 0)
        return false;
    AVStream* out = avformat_new_stream(output.format, nullptr);
    avcodec_parameters_from_context(out->codecpar, enc);
    out->time_base = enc->time_base;
    SwrContext* resampler = nullptr;
    swr_alloc_set_opts2(&resampler, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &decoder.context->ch_layout,
                        decoder.context->sample_fmt, decoder.context->sample_rate, 0, nullptr);
    AVAudioFifo* fifo = av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, enc->frame_size);
    if (!resampler || swr_init(resampler) < 0 || !fifo || avio_open(&output.format->pb, destination.c_str(), AVIO_FLAG_WRITE) < 0
        || avformat_write_header(output.format, nullptr) < 0)
        return false;

    AVFrame* decoded = av_frame_alloc();
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    std::int64_t written = 0;
    bool ok = true;
    const auto encodeFifo = [&](bool all) {
        while (av_audio_fifo_size(fifo) >= enc->frame_size || (all && av_audio_fifo_size(fifo) > 0)) {
            frame->nb_samples = std::min(enc->frame_size, av_audio_fifo_size(fifo));
            frame->format = enc->sample_fmt;
            frame->sample_rate = enc->sample_rate;
            av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
            av_frame_get_buffer(frame, 0);
            av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), frame->nb_samples);
            frame->pts = written;
            written += frame->nb_samples;
            ok = avcodec_send_frame(enc, frame) >= 0 && drain(encoder, out, output) && ok;
            av_frame_unref(frame);
        }
    };
    const auto resampleDecoded = [&] {
        while (avcodec_receive_frame(decoder.context, decoded) == 0) {
            uint8_t** planes = nullptr;
            const int room = swr_get_out_samples(resampler, decoded->nb_samples);
            av_samples_alloc_array_and_samples(&planes, nullptr, enc->ch_layout.nb_channels, room, enc->sample_fmt, 0);
            const int made = swr_convert(resampler, planes, room, const_cast<const uint8_t**>(decoded->extended_data),
                                         decoded->nb_samples);
            if (made > 0)
                av_audio_fifo_write(fifo, reinterpret_cast<void**>(planes), made);
            av_freep(&planes[0]);
            av_freep(&planes);
            av_frame_unref(decoded);
            encodeFifo(false);
        }
    };
    while (ok && av_read_frame(in.format, packet) >= 0) {
        if (packet->stream_index == audio && avcodec_send_packet(decoder.context, packet) >= 0)
            resampleDecoded();
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder.context, nullptr);
    resampleDecoded();
    encodeFifo(true);
    avcodec_send_frame(enc, nullptr);
    ok = drain(encoder, out, output) && av_write_trailer(output.format) >= 0 && ok;
    av_packet_free(&packet);
    av_frame_free(&frame);
    av_frame_free(&decoded);
    av_audio_fifo_free(fifo);
    swr_free(&resampler);
    return ok;
}

// --- Checking that both outputs hold the same work -------------------------------------------------

// What a file holds, decoded back: video frames with 32 x 18 greyscale pictures of the first,
// middle and last, or audio samples per channel.
struct Contents {
    int frames = 0;
    std::vector<std::vector<uint8_t>> pictures;  // first, middle, last
    std::int64_t samples = 0;
};

Contents decodeBack(const std::string& file, bool audio)
{
    Contents contents;
    Input in;
    if (avformat_open_input(&in.format, file.c_str(), nullptr, nullptr) < 0
        || avformat_find_stream_info(in.format, nullptr) < 0)
        return contents;
    const int index = av_find_best_stream(in.format, audio ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    Codec decoder;
    if (index < 0 || !openDecoder(in.format->streams[index], decoder))
        return contents;
    std::vector<std::vector<uint8_t>> all;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    SwsContext* scaler = nullptr;
    const auto take = [&] {
        while (avcodec_receive_frame(decoder.context, frame) == 0) {
            if (audio) {
                contents.samples += frame->nb_samples;
            } else {
                std::vector<uint8_t> small(32 * 18);
                scaler = sws_getCachedContext(scaler, frame->width, frame->height, AVPixelFormat(frame->format), 32, 18,
                                              AV_PIX_FMT_GRAY8, SWS_AREA, nullptr, nullptr, nullptr);
                uint8_t* planes[4] = {small.data()};
                int strides[4] = {32};
                sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
                all.push_back(std::move(small));
                ++contents.frames;
            }
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(in.format, packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(decoder.context, packet) >= 0)
            take();
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder.context, nullptr);
    take();
    if (!all.empty())
        contents.pictures = {all.front(), all[all.size() / 2], all.back()};
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&frame);
    return contents;
}

// Same frame count and pictures within 3 levels on average, or the same samples within one AAC
// frame (the encoders may pad the end differently).
bool sameWork(const std::string& ours, const std::string& reference, bool audio)
{
    const Contents a = decodeBack(ours, audio), b = decodeBack(reference, audio);
    if (audio) {
        const bool same = a.samples > 0 && std::llabs(a.samples - b.samples) <= 1024;
        if (!same)
            std::fprintf(stderr, "audio samples: ours %lld, reference %lld\n", (long long)a.samples, (long long)b.samples);
        return same;
    }
    bool same = a.frames == kFrames && a.frames == b.frames && a.pictures.size() == b.pictures.size();
    for (std::size_t i = 0; same && i < a.pictures.size(); ++i) {
        double difference = 0;
        for (std::size_t p = 0; p < a.pictures[i].size(); ++p)
            difference += std::abs(int(a.pictures[i][p]) - int(b.pictures[i][p]));
        same = difference / double(a.pictures[i].size()) <= 3.0;
    }
    if (!same)
        std::fprintf(stderr, "video frames: ours %d, reference %d, or different pictures\n", a.frames, b.frames);
    return same;
}

void compare(benchmark::State& state, bool audio, QVTTranscoderCodec codec, const std::function<bool(const std::string&)>& reference,
             const std::string& extension)
{
    if (!clip().ok) {
        state.SkipWithError("the clip could not be made");
        return;
    }
    const std::string ours = clip().path("ours." + extension), theirs = clip().path("reference." + extension);
    double oursSeconds = 0, theirsSeconds = 0;
    bool ok = true;
    for (auto _ : state) {
        oursSeconds += seconds([&] { return runJob(audio, codec, ours); }, &ok);
        theirsSeconds += seconds([&] { return reference(theirs); }, &ok);
    }
    if (!ok) {
        state.SkipWithError("a conversion failed");
        return;
    }
    if (!sameWork(ours, theirs, audio)) {
        state.SkipWithError("the outputs differ");
        return;
    }
    const double runs = double(state.iterations());
    state.counters["ours_s"] = oursSeconds / runs;
    state.counters["reference_s"] = theirsSeconds / runs;
    state.counters["ratio"] = theirsSeconds / oursSeconds;
    if (!audio)
        state.counters["fps"] = kFrames * runs / oursSeconds;
}

void BM_Hap(benchmark::State& state)
{
    compare(state, false, QVTTranscoderCodec::Hap, [](const std::string& to) { return bareVideo(true, to); }, "mov");
}
void BM_ProRes422(benchmark::State& state)
{
    compare(state, false, QVTTranscoderCodec::ProRes422, [](const std::string& to) { return bareVideo(false, to); },
            "mov");
}
void BM_M4A(benchmark::State& state) { compare(state, true, QVTTranscoderCodec::Hap, bareAudio, "m4a"); }

}  // namespace

BENCHMARK(BM_Hap)->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(BM_ProRes422)->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(BM_M4A)->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK_MAIN();
