#include "Audio/AudioReader.h"

#include "AudioSampleReader.h"
#include "Log.h"

#include <cmath>
#include <new>

AudioReaderOutput AudioReader::readAudioRef(const QString& path, const AudioReaderDelegate* delegate,
                                            bool shouldmixdown)
{
    AudioReaderOutput out;
    AudioReadFormat format;
    format.samples = AudioReadFormat::Samples::InterleavedInt32;
    format.sampleRate = 0;
    format.stereoDownmix = shouldmixdown;
    MediaError openError;
    const std::unique_ptr<AudioSampleReader> reader = AudioSampleReader::open(path.toStdString(), format, &openError);
    if (!reader) {
        // No audio track or an unreadable file: nothing to measure, which the caller must know.
        KLOG_ERROR("error: {}", openError.message);
        out.error = 1;
        return out;
    }
    const int channels = reader->channelCount();
    const int rate = reader->sampleRate();
    const int64_t length = reader->lengthInFrames();
    if (channels <= 0 || rate <= 0 || length < 0) {
        KLOG_ERROR("error: no audio format in {}", path.toStdString());
        out.error = 1;
        return out;
    }
    if (length > kMaxSampleBytes / 4 / channels) {
        KLOG_ERROR("error: {} is too long to analyse ({} frames of {} channels)", path.toStdString(), length,
                   channels);
        out.error = 1;
        return out;
    }
    try {
        // One array at a time: a template array copied C times would hold one more whole channel.
        out.channels.resize(size_t(channels));
        for (std::vector<float>& channel : out.channels)
            channel.assign(size_t(length), 0.0f);
    } catch (const std::bad_alloc&) {
        KLOG_ERROR("error: not enough memory to analyse {}", path.toStdString());
        out.channels.clear();
        out.error = 1;
        return out;
    }
    out.length = length;
    out.sampleRate = rate;

    std::vector<int32_t> block(size_t(kBlockFrames) * size_t(channels));
    int64_t position = 0;
    while (position < length) {
        if (delegate && delegate->isCancelled())
            break;
        const long wanted = long(std::min<int64_t>(kBlockFrames, length - position));
        const long got = reader->read(block.data(), wanted);
        if (got <= 0) {
            if (reader->error()) {
                KLOG_ERROR("AVAssetReaderStatusFailed: {}", path.toStdString());
                out.error = 1;
            }
            break;  // the track ended early: the rest stays silent
        }
        for (int c = 0; c < channels; ++c) {
            float* destination = out.channels[size_t(c)].data() + position;
            const int32_t* source = block.data() + c;
            for (long j = 0; j < got; ++j)
                destination[j] = float(source[j * channels]);
        }
        position += got;
    }
    return out;
}
