// Audio files through FFmpeg: decoding with conversion to a float client format for reading,
// conversion from the client format and encoding for writing.
#include "AEUtilities.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

struct AEExtAudioFile {
    bool writing = false;
    AVFormatContext* container = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    SwrContext* converter = nullptr;
    AVAudioFifo* fifo = nullptr;  // reading: client samples; writing: encoder samples
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    AudioStreamBasicDescription client{};
    bool endOfInput = false;
    int64_t nextPts = 0;

    ~AEExtAudioFile() {
        av_audio_fifo_free(fifo);
        swr_free(&converter);
        avcodec_free_context(&codec);
        av_packet_free(&packet);
        av_frame_free(&frame);
        if (container) {
            if (writing) {
                if (!(container->oformat->flags & AVFMT_NOFILE)) avio_closep(&container->pb);
                avformat_free_context(container);
            } else {
                avformat_close_input(&container);
            }
        }
    }
};

namespace {

constexpr int32_t kParamError = -50;
constexpr int kWriteChunkFrames = 4096;

bool fail(AEFileError* error, int32_t status, const char* operation, int line, std::string description) {
    AEError(status, operation, __FILE__, line);
    if (error) *error = AEFileError{status, std::move(description)};
    return false;
}

bool clientFormatIsSupported(const AudioStreamBasicDescription& f) {
    return f.mFormatID == kAudioFormatLinearPCM && (f.mFormatFlags & kAudioFormatFlagIsFloat) &&
           !(f.mFormatFlags & kAudioFormatFlagIsBigEndian) && f.mBitsPerChannel == 32 && f.mChannelsPerFrame > 0 &&
           f.mSampleRate > 0 &&
           f.mBytesPerFrame == (AudioStreamBasicDescriptionIsNonInterleaved(f) ? 4 : 4 * f.mChannelsPerFrame);
}

AVSampleFormat clientSampleFormat(const AudioStreamBasicDescription& f) {
    return AudioStreamBasicDescriptionIsNonInterleaved(f) ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_FLT;
}

AVChannelLayout layoutFor(int channels) {
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels);
    return layout;
}

// Converts `count` input samples and appends the result to the fifo.
int convertIntoFifo(SwrContext* converter, AVAudioFifo* fifo, const uint8_t** input, int count,
                    AVSampleFormat format, int channels) {
    const int capacity = swr_get_out_samples(converter, count);
    if (capacity <= 0) return 0;
    uint8_t** output = nullptr;
    int result = av_samples_alloc_array_and_samples(&output, nullptr, channels, capacity, format, 0);
    if (result < 0) return result;
    result = swr_convert(converter, output, capacity, input, count);
    if (result > 0 && av_audio_fifo_write(fifo, reinterpret_cast<void**>(output), result) < result)
        result = AVERROR(ENOMEM);
    av_freep(&output[0]);
    av_freep(&output);
    return result < 0 ? result : 0;
}

// Pointers to the first sample of each plane (or of the one interleaved buffer), frames on.
bool planePointers(const AudioBufferList* list, const AudioStreamBasicDescription& format, uint32_t frames,
                   std::vector<uint8_t*>& planes) {
    const uint32_t expected = AudioStreamBasicDescriptionIsNonInterleaved(format) ? format.mChannelsPerFrame : 1;
    if (!list || list->mNumberBuffers < expected) return false;
    planes.clear();
    for (uint32_t i = 0; i < expected; ++i) {
        if (!list->mBuffers[i].mData || list->mBuffers[i].mDataByteSize < uint64_t(frames) * format.mBytesPerFrame)
            return false;
        planes.push_back(static_cast<uint8_t*>(list->mBuffers[i].mData));
    }
    return true;
}

int configureReader(AEExtAudioFile* file, const AudioStreamBasicDescription& client) {
    if (!clientFormatIsSupported(client)) return kParamError;
    AVChannelLayout input = file->codec->ch_layout;
    if (input.order == AV_CHANNEL_ORDER_UNSPEC) input = layoutFor(input.nb_channels);
    AVChannelLayout output = layoutFor(int(client.mChannelsPerFrame));
    swr_free(&file->converter);
    int result = swr_alloc_set_opts2(&file->converter, &output, clientSampleFormat(client), int(client.mSampleRate),
                                     &input, file->codec->sample_fmt, file->codec->sample_rate, 0, nullptr);
    if (result >= 0) result = swr_init(file->converter);
    if (result < 0) return result;
    av_audio_fifo_free(file->fifo);
    file->fifo = av_audio_fifo_alloc(clientSampleFormat(client), int(client.mChannelsPerFrame), 1);
    if (!file->fifo) return AVERROR(ENOMEM);
    file->client = client;
    return 0;
}

// Decodes until the fifo holds `wanted` frames or the file ends.
int fillReader(AEExtAudioFile* file, int wanted) {
    const AVSampleFormat format = clientSampleFormat(file->client);
    const int channels = int(file->client.mChannelsPerFrame);
    while (av_audio_fifo_size(file->fifo) < wanted && !file->endOfInput) {
        int result = avcodec_receive_frame(file->codec, file->frame);
        if (result == 0) {
            result = convertIntoFifo(file->converter, file->fifo, const_cast<const uint8_t**>(file->frame->extended_data),
                                     file->frame->nb_samples, format, channels);
            av_frame_unref(file->frame);
            if (result < 0) return result;
            continue;
        }
        if (result == AVERROR_EOF) {
            file->endOfInput = true;
            return convertIntoFifo(file->converter, file->fifo, nullptr, 0, format, channels);
        }
        if (result != AVERROR(EAGAIN)) return result;
        result = av_read_frame(file->container, file->packet);
        if (result == AVERROR_EOF) {
            avcodec_send_packet(file->codec, nullptr);
            continue;
        }
        if (result < 0) return result;
        if (file->packet->stream_index == file->stream->index) result = avcodec_send_packet(file->codec, file->packet);
        av_packet_unref(file->packet);
        if (result < 0 && result != AVERROR_INVALIDDATA) return result;
    }
    return 0;
}

// Encodes what the fifo holds, in the encoder's frame size; with `flush` also the remainder and
// the encoder's own delay.
int drainWriter(AEExtAudioFile* file, bool flush) {
    const int frameSize = file->codec->frame_size > 0 ? file->codec->frame_size : kWriteChunkFrames;
    for (;;) {
        const int queued = av_audio_fifo_size(file->fifo);
        const bool sendFrame = queued >= frameSize || (flush && queued > 0);
        int result = 0;
        if (sendFrame) {
            AVFrame* frame = file->frame;
            frame->nb_samples = std::min(queued, frameSize);
            frame->format = file->codec->sample_fmt;
            frame->sample_rate = file->codec->sample_rate;
            av_channel_layout_copy(&frame->ch_layout, &file->codec->ch_layout);
            result = av_frame_get_buffer(frame, 0);
            if (result >= 0 && av_audio_fifo_read(file->fifo, reinterpret_cast<void**>(frame->extended_data),
                                                      frame->nb_samples) <
                                   frame->nb_samples)
                result = AVERROR(EIO);
            frame->pts = file->nextPts;
            file->nextPts += frame->nb_samples;
            if (result >= 0) result = avcodec_send_frame(file->codec, frame);
            av_frame_unref(frame);
        } else if (flush) {
            result = avcodec_send_frame(file->codec, nullptr);
        } else {
            return 0;
        }
        if (result < 0 && result != AVERROR_EOF) return result;
        for (;;) {
            result = avcodec_receive_packet(file->codec, file->packet);
            if (result == AVERROR(EAGAIN)) break;
            if (result == AVERROR_EOF) return 0;
            if (result < 0) return result;
            av_packet_rescale_ts(file->packet, file->codec->time_base, file->stream->time_base);
            file->packet->stream_index = file->stream->index;
            result = av_interleaved_write_frame(file->container, file->packet);
            if (result < 0) return result;
        }
    }
}

}  // namespace

AEExtAudioFile* AEExtAudioFileOpen(const std::string& path, AudioStreamBasicDescription* outClientFormat,
                                   uint64_t* outLength, AEFileError* error) {
    auto file = std::make_unique<AEExtAudioFile>();
    int result = avformat_open_input(&file->container, path.c_str(), nullptr, nullptr);
    if (result < 0) {
        fail(error, result, "avformat_open_input", __LINE__, "Couldn't open source file");
        return nullptr;
    }
    result = avformat_find_stream_info(file->container, nullptr);
    const int index = result < 0 ? result : av_find_best_stream(file->container, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    const AVCodec* decoder = nullptr;
    if (index >= 0) {
        file->stream = file->container->streams[index];
        decoder = avcodec_find_decoder(file->stream->codecpar->codec_id);
    }
    file->codec = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    result = index < 0 ? index : !file->codec ? AVERROR_DECODER_NOT_FOUND : 0;
    if (result >= 0) result = avcodec_parameters_to_context(file->codec, file->stream->codecpar);
    if (result >= 0) result = avcodec_open2(file->codec, decoder, nullptr);
    if (result < 0) {
        fail(error, result, "avcodec_open2", __LINE__, "Couldn't read source file");
        return nullptr;
    }
    file->packet = av_packet_alloc();
    file->frame = av_frame_alloc();
    const AudioStreamBasicDescription client =
        AEAudioDescriptionWithChannelsAndRate(file->codec->ch_layout.nb_channels, file->codec->sample_rate);
    result = file->packet && file->frame ? configureReader(file.get(), client) : AVERROR(ENOMEM);
    if (result < 0) {
        fail(error, result, "swr_init", __LINE__, "Couldn't configure file for reading");
        return nullptr;
    }
    if (outClientFormat) *outClientFormat = client;
    if (outLength) {
        const AVRational perSample{1, file->codec->sample_rate};
        if (file->stream->duration != AV_NOPTS_VALUE)
            *outLength = uint64_t(std::max<int64_t>(0, av_rescale_q(file->stream->duration, file->stream->time_base, perSample)));
        else if (file->container->duration != AV_NOPTS_VALUE)
            *outLength = uint64_t(std::max<int64_t>(0, av_rescale_q(file->container->duration, AV_TIME_BASE_Q, perSample)));
        else
            *outLength = 0;
    }
    return file.release();
}

AEExtAudioFile* AEExtAudioFileCreate(const std::string& path, AEAudioFileType fileType, double sampleRate,
                                     int channelCount, AEFileError* error) {
    static const struct {
        const char* muxer;
        AVCodecID codec;
    } kTypes[] = {{"aiff", AV_CODEC_ID_PCM_F32BE}, {"aiff", AV_CODEC_ID_PCM_S16BE},
                  {"wav", AV_CODEC_ID_PCM_S16LE}, {"ipod", AV_CODEC_ID_AAC}};
    const bool known = fileType >= 0 && fileType < int(std::size(kTypes));
    const AVCodec* encoder = known ? avcodec_find_encoder(kTypes[fileType].codec) : nullptr;
    if (!encoder || channelCount <= 0 || !(sampleRate > 0)) {
        const int32_t status = kParamError;
        const auto code = uint32_t(status);
        const char chars[5] = {char(code >> 24), char(code >> 16), char(code >> 8), char(code), 0};
        char text[96];
        std::snprintf(text, sizeof text, "Couldn't prepare the output format (error %d/%4.4s)", status, chars);
        fail(error, status, "avcodec_find_encoder", __LINE__, text);
        return nullptr;
    }

    auto file = std::make_unique<AEExtAudioFile>();
    file->writing = true;
    int result = avformat_alloc_output_context2(&file->container, nullptr, kTypes[fileType].muxer, path.c_str());
    if (result >= 0 && !(file->container->oformat->flags & AVFMT_NOFILE))
        result = avio_open(&file->container->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
        fail(error, result, "avio_open", __LINE__, "Couldn't open the output file");
        return nullptr;
    }

    file->codec = avcodec_alloc_context3(encoder);
    file->stream = avformat_new_stream(file->container, nullptr);
    file->packet = av_packet_alloc();
    file->frame = av_frame_alloc();
    result = file->codec && file->stream && file->packet && file->frame ? 0 : AVERROR(ENOMEM);
    const AudioStreamBasicDescription client = AEAudioDescriptionWithChannelsAndRate(channelCount, sampleRate);
    if (result >= 0) {
        file->codec->sample_fmt = encoder->sample_fmts ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
        file->codec->sample_rate = int(sampleRate);
        file->codec->ch_layout = layoutFor(channelCount);
        file->codec->time_base = AVRational{1, int(sampleRate)};
        if (fileType == AEAudioFileTypeM4A) file->codec->bit_rate = 64000 * channelCount;
        if (file->container->oformat->flags & AVFMT_GLOBALHEADER) file->codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        result = avcodec_open2(file->codec, encoder, nullptr);
    }
    if (result >= 0) result = avcodec_parameters_from_context(file->stream->codecpar, file->codec);
    if (result >= 0) {
        file->stream->time_base = file->codec->time_base;
        result = avformat_write_header(file->container, nullptr);
    }
    if (result >= 0) {
        result = swr_alloc_set_opts2(&file->converter, &file->codec->ch_layout, file->codec->sample_fmt,
                                     file->codec->sample_rate, &file->codec->ch_layout, clientSampleFormat(client),
                                     file->codec->sample_rate, 0, nullptr);
        if (result >= 0) result = swr_init(file->converter);
    }
    if (result >= 0) {
        file->fifo = av_audio_fifo_alloc(file->codec->sample_fmt, channelCount, 1);
        if (!file->fifo) result = AVERROR(ENOMEM);
    }
    if (result < 0) {
        fail(error, result, "avformat_write_header", __LINE__, "Couldn't configure the file writer");
        return nullptr;
    }
    file->client = client;
    return file.release();
}

int32_t AEExtAudioFileSetClientFormat(AEExtAudioFile* file, const AudioStreamBasicDescription* format) {
    if (!file || !format || !clientFormatIsSupported(*format)) return kParamError;
    if (!file->writing) return configureReader(file, *format);
    // A writer converts its client samples at the file's own rate and channel count.
    if (format->mChannelsPerFrame != file->client.mChannelsPerFrame || format->mSampleRate != file->client.mSampleRate)
        return kParamError;
    swr_free(&file->converter);
    int result = swr_alloc_set_opts2(&file->converter, &file->codec->ch_layout, file->codec->sample_fmt,
                                     file->codec->sample_rate, &file->codec->ch_layout, clientSampleFormat(*format),
                                     file->codec->sample_rate, 0, nullptr);
    if (result >= 0) result = swr_init(file->converter);
    if (result >= 0) file->client = *format;
    return result;
}

int32_t AEExtAudioFileRead(AEExtAudioFile* file, uint32_t* ioFrames, const AudioBufferList* list) {
    std::vector<uint8_t*> planes;
    if (!file || file->writing || !ioFrames || *ioFrames > INT32_MAX || !planePointers(list, file->client, *ioFrames, planes))
        return kParamError;
    const int result = fillReader(file, int(*ioFrames));
    const int frames = std::min(int(*ioFrames), av_audio_fifo_size(file->fifo));
    *ioFrames = uint32_t(std::max(0, av_audio_fifo_read(file->fifo, reinterpret_cast<void**>(planes.data()), frames)));
    return *ioFrames > 0 ? 0 : result;
}

int32_t AEExtAudioFileWrite(AEExtAudioFile* file, uint32_t frames, const AudioBufferList* list) {
    std::vector<uint8_t*> planes;
    if (!file || !file->writing || frames > INT32_MAX || !planePointers(list, file->client, frames, planes))
        return kParamError;
    const int result = convertIntoFifo(file->converter, file->fifo, const_cast<const uint8_t**>(planes.data()),
                                       int(frames), file->codec->sample_fmt, file->codec->ch_layout.nb_channels);
    return result < 0 ? result : drainWriter(file, false);
}

int32_t AEExtAudioFileDispose(AEExtAudioFile* file) {
    if (!file) return kParamError;
    int result = 0;
    if (file->writing) {
        result = drainWriter(file, true);
        const int trailer = av_write_trailer(file->container);
        if (result >= 0) result = trailer;
    }
    delete file;
    return result < 0 ? result : 0;
}
