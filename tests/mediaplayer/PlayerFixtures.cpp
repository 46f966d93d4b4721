#include "PlayerFixtures.h"

#include "MediaFixtures.h"

#include <fstream>
#include <iterator>
#include <vector>

namespace PlayerFixtures {

namespace {

using MediaFixtures::ffmpeg;

bool damageHap(const std::string& name) {
    const std::string source = MediaFixtures::path("hap.mov");
    if (source.empty()) return false;
    std::ifstream in(source, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.size() < 4096) return false;
    for (size_t i = bytes.size() / 3, end = bytes.size() * 2 / 3; i < end; ++i)
        bytes[i] = char((i * 7919) >> 3);
    std::ofstream(MediaFixtures::folder() + "/" + name, std::ios::binary)
        .write(bytes.data(), std::streamsize(bytes.size()));
    return true;
}

bool make(const std::string& name) {
    const std::string small = "-f lavfi -i testsrc=size=128x96:rate=25:duration=1 -c:v hap ";
    const std::string big = "-f lavfi -i testsrc=size=1920x1080:rate=25 -frames:v 3 -c:v hap ";
    if (name == "counter10.mp4")
        return ffmpeg("-f lavfi -i testsrc=size=160x120:rate=10:duration=3 -c:v libx264 -g 10 "
                      "-bf 2 counter10.mp4");
    if (name == "hap1080.mov") return ffmpeg(big + name);
    if (name == "hapchunked1080.mov") return ffmpeg(big + "-chunks 4 " + name);
    if (name == "hapraw.mov") return ffmpeg(small + "-compressor none " + name);
    if (name == "hapalpha.mov") return ffmpeg(small + "-format hap_alpha " + name);
    if (name == "hapq.mov") return ffmpeg(small + "-format hap_q " + name);
    if (name == "hapdamaged.mov") return damageHap(name);
    return false;
}

}  // namespace

std::string path(const std::string& name) {
    return MediaFixtures::madePath(name, make);
}

}  // namespace PlayerFixtures
