// The conversion jobs (QVTTranscoder) against the ffmpeg command doing the same conversion in the
// same run: a 10 s 1080p H.264 clip with AAC to Hap and to ProRes 422 (audio copied), and its
// audio to M4A. Same encoders and settings, both with their default (automatic) thread counts;
// the two runs alternate within every iteration, so load that comes and goes hits them alike.
// "ratio" is the command's time over ours (1.0: as fast; the target is at least 0.9); "fps" the
// frames per second of our job. Run on demand: ./TranscoderBench

#include "Media/QVTTranscoder.h"

#include <benchmark/benchmark.h>

#include <chrono>
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

void compare(benchmark::State& state, bool audio, QVTTranscoderCodec codec, const std::string& command,
             const std::string& extension)
{
    if (!clip().ok) {
        state.SkipWithError("the clip could not be made");
        return;
    }
    double ours = 0, theirs = 0;
    bool ok = true;
    for (auto _ : state) {
        ours += seconds([&] { return runJob(audio, codec, clip().path("ours." + extension)); }, &ok);
        theirs += seconds([&] { return clip().run("-i clip.mp4 " + command + " theirs." + extension); }, &ok);
    }
    if (!ok)
        state.SkipWithError("a conversion failed");
    const double runs = double(state.iterations());
    state.counters["ours_s"] = ours / runs;
    state.counters["ffmpeg_s"] = theirs / runs;
    state.counters["ratio"] = theirs / ours;
    if (!audio)
        state.counters["fps"] = kFrames * runs / ours;
}

void BM_Hap(benchmark::State& state)
{
    compare(state, false, QVTTranscoderCodec::Hap, "-map 0 -c:v hap -format hap -c:a copy", "mov");
}
void BM_ProRes422(benchmark::State& state)
{
    compare(state, false, QVTTranscoderCodec::ProRes422,
            "-map 0 -c:v prores_ks -profile:v standard -pix_fmt yuv422p10le -c:a copy", "mov");
}
void BM_M4A(benchmark::State& state) { compare(state, true, QVTTranscoderCodec::Hap, "-vn -c:a aac", "m4a"); }

}  // namespace

BENCHMARK(BM_Hap)->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(BM_ProRes422)->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(BM_M4A)->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK_MAIN();
