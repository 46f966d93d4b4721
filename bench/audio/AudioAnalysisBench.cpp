// Loudness analysis of a 60-minute stereo 48 kHz file (the whole read and the level of every
// channel) against ffmpeg's astats filter measuring the same file in the same run, as a ratio,
// with the peak memory of each. Run: audio_analysis_bench [minutes]

#include "Audio/AudioAnalyzer.h"
#include "DispatchQueue.h"

#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>

namespace {

double secondsOf(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long peakKilobytes(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv)
{
    const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    QTemporaryDir dir;
    const std::string file = dir.filePath(QStringLiteral("long.wav")).toStdString();
    const std::string make = "ffmpeg -nostdin -v error -y -f lavfi -i \"sine=f=440:sample_rate=48000\" -t " +
                             std::to_string(minutes * 60) + " -ac 2 -c:a pcm_s16le '" + file + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg could not make the file\n");
        return 1;
    }

    const double ffmpegSeconds = secondsOf([&] {
        const std::string astats = "ffmpeg -nostdin -v error -i '" + file + "' -af astats -f null -";
        if (std::system(astats.c_str()) != 0)
            std::fprintf(stderr, "ffmpeg astats failed\n");
    });
    const long ffmpegPeak = peakKilobytes(RUSAGE_CHILDREN);

    float level = 0;
    const long before = peakKilobytes(RUSAGE_SELF);
    const double ourSeconds = secondsOf([&] {
        DispatchQueue queue("analysis bench");
        std::promise<void> done;
        const auto analyzer = AudioAnalyzer::initWithFile(QString::fromStdString(file), false, queue,
                                                          [&](AudioAnalyzer&) { done.set_value(); });
        done.get_future().wait();
        level = analyzer->rmsOnChannels({1, 2});
    });
    const long ourPeak = peakKilobytes(RUSAGE_SELF);

    std::printf("file: %d min stereo 48 kHz 16-bit WAV; level %.2f dBFS\n", minutes, double(level));
    std::printf("AudioAnalyzer (read + levels): %.2f s, peak memory %.0f MiB (%.0f MiB before)\n", ourSeconds,
                double(ourPeak) / 1024.0, double(before) / 1024.0);
    std::printf("ffmpeg -af astats -f null -:  %.2f s, peak memory %.0f MiB\n", ffmpegSeconds,
                double(ffmpegPeak) / 1024.0);
    std::printf("ratio (ours / ffmpeg): %.2f\n", ourSeconds / ffmpegSeconds);
    return 0;
}
