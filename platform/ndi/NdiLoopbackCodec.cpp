#include "NdiLoopbackCodec.h"

#include <algorithm>
#include <cstring>

namespace NdiLoopbackCodec {

namespace {

constexpr size_t kVideoFields = 4 * 7 + 8;
constexpr size_t kAudioFields = 4 * 4 + 8;

class Writer {
public:
    explicit Writer(Type type, size_t bodySize)
    {
        bytes.reserve(kHeaderSize + bodySize);
        u32(uint32_t(bodySize));
        bytes.push_back(uint8_t(type));
    }
    void u32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(uint8_t(v >> (8 * i)));
    }
    void i64(int64_t v)
    {
        for (int i = 0; i < 8; ++i)
            bytes.push_back(uint8_t(uint64_t(v) >> (8 * i)));
    }
    void f32(float v)
    {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        u32(bits);
    }
    void raw(const void* data, size_t size)
    {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + size);
    }
    std::vector<uint8_t> bytes;
};

class Cursor {
public:
    Cursor(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    uint32_t u32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t(p_[i]) << (8 * i);
        p_ += 4;
        return v;
    }
    int64_t i64()
    {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= uint64_t(p_[i]) << (8 * i);
        p_ += 8;
        return int64_t(v);
    }
    float f32()
    {
        const uint32_t bits = u32();
        float v;
        std::memcpy(&v, &bits, 4);
        return v;
    }
    const uint8_t* here() const { return p_; }
    size_t left() const { return size_t(end_ - p_); }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

// Bytes the rows of one picture take: stride x rows, or 0 when the layout is impossible.
uint64_t pictureBytes(uint32_t fourCC, int width, int height, int stride)
{
    if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension || stride < 1)
        return 0;
    int minimum = 1;
    switch (fourCC) {
    case ndi::kFourCC_UYVY: minimum = (width + 1) / 2 * 4; break;
    case ndi::kFourCC_BGRA:
    case ndi::kFourCC_BGRX:
    case ndi::kFourCC_RGBA:
    case ndi::kFourCC_RGBX: minimum = width * 4; break;
    case ndi::kFourCC_P216: minimum = width * 2; break;
    case ndi::kFourCC_V210: minimum = (width + 47) / 48 * 128; break;
    default: break;  // carried as it is; the receiver decides what it takes
    }
    if (stride < minimum || stride > 4 * kMaxDimension * 2)
        return 0;
    const uint64_t rows = fourCC == ndi::kFourCC_P216 ? uint64_t(height) * 2 : uint64_t(height);
    return uint64_t(stride) * rows;
}

bool audioFits(int rate, int channels, int samples)
{
    return rate > 0 && rate <= 768000 && channels > 0 && channels <= kMaxChannels && samples > 0
           && samples <= kMaxSamples;
}

}  // namespace

std::vector<uint8_t> encodeVideo(const ndi::VideoFrame& frame)
{
    const uint64_t bytes = pictureBytes(frame.fourCC, frame.width, frame.height, frame.lineStride);
    if (!bytes || !frame.data || kVideoFields + bytes > kMaxBodySize)
        return {};
    Writer w(Type::Video, kVideoFields + bytes);
    w.u32(uint32_t(frame.width));
    w.u32(uint32_t(frame.height));
    w.u32(frame.fourCC);
    w.u32(uint32_t(frame.frameRateN));
    w.u32(uint32_t(frame.frameRateD));
    w.f32(frame.pictureAspectRatio);
    w.u32(uint32_t(frame.lineStride));
    w.i64(frame.timecode);
    w.raw(frame.data, bytes);
    return std::move(w.bytes);
}

std::vector<uint8_t> encodeAudio(const ndi::AudioFrame& frame)
{
    if (!audioFits(frame.sampleRate, frame.channels, frame.samples) || !frame.data
        || frame.fourCC != ndi::kFourCC_FLTp || frame.channelStride < frame.samples * 4)
        return {};
    const size_t plane = size_t(frame.samples) * 4;
    Writer w(Type::Audio, kAudioFields + plane * size_t(frame.channels));
    w.u32(uint32_t(frame.sampleRate));
    w.u32(uint32_t(frame.channels));
    w.u32(uint32_t(frame.samples));
    w.u32(frame.fourCC);
    w.i64(frame.timecode);
    const auto* base = reinterpret_cast<const uint8_t*>(frame.data);
    for (int c = 0; c < frame.channels; ++c)
        w.raw(base + size_t(c) * size_t(frame.channelStride), plane);
    return std::move(w.bytes);
}

std::vector<uint8_t> encodeMetadata(const std::string& text)
{
    if (text.size() > kMaxBodySize)
        return {};
    Writer w(Type::Metadata, text.size());
    w.raw(text.data(), text.size());
    return std::move(w.bytes);
}

std::vector<uint8_t> encodeTally(const ndi::Tally& tally)
{
    Writer w(Type::Tally, 2);
    w.bytes.push_back(tally.onProgram ? 1 : 0);
    w.bytes.push_back(tally.onPreview ? 1 : 0);
    return std::move(w.bytes);
}

HeaderStatus readHeader(const uint8_t* data, size_t size, Header& header)
{
    if (size < kHeaderSize)
        return HeaderStatus::Incomplete;
    const uint32_t body = Cursor(data, size).u32();
    const uint8_t type = data[4];
    if (type < uint8_t(Type::Video) || type > uint8_t(Type::Tally) || body > kMaxBodySize)
        return HeaderStatus::Bad;
    header.bodySize = body;
    header.type = Type(type);
    return HeaderStatus::Ok;
}

std::optional<Message> decodeBody(Type type, const uint8_t* body, size_t size)
{
    Cursor in(body, size);
    switch (type) {
    case Type::Video: {
        if (size < kVideoFields)
            return std::nullopt;
        DecodedVideo video;
        ndi::VideoFrame& f = video.frame;
        f.width = int(in.u32());
        f.height = int(in.u32());
        f.fourCC = in.u32();
        f.frameRateN = int(in.u32());
        f.frameRateD = int(in.u32());
        f.pictureAspectRatio = in.f32();
        f.lineStride = int(in.u32());
        f.timecode = in.i64();
        const uint64_t bytes = pictureBytes(f.fourCC, f.width, f.height, f.lineStride);
        if (!bytes || bytes != in.left())
            return std::nullopt;
        video.bytes.assign(in.here(), in.here() + bytes);
        f.data = video.bytes.data();
        return Message(std::move(video));
    }
    case Type::Audio: {
        if (size < kAudioFields)
            return std::nullopt;
        DecodedAudio audio;
        ndi::AudioFrame& f = audio.frame;
        f.sampleRate = int(in.u32());
        const uint32_t channels = in.u32(), samples = in.u32();
        f.fourCC = in.u32();
        f.timecode = in.i64();
        if (f.fourCC != ndi::kFourCC_FLTp || !audioFits(f.sampleRate, int(std::min<uint32_t>(channels, 1u << 30)),
                                                         int(std::min<uint32_t>(samples, 1u << 30))))
            return std::nullopt;
        f.channels = int(channels), f.samples = int(samples);
        const size_t count = size_t(channels) * size_t(samples);
        if (count * 4 != in.left())
            return std::nullopt;
        audio.samples.resize(count);
        std::memcpy(audio.samples.data(), in.here(), count * 4);
        f.data = audio.samples.data();
        f.channelStride = f.samples * 4;
        return Message(std::move(audio));
    }
    case Type::Metadata:
        return Message(Metadata{std::string(reinterpret_cast<const char*>(body), size)});
    case Type::Tally:
        if (size != 2)
            return std::nullopt;
        return Message(ndi::Tally{body[0] != 0, body[1] != 0});
    }
    return std::nullopt;
}

void Reader::append(const uint8_t* data, size_t size)
{
    if (failed_)
        return;
    if (offset_ > 0 && offset_ == buffer_.size()) {
        buffer_.clear();
        offset_ = 0;
    }
    buffer_.insert(buffer_.end(), data, data + size);
}

std::optional<Message> Reader::next()
{
    if (failed_)
        return std::nullopt;
    Header header;
    const size_t available = buffer_.size() - offset_;
    switch (readHeader(buffer_.data() + offset_, available, header)) {
    case HeaderStatus::Incomplete: return std::nullopt;
    case HeaderStatus::Bad: failed_ = true; return std::nullopt;
    case HeaderStatus::Ok: break;
    }
    if (available < kHeaderSize + header.bodySize)
        return std::nullopt;
    auto message = decodeBody(header.type, buffer_.data() + offset_ + kHeaderSize, header.bodySize);
    offset_ += kHeaderSize + header.bodySize;
    if (!message) {
        failed_ = true;
        return std::nullopt;
    }
    if (offset_ == buffer_.size()) {
        buffer_.clear();
        offset_ = 0;
    } else if (offset_ > (1u << 20) && offset_ > buffer_.size() / 2) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(offset_));
        offset_ = 0;
    }
    return message;
}

}  // namespace NdiLoopbackCodec
