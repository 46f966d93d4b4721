// The loudness and peak analysis on files made with ffmpeg: frame and channel counts, levels
// against ffmpeg's own astats measurement of the same file, the normalisation gain, the bucket
// peaks, cancellation and files without usable audio.

#include "Audio/AudioAnalyzer.h"
#include "DispatchQueue.h"
#include "LavfiFiles.h"
#include "MediaFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <future>
#include <string>
#include <vector>

namespace {

using LavfiFiles::lavfi;
using LavfiFiles::made;

// Per channel, astats' "RMS level dB" of the file.
std::vector<double> astatsLevels(const std::string& path)
{
    const std::string command = "ffmpeg -nostdin -hide_banner -nostats -i '" + path + "' -af astats -f null - 2>&1";
    std::vector<double> levels;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return levels;
    char line[512];
    bool inChannel = false;
    while (std::fgets(line, sizeof line, pipe)) {
        const std::string text(line);
        if (text.find("] Channel:") != std::string::npos)
            inChannel = true;
        else if (text.find("] Overall") != std::string::npos)
            inChannel = false;
        const auto at = text.find("RMS level dB: ");
        if (inChannel && at != std::string::npos)
            levels.push_back(std::strtod(text.c_str() + at + 14, nullptr));
    }
    pclose(pipe);
    return levels;
}

// Analyses `path` on a queue of its own and waits for the handler.
std::shared_ptr<AudioAnalyzer> analyse(const std::string& path, bool mixdown = false)
{
    DispatchQueue queue("analysis test");
    std::promise<void> done;
    auto analyzer = AudioAnalyzer::initWithFile(QString::fromStdString(path), mixdown, queue,
                                                [&](AudioAnalyzer&) { done.set_value(); });
    EXPECT_EQ(done.get_future().wait_for(std::chrono::seconds(120)), std::future_status::ready);
    return analyzer;
}

TEST(AudioAnalyzerTest, ReadsEveryChannelAtTheTracksRateOrMixedDown)
{
    const auto stereo = analyse(lavfi("stereo10.wav", "sine=f=440:sample_rate=48000", 10, 48000, "-ac 2"));
    ASSERT_TRUE(stereo->isReady());
    EXPECT_FALSE(stereo->hadError());
    EXPECT_EQ(stereo->channelCount(), 2u);
    EXPECT_EQ(stereo->channelByteLength(), 480000);
    EXPECT_EQ(stereo->frequency(), 48000.0);

    const std::string six = lavfi("six44.wav", "anoisesrc=c=pink:a=0.3:r=44100", 2, 44100, "-ac 6");
    const auto discrete = analyse(six);
    EXPECT_EQ(discrete->channelCount(), 6u);
    EXPECT_EQ(discrete->frequency(), 44100.0);
    EXPECT_EQ(discrete->channelByteLength(), 88200);
    const auto mixed = analyse(six, true);
    EXPECT_EQ(mixed->channelCount(), 2u);
    EXPECT_EQ(mixed->channelByteLength(), 88200);
}

TEST(AudioAnalyzerTest, EachChannelsLevelIsAstatsPlusThreeDecibels)
{
    struct Case {
        const char* name;
        const char* source;
        int rate;
        const char* layout;
    };
    const Case cases[] = {
        {"sine48mono.wav", "sine=f=1000:sample_rate=48000", 48000, "-ac 1"},
        {"sine44stereo.wav", "sine=f=300:sample_rate=44100", 44100, "-ac 2"},
        {"pink48six.wav", "anoisesrc=c=pink:a=0.5:r=48000:seed=7", 48000, "-af \"pan=5.1|c0=c0|c1=0.8*c0|c2=0.6*c0|c3=0.4*c0|c4=0.3*c0|c5=0.2*c0\""},
        {"pink44mono.flac", "anoisesrc=c=pink:a=0.2:r=44100:seed=3", 44100, "-ac 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = lavfi(c.name, c.source, 3, c.rate, c.layout);
        const std::vector<double> expected = astatsLevels(path);
        const auto analyzer = analyse(path);
        ASSERT_TRUE(analyzer->isReady());
        ASSERT_EQ(expected.size(), analyzer->channelCount());
        for (size_t i = 0; i < expected.size(); ++i) {
            QList<int> only(int(expected.size()), -1);
            only[qsizetype(i)] = int(i) + 1;
            EXPECT_NEAR(analyzer->rmsOnChannels(only), expected[i] + 3.0, 0.01) << "channel " << i;
        }
    }
}

TEST(AudioAnalyzerTest, LevelsAndNormalisationGains)
{
    // A full-scale square sits at 0 dB RMS, so +3.0 dBFS.
    const auto square = analyse(lavfi("square.wav", "aevalsrc=if(lt(mod(n\\,96)\\,48)\\,1\\,-1):s=48000", 2, 48000,
                                      "-c:a pcm_s32le"));
    const float squareLevel = square->analyzeRMSOnChannels({1});
    EXPECT_NEAR(squareLevel, 3.0f, 0.01f);
    EXPECT_NEAR(AudioAnalyzer::targetVolumeWithDBFS(squareLevel), 0.089f, 0.001f);

    EXPECT_NEAR(AudioAnalyzer::targetVolumeWithDBFS(-24.0f), 1.995f, 0.001f);
    EXPECT_FLOAT_EQ(AudioAnalyzer::targetVolumeWithDBFS(-18.0f), 1.0f);
    EXPECT_EQ(AudioAnalyzer::targetVolumeWithDBFS(-INFINITY), 1.0f);
    EXPECT_EQ(AudioAnalyzer::targetVolumeWithDBFS(INFINITY), 1.0f);
    EXPECT_EQ(AudioAnalyzer::targetVolumeWithDBFS(NAN), 1.0f);

    const auto silence = analyse(lavfi("silence.wav", "anullsrc=r=48000:cl=stereo", 1, 48000));
    ASSERT_TRUE(silence->isReady());
    EXPECT_EQ(silence->rmsOnChannels({1, 2}), -INFINITY);
    EXPECT_EQ(AudioAnalyzer::targetVolumeWithDBFS(silence->rmsOnChannels({1, 2})), 1.0f);
}

TEST(AudioAnalyzerTest, AListEntryOfMinusOneSkipsItsChannelOnly)
{
    // Channel 1 is loud, channels 0 and 2 quieter and different.
    const auto analyzer = analyse(made(
        "three.wav", "-f lavfi -i \"aevalsrc=0.1*sin(2*PI*440*t)|0.9*sin(2*PI*440*t)|0.3*sin(2*PI*440*t):s=48000\" "
                     "-t 1 -c:a pcm_s24le"));
    const float channel0 = analyzer->rmsOnChannels({1, -1, -1});
    const float channel2 = analyzer->rmsOnChannels({-1, -1, 3});
    EXPECT_NEAR(channel0, 20 * std::log10(0.1 / std::sqrt(2.0)) + 3.0, 0.01);
    EXPECT_NEAR(channel2, 20 * std::log10(0.3 / std::sqrt(2.0)) + 3.0, 0.01);
    EXPECT_FLOAT_EQ(analyzer->rmsOnChannels({1, -1, 3}), channel2);
    EXPECT_GT(analyzer->rmsOnChannels({1, 2, 3}), channel2 + 6);
    // Only the first min(list, channels) positions count; the numbers themselves do not.
    EXPECT_FLOAT_EQ(analyzer->rmsOnChannels({7}), channel0);
    EXPECT_EQ(analyzer->rmsOnChannels({}), -INFINITY);
}

TEST(AudioAnalyzerTest, PeaksPerBucket)
{
    // 1 s at 48 kHz: positive half-scale in the first 0.25 s, negative-only after it.
    const auto analyzer = analyse(
        made("halves.wav", "-f lavfi -i \"aevalsrc=if(lt(t\\,0.25)\\,0.5*sin(2*PI*100*t)\\,-0.5):s=48000\" -t 1 "
                           "-c:a pcm_s32le"));
    ASSERT_TRUE(analyzer->isReady());
    const AudioAnalyzerResult peaks = analyzer->analyzeChannel(0, 0.25f);
    ASSERT_EQ(peaks.length(), 4u);
    EXPECT_NEAR(peaks.peaks[0], 0.5f, 0.001f);
    for (uint32_t i = 1; i < 4; ++i)
        EXPECT_EQ(peaks.peaks[i], 0.0f) << "bucket " << i;  // negative samples never raise a peak
    EXPECT_EQ(analyzer->analyzeChannel(0, 0.3f).length(), 3u);  // whole buckets only

    struct Empty {
        uint32_t channel;
        float duration;
        const char* why;
    };
    for (const Empty& e : {Empty{0, 2.0f, "a bucket longer than the file"}, Empty{1, 0.1f, "a channel beyond"},
                           Empty{0, 1.0f / 96000, "less than one sample"}, Empty{0, 0.0f, "zero"},
                           Empty{0, NAN, "NaN"}, Empty{0, -1.0f, "negative"}})
        EXPECT_EQ(analyzer->analyzeChannel(e.channel, e.duration).length(), 0u) << e.why;

    float values[] = {2, 4, 6};
    AudioAnalyzer::normalize(values, 3);
    EXPECT_EQ(std::vector<float>(values, values + 3), (std::vector<float>{0.0f, 0.5f, 1.0f}));
}

TEST(AudioAnalyzerTest, FilesWithoutUsableAudioReportAnErrorAndNoLevel)
{
    const std::string noAudio = MediaFixtures::path("counter2997.mov");
    const std::string notMedia = MediaFixtures::path("notmedia.mov");
    for (const std::string& path : {noAudio, notMedia, std::string("/nonexistent/file.wav")}) {
        SCOPED_TRACE(path);
        const auto analyzer = analyse(path);
        EXPECT_TRUE(analyzer->hadError());
        EXPECT_EQ(analyzer->channelCount(), 0u);
        EXPECT_EQ(AudioAnalyzer::targetVolumeWithDBFS(analyzer->rmsOnChannels({1, 2})), 1.0f);
        EXPECT_EQ(analyzer->analyzeChannel(0, 0.1f).length(), 0u);
    }
}

TEST(AudioAnalyzerTest, CancellingStopsTheReadingAndStillCompletes)
{
    const std::string path = lavfi("long.wav", "sine=f=440:sample_rate=48000", 120, 48000, "-ac 2");
    DispatchQueue queue("analysis test");
    std::promise<void> started;
    std::promise<bool> done;
    // A job ahead holds the queue until the analyzer is cancelled.
    std::shared_ptr<AudioAnalyzer> analyzer;
    std::promise<void> cancelled;
    queue.async([&] {
        started.set_value();
        cancelled.get_future().wait();
    });
    started.get_future().wait();
    analyzer = AudioAnalyzer::initWithFile(QString::fromStdString(path), false, queue,
                                           [&](AudioAnalyzer& a) { done.set_value(a.isReady()); });
    analyzer->setIsCancelled(true);
    cancelled.set_value();
    auto finished = done.get_future();
    ASSERT_EQ(finished.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_FALSE(finished.get());
    EXPECT_FALSE(analyzer->isReady());
    EXPECT_EQ(analyzer->rmsOnChannels({1, 2}), -INFINITY);
    EXPECT_EQ(analyzer->analyzeChannel(0, 0.1f).length(), 0u);
}

}  // namespace
