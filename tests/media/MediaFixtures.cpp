#include "MediaFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

namespace MediaFixtures {

namespace {

// The bar code of frame N + first.
std::string barCode(int first = 0)
{
    return "format=yuv420p,geq=lum='if(lt(Y,16),if(mod(floor((N+" + std::to_string(first)
           + ")/pow(2,floor(X/40))),2),235,16),lum(X,Y))'"
             ":cb='if(lt(Y,8),128,cb(X,Y))':cr='if(lt(Y,8),128,cr(X,Y))'";  // chroma rows are half as many
}

struct Folder {
    std::string path;
    Folder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kavio-media-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data())) path = buffer.data();
    }
    ~Folder() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
};

std::vector<char> readAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const std::string& file, const char* data, size_t size) {
    std::ofstream(file, std::ios::binary).write(data, std::streamsize(size));
}

bool make(const std::string& name) {
    const std::string counter = std::string("testsrc=size=320x240:rate=25:duration=2,") + barCode();
    const std::string counter2997 =
        std::string("testsrc=size=320x240:rate=30000/1001:duration=2,") + barCode();
    for (const int first : {50, 100})
        if (name == "counter25from" + std::to_string(first) + ".mp4")
            return ffmpeg("-f lavfi -i \"testsrc=size=320x240:rate=25:duration=2," + barCode(first)
                          + "\" -c:v libx264 -g 12 -bf 2 -crf 16 -an " + name);
    if (name == "counter25.mp4")
        return ffmpeg("-f lavfi -i \"" + counter +
                      "\" -f lavfi -i sine=frequency=440:sample_rate=48000:duration=2"
                      " -c:v libx264 -g 12 -bf 2 -crf 16 -colorspace bt709 -color_primaries bt709"
                      " -color_trc bt709 -ac 2 -c:a aac -shortest counter25.mp4");
    if (name == "counter2997.mov")
        return ffmpeg("-f lavfi -i \"" + counter2997 +
                      "\" -c:v libx264 -g 15 -bf 2 -crf 16 counter2997.mov");
    if (name == "rotated.mp4")
        return !path("counter2997.mov").empty() &&
               ffmpeg("-i counter2997.mov -c copy -metadata:s:v:0 rotate=90 rotated.mp4");
    if (name == "bt2020.mp4")
        return ffmpeg(
            "-f lavfi -i testsrc=size=128x96:rate=25:duration=1 -c:v libx264 -pix_fmt yuv420p10le"
            " -colorspace bt2020nc -color_primaries bt2020 -color_trc bt2020-10 bt2020.mp4");
    if (name == "hap.mov")
        return ffmpeg("-f lavfi -i testsrc=size=128x96:rate=25:duration=1 -c:v hap hap.mov");
    if (name == "prores.mov")
        return ffmpeg(
            "-f lavfi -i testsrc=size=128x96:rate=25:duration=1 -c:v prores_ks -profile:v 2 "
            "prores.mov");
    if (name == "captions.mp4") {
        const char srt[] = "1\n00:00:00,000 --> 00:00:01,000\nHello\n";
        writeAll(folder() + "/captions.srt", srt, sizeof srt - 1);
        return ffmpeg(
            "-f lavfi -i testsrc=size=128x96:rate=25:duration=1 -i captions.srt -c:v libx264"
            " -c:s mov_text captions.mp4");
    }
    if (name == "six.wav")
        return ffmpeg(
            "-f lavfi -i \"aevalsrc=mod(n\\,32000)/32768|floor(n/32000)/32768|0.3|0.4|0.5|0.6"
            ":s=48000:d=2:c=5.1\" -c:a pcm_s16le six.wav");
    if (name == "lateaudio.mov")
        return ffmpeg(
            "-f lavfi -i testsrc=size=128x96:rate=25:duration=2 -itsoffset 0.5 -f lavfi"
            " -i sine=frequency=440:sample_rate=48000:duration=1.5 -map 0:v -map 1:a -c:v libx264"
            " -c:a pcm_s16le lateaudio.mov");
    if (name == "tone44k.wav")
        return ffmpeg(
            "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 -c:a pcm_s16le "
            "tone44k.wav");
    if (name == "truncated.mp4" || name == "headless.mp4" || name == "damaged.mp4") {
        if (path("counter25.mp4").empty()) return false;
        std::vector<char> bytes;
        if (name == "headless.mp4") {
            bytes = readAll(folder() + "/counter25.mp4");
        } else {
            if (!ffmpeg("-i counter25.mp4 -c copy -movflags +faststart indexfirst.mp4"))
                return false;
            bytes = readAll(folder() + "/indexfirst.mp4");
        }
        if (bytes.size() < 4096) return false;
        if (name == "damaged.mp4") {
            for (size_t i = bytes.size() / 2, end = i + 1500; i < end; ++i)
                bytes[i] = char((i * 7919) & 0xff);
            writeAll(folder() + "/" + name, bytes.data(), bytes.size());
        } else {
            writeAll(folder() + "/" + name, bytes.data(), bytes.size() * 6 / 10);
        }
        return true;
    }
    if (name == "notmedia.mov") {
        const char text[] = "This is a plain text file, not a movie.\n";
        writeAll(folder() + "/" + name, text, sizeof text - 1);
        return true;
    }
    return false;
}

double halfToDouble(uint16_t h) {
    const int exponent = (h >> 10) & 0x1f, mantissa = h & 0x3ff;
    double value =
        exponent == 0 ? std::ldexp(mantissa, -24) : std::ldexp(1024 + mantissa, exponent - 25);
    return (h & 0x8000) ? -value : value;
}

uint32_t wordAt(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}

}  // namespace

std::string folder() {
    static Folder made;
    return made.path;
}

bool ffmpeg(const std::string& arguments) {
    const std::string command = "cd '" + folder() + "' && ffmpeg -nostdin -v error -y " + arguments;
    return std::system(command.c_str()) == 0;
}

std::string madePath(const std::string& name, bool (*make)(const std::string& name)) {
    static std::map<std::string, bool> made;
    auto found = made.find(name);
    if (found == made.end()) found = made.emplace(name, make(name)).first;
    if (!found->second) {
        ADD_FAILURE() << "could not make the fixture " << name << " with ffmpeg";
        return "";
    }
    return folder() + "/" + name;
}

std::string path(const std::string& name) {
    return madePath(name, make);
}

double brightnessAt(const VideoFrame& frame, int x, int y) {
    const uint8_t* row = frame.row(y);
    switch (frame.pixelFormat()) {
    case MediaPixelFormat::BGRA: return row[x * 4 + 1] / 255.0;
    case MediaPixelFormat::YUV422_8: return (row[x * 2 + 1] - 16) / 219.0;
    case MediaPixelFormat::YUV422_10: {
        // Where each of a group's six luma samples sits: word and bit position.
        static const int word[6] = {0, 1, 1, 2, 3, 3}, shift[6] = {10, 0, 20, 10, 0, 20};
        const uint8_t* group = row + (x / 6) * 16;
        const int k = x % 6;
        return (int((wordAt(group + word[k] * 4) >> shift[k]) & 0x3ff) - 64) / 876.0;
    }
    case MediaPixelFormat::RGBAHalf: {
        uint16_t red;
        std::memcpy(&red, row + x * 8, 2);
        return halfToDouble(red);
    }
    case MediaPixelFormat::Native: {  // the luma plane
        const VideoFramePlanes& p = frame.planes();
        int code = row[x * p.bytesPerSample];
        if (p.bytesPerSample == 2) code |= row[x * 2 + 1] << 8;
        code >>= p.sampleShift;
        const double unit = double(1 << (p.bitDepth - 8));
        return p.fullRange ? code / ((1 << p.bitDepth) - 1.0) : (code - 16 * unit) / (219 * unit);
    }
    }
    return 0;
}

int frameNumberOf(const VideoFrame& frame) {
    if (frame.width() < 320 || frame.height() < 16) return -1;
    int number = 0;
    for (int bit = 0; bit < 8; ++bit) {
        const double level = brightnessAt(frame, bit * 40 + 20, 8);
        if (level > 0.35 && level < 0.65) return -1;  // neither dark nor bright: not our bar code
        if (level >= 0.65) number |= 1 << bit;
    }
    return number;
}

}  // namespace MediaFixtures
