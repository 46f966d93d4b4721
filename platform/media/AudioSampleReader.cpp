#include "AudioSampleReader.h"

#include "FFmpegSupport.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

using namespace MediaFFmpeg;

namespace {

constexpr int kChunkFrames = 4096;

struct ResamplerFree {
    void operator()(SwrContext* c) const { swr_free(&c); }
};
struct FifoFree {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};

}  // namespace

struct AudioSampleReader::State {
    std::string path;
    AudioReadFormat request;
    OpenedTrack track;
    std::unique_ptr<StreamDecoder> decoder;

    int sourceChannels = 0;
    int resampledChannels = 0;  // what the resampler writes: 2 for the down-mix, else the source's
    int outputChannels = 0;
    int outputRate = 0;
    MediaTime duration;

    std::unique_ptr<SwrContext, ResamplerFree> resampler;
    AVSampleFormat resamplerInFormat = AV_SAMPLE_FMT_NONE;
    int resamplerInRate = 0;
    AVChannelLayout resamplerFrameLayout{};  // as the frames give it (unnamed channels included)
    AVChannelLayout resamplerInLayout{};     // as the resampler is told it
    std::unique_ptr<AVAudioFifo, FifoFree> fifo;
    std::vector<std::vector<uint8_t>> scratch;  // one buffer per resampled channel
    std::vector<void*> planes;                  // pointers into scratch

    int64_t fifoStart = 0;  // output frame index of the fifo's first frame
    int64_t target = 0;     // frames before this are dropped as they come
    bool synced = false;    // fifoStart is known (from the first frame's timestamp)
    bool fromStart = true;  // decoding began at the stream's start
    bool ended = false;
    int lastConverted = 0;  // frames the last resampler call gave
    MediaError error;

    ~State() {
        av_channel_layout_uninit(&resamplerFrameLayout);
        av_channel_layout_uninit(&resamplerInLayout);
    }

    AVSampleFormat resampledFormat() const {
        return request.samples == AudioReadFormat::Samples::PlanarFloat32 ? AV_SAMPLE_FMT_FLTP
                                                                          : AV_SAMPLE_FMT_S32P;
    }
    bool ensureResampler(const AVFrame* frame);
    bool decodeMore();
    bool append(const uint8_t* const* input, int frames);
    bool padWithSilence(int64_t frames);
    void dropBeforeTarget();
    void restart(int64_t frame, bool toStart);
};

std::unique_ptr<AudioSampleReader> AudioSampleReader::open(const std::string& path,
                                                           const AudioReadFormat& format,
                                                           MediaError* error) {
    auto state = std::make_unique<State>();
    state->path = path;
    state->request = format;
    OpenedTrack& track = state->track;
    if (!openTrack(path, AVMEDIA_TYPE_AUDIO, 1, track, error)) return nullptr;
    AVStream* stream = track.stream;
    state->sourceChannels = std::max(1, stream->codecpar->ch_layout.nb_channels);
    state->resampledChannels = format.stereoDownmix ? 2 : state->sourceChannels;
    state->outputChannels = format.stereoDownmix  ? 2
                            : format.channels > 0 ? format.channels
                                                  : state->sourceChannels;
    state->outputRate = format.sampleRate > 0 ? format.sampleRate : stream->codecpar->sample_rate;
    if (state->outputRate <= 0) {
        setError(error, MediaErrorCode::NoDecoder, "\"" + path + "\" has no audio sample rate");
        return nullptr;
    }
    state->duration = trackEnd(track.format.get(), stream);
    if (!state->duration.isValid() && track.format->duration != AV_NOPTS_VALUE &&
        track.format->duration > 0)
        state->duration = toMediaTime(track.format->duration, AV_TIME_BASE_Q);
    state->fifo.reset(
        av_audio_fifo_alloc(state->resampledFormat(), state->resampledChannels, kChunkFrames));
    if (!state->fifo) {
        setError(error, MediaErrorCode::DecodeFailed, "out of memory opening \"" + path + "\"");
        return nullptr;
    }
    state->scratch.assign(size_t(state->resampledChannels), std::vector<uint8_t>(kChunkFrames * 4));
    state->planes.resize(size_t(state->resampledChannels));
    state->decoder = std::make_unique<StreamDecoder>(track.format.get(), track.codec.get(),
                                                     track.streamIndex, 0, path);
    return std::unique_ptr<AudioSampleReader>(new AudioSampleReader(std::move(state)));
}

AudioSampleReader::AudioSampleReader(std::unique_ptr<State> state) : state_(std::move(state)) {}
AudioSampleReader::~AudioSampleReader() = default;

int AudioSampleReader::channelCount() const {
    return state_->outputChannels;
}
int AudioSampleReader::sourceChannelCount() const {
    return state_->sourceChannels;
}
int AudioSampleReader::sampleRate() const {
    return state_->outputRate;
}
MediaTime AudioSampleReader::duration() const {
    return state_->duration;
}
const MediaError& AudioSampleReader::error() const {
    return state_->error;
}
int AudioSampleReader::skippedPacketCount() const {
    return state_->decoder->skippedCount();
}

int64_t AudioSampleReader::lengthInFrames() const {
    const MediaTime& d = state_->duration;
    if (!d.isNumeric()) return 0;
    return av_rescale_rnd(d.value, state_->outputRate, d.timescale, AV_ROUND_DOWN);
}

int64_t AudioSampleReader::position() const {
    return state_->synced ? std::max(state_->target, state_->fifoStart) : state_->target;
}

bool AudioSampleReader::seekToFrame(int64_t frame) {
    state_->restart(std::max<int64_t>(0, frame), false);
    return !state_->error;
}

long AudioSampleReader::read(float* const* channels, long maxFrames) {
    if (state_->request.samples != AudioReadFormat::Samples::PlanarFloat32) {
        state_->error = {MediaErrorCode::DecodeFailed, "planar float read from an integer reader"};
        return 0;
    }
    return readInto(reinterpret_cast<uint8_t* const*>(channels), true, maxFrames);
}

long AudioSampleReader::read(int32_t* interleaved, long maxFrames) {
    if (state_->request.samples != AudioReadFormat::Samples::InterleavedInt32) {
        state_->error = {MediaErrorCode::DecodeFailed,
                         "interleaved integer read from a float reader"};
        return 0;
    }
    uint8_t* destination = reinterpret_cast<uint8_t*>(interleaved);
    return readInto(&destination, false, maxFrames);
}

long AudioSampleReader::readInto(uint8_t* const* destinations, bool planar, long maxFrames) {
    State& s = *state_;
    long written = 0;
    while (written < maxFrames) {
        if (av_audio_fifo_size(s.fifo.get()) == 0) {
            if (s.ended || s.error || !s.decodeMore()) break;
            continue;
        }
        const int n = int(std::min<long>(
            {long(av_audio_fifo_size(s.fifo.get())), maxFrames - written, long(kChunkFrames)}));
        std::vector<void*>& planes = s.planes;
        for (int c = 0; c < s.resampledChannels; ++c)
            planes[size_t(c)] = s.scratch[size_t(c)].data();
        av_audio_fifo_read(s.fifo.get(), planes.data(), n);
        s.fifoStart += n;
        // Output channel c takes resampled channel c; channels the file lacks stay silent.
        for (int c = 0; c < s.outputChannels; ++c) {
            const bool present = c < s.resampledChannels;
            if (planar) {
                auto* out = reinterpret_cast<float*>(destinations[c]) + written;
                if (present)
                    std::memcpy(out, planes[size_t(c)], size_t(n) * sizeof(float));
                else
                    std::fill(out, out + n, 0.f);
            } else {
                auto* out =
                    reinterpret_cast<int32_t*>(destinations[0]) + written * s.outputChannels + c;
                const auto* in = present ? static_cast<const int32_t*>(planes[size_t(c)]) : nullptr;
                for (int i = 0; i < n; ++i)
                    out[i * s.outputChannels] = in ? in[i] : 0;
            }
        }
        written += n;
    }
    return written;
}

// ---- decoding ----

bool AudioSampleReader::State::ensureResampler(const AVFrame* frame) {
    if (resampler && frame->format == resamplerInFormat && frame->sample_rate == resamplerInRate &&
        av_channel_layout_compare(&frame->ch_layout, &resamplerFrameLayout) == 0)
        return true;
    av_channel_layout_uninit(&resamplerFrameLayout);
    av_channel_layout_copy(&resamplerFrameLayout, &frame->ch_layout);
    av_channel_layout_uninit(&resamplerInLayout);
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels <= 0)
        av_channel_layout_default(&resamplerInLayout, std::max(1, frame->ch_layout.nb_channels));
    else
        av_channel_layout_copy(&resamplerInLayout, &frame->ch_layout);
    resamplerInFormat = AVSampleFormat(frame->format);
    resamplerInRate = frame->sample_rate;
    if (resamplerInLayout.nb_channels != sourceChannels && !request.stereoDownmix) {
        error = {MediaErrorCode::DecodeFailed,
                 "the channel count of \"" + path + "\" changes mid-track"};
        return false;
    }
    // Discrete output keeps the file's layout, so the resampler never mixes channels.
    AVChannelLayout outLayout{};
    if (request.stereoDownmix)
        av_channel_layout_default(&outLayout, 2);
    else
        av_channel_layout_copy(&outLayout, &resamplerInLayout);
    SwrContext* raw = nullptr;
    int rc =
        swr_alloc_set_opts2(&raw, &outLayout, resampledFormat(), outputRate, &resamplerInLayout,
                            resamplerInFormat, resamplerInRate, 0, nullptr);
    av_channel_layout_uninit(&outLayout);
    resampler.reset(raw);
    if (rc < 0 || (rc = swr_init(resampler.get())) < 0) {
        error = {MediaErrorCode::DecodeFailed,
                 "cannot convert the audio of \"" + path + "\": " + errorString(rc)};
        resampler.reset();
        return false;
    }
    return true;
}

bool AudioSampleReader::State::decodeMore() {
    FramePtr frame = decoder->next();
    if (!frame) {
        if (decoder->failure())
            error = decoder->failure();
        else if (resampler)
            while (append(nullptr, 0) && lastConverted > 0) {
            }  // what the resampler still holds, which may take several calls
        ended = true;
        return av_audio_fifo_size(fifo.get()) > 0;
    }
    if (!synced) {
        const int64_t first = av_rescale_q_rnd(
            frame->best_effort_timestamp - track.offset, track.stream->time_base,
            AVRational{1, outputRate}, AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
        if (first > target && !fromStart) {
            // The demuxer landed after the frame we want: start over from the beginning.
            restart(target, true);
            return true;
        }
        fifoStart = first;
        synced = true;
        if (first > target) {
            // A gap of more than a minute is a broken timestamp rather than a late start.
            if (first - target > int64_t(outputRate) * 60)
                fifoStart = target;
            else if (!padWithSilence(first - target))
                return false;
        }
    }
    if (!ensureResampler(frame.get())) return false;
    if (!append(frame->extended_data, frame->nb_samples)) return false;
    dropBeforeTarget();
    return true;
}

bool AudioSampleReader::State::append(const uint8_t* const* input, int frames) {
    // Sized for everything the resampler can give now, so one call never leaves samples behind
    // (a second call without input would flush it as if the track had ended). The input is
    // always handed over, even when no output can come of it yet.
    const int room = std::max(1, swr_get_out_samples(resampler.get(), frames));
    for (int c = 0; c < resampledChannels; ++c) {
        if (scratch[size_t(c)].size() < size_t(room) * 4)
            scratch[size_t(c)].resize(size_t(room) * 4);
        planes[size_t(c)] = scratch[size_t(c)].data();
    }
    const int got = swr_convert(resampler.get(), reinterpret_cast<uint8_t**>(planes.data()), room,
                                const_cast<const uint8_t**>(input), frames);
    lastConverted = got;
    if (got < 0 || (got > 0 && av_audio_fifo_write(fifo.get(), planes.data(), got) < got)) {
        error = {MediaErrorCode::DecodeFailed, "cannot convert the audio of \"" + path + "\""};
        return false;
    }
    return true;
}

bool AudioSampleReader::State::padWithSilence(int64_t frames) {
    // The track starts after the file does: the time before its first sample is silence.
    for (auto& plane : scratch)
        std::fill(plane.begin(), plane.end(), uint8_t(0));
    for (int c = 0; c < resampledChannels; ++c)
        planes[size_t(c)] = scratch[size_t(c)].data();
    const int64_t chunk = int64_t(scratch.front().size() / 4);
    for (int64_t left = frames; left > 0; left -= chunk) {
        const int n = int(std::min(left, chunk));
        if (av_audio_fifo_write(fifo.get(), planes.data(), n) < n) {
            error = {MediaErrorCode::DecodeFailed, "out of memory reading \"" + path + "\""};
            return false;
        }
    }
    fifoStart -= frames;
    return true;
}

void AudioSampleReader::State::dropBeforeTarget() {
    if (fifoStart >= target) return;
    const int drop = int(std::min<int64_t>(target - fifoStart, av_audio_fifo_size(fifo.get())));
    av_audio_fifo_drain(fifo.get(), drop);
    fifoStart += drop;
}

void AudioSampleReader::State::restart(int64_t frame, bool toStart) {
    const int64_t ticks =
        av_rescale_q_rnd(frame, AVRational{1, outputRate}, track.stream->time_base, AV_ROUND_DOWN) +
        track.offset;
    const bool moved = decoder->seek(ticks, toStart);
    if (resampler) swr_init(resampler.get());  // forgets buffered samples and filter history
    av_audio_fifo_reset(fifo.get());
    target = frame;
    synced = false;
    fromStart = toStart;
    ended = false;
    error = {};
    if (!moved) {
        error = {MediaErrorCode::DecodeFailed, "cannot seek in \"" + path + "\""};
        ended = true;
    }
}
