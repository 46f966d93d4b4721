#pragma once
// Linear timecode made with libltc for the tests: `frames` frames from h:m:s:f at `fps`, as float
// samples (full scale about 1) at `sampleRate`, padded with silence to whole 512-sample blocks.

#include <ltc.h>

#include <cstring>
#include <vector>

inline std::vector<float> encodeLTC(int fps, int h, int m, int s, int f, int frames, double sampleRate = 48000)
{
    LTCEncoder* encoder = ltc_encoder_create(sampleRate, fps, fps == 25 ? LTC_TV_625_50 : LTC_TV_525_60, LTC_USE_DATE);
    SMPTETimecode start{};
    std::strcpy(start.timezone, "+0000");
    start.years = 26;
    start.months = 12;
    start.days = 10;
    start.hours = uint8_t(h);
    start.mins = uint8_t(m);
    start.secs = uint8_t(s);
    start.frame = uint8_t(f);
    ltc_encoder_set_timecode(encoder, &start);
    std::vector<ltcsnd_sample_t> buffer(ltc_encoder_get_buffersize(encoder));
    std::vector<float> samples;
    for (int i = 0; i < frames; ++i) {
        ltc_encoder_encode_frame(encoder);
        const int n = ltc_encoder_copy_buffer(encoder, buffer.data());
        for (int k = 0; k < n; ++k) {
            samples.push_back((float(buffer[size_t(k)]) - 128.0f) / 127.0f);
        }
        ltc_encoder_inc_timecode(encoder);
    }
    ltc_encoder_free(encoder);
    samples.resize((samples.size() / 512 + 1) * 512, 0.0f);
    return samples;
}
