#include "Media/QVTTranscoder.h"

#include "DispatchQueue.h"
#include "MediaAsset.h"
#include "MediaFixtures.h"
#include "MediaWriter.h"
#include "AudioSampleReader.h"
#include "TranscoderTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/mount.h>

#include <atomic>
#include <cmath>
#include <functional>

using namespace TranscoderTestSupport;

namespace {

// Conversions of HD pictures on a loaded machine: generous.
constexpr double kJobTimeout = 240.0;

class RecordingDelegate : public QVTTranscoderDelegate {
public:
    void updateConversionProgress() override
    {
        ++progressCalls;
        if (onProgress)
            onProgress(progressCalls.load());
    }
    void transcodingFinished(const std::shared_ptr<QVTTranscoderInterface>& job) override
    {
        pollingAtReport = static_cast<QVTTranscoder&>(*job).isPolling();
        ++reports;
    }

    std::atomic<int> progressCalls{0};
    std::atomic<int> reports{0};
    std::atomic<bool> pollingAtReport{false};
    std::function<void(int)> onProgress;  // on the job's thread
};

struct Job {
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<QVTTranscoder> job = QVTTranscoder::create();

    Job(const std::string& source, const QString& destination, QVTTranscoderCodec codec = QVTTranscoderCodec::Hap)
    {
        job->setSourcePath(QString::fromStdString(source));
        job->setDestinationPath(destination);
        job->setDestinationCodec(codec);
        job->setDelegate(delegate);
    }
    // Waits for the report; false when none came.
    bool waitForReport() const
    {
        return DispatchQueue::runMainUntil([this] { return delegate->reports.load() > 0; }, kJobTimeout);
    }
};

uint32_t codecTag(QVTTranscoderCodec codec)
{
    switch (codec) {
    case QVTTranscoderCodec::Hap: return fourCC("Hap1");
    case QVTTranscoderCodec::HapAlpha: return fourCC("Hap5");
    case QVTTranscoderCodec::ProRes422: return fourCC("apcn");
    case QVTTranscoderCodec::ProRes4444: return fourCC("ap4h");
    }
    return 0;
}

const QVTTranscoderCodec kAllCodecs[] = {QVTTranscoderCodec::Hap, QVTTranscoderCodec::HapAlpha,
                                         QVTTranscoderCodec::ProRes422, QVTTranscoderCodec::ProRes4444};

}  // namespace

TEST(MediaWriterRoles, VideoIsReencodedObjectAndSceneDescriptionsLeftOutTheRestCopied)
{
    struct Case {
        MediaTrackKind kind;
        const char* type;
        MediaWriterRole role;
    };
    const Case cases[] = {
        {MediaTrackKind::Video, "avc1", MediaWriterRole::Reencode},
        {MediaTrackKind::Video, "Hap1", MediaWriterRole::Reencode},
        {MediaTrackKind::Audio, "aac ", MediaWriterRole::Copy},
        {MediaTrackKind::Timecode, "tmcd", MediaWriterRole::Copy},
        {MediaTrackKind::Caption, "tx3g", MediaWriterRole::Copy},
        {MediaTrackKind::Caption, "c608", MediaWriterRole::Copy},
        {MediaTrackKind::Other, "odsm", MediaWriterRole::Leave},
        {MediaTrackKind::Other, "sdsm", MediaWriterRole::Leave},
        {MediaTrackKind::Other, "rtp ", MediaWriterRole::Copy},
    };
    for (const Case& c : cases) {
        MediaTrack track;
        track.kind = c.kind;
        track.codecType = fourCC(*reinterpret_cast<const char(*)[5]>(c.type));
        EXPECT_EQ(mediaWriterRoleOf(track), c.role) << c.type;
    }
}

TEST(QVTTranscoder, ConvertsTheVideoToEachCodecAndPassesTheOtherTracks)
{
    const std::string source = showSource();
    ASSERT_FALSE(source.empty());
    const auto sourceAsset = MediaAsset::open(source);
    ASSERT_TRUE(sourceAsset);
    const auto sourceVideo = packetsOf(source, "video");
    const auto sourceAudio = packetsOf(source, "audio");
    ASSERT_EQ(sourceVideo.size(), 75u);
    QTemporaryDir folder;
    for (const QVTTranscoderCodec codec : kAllCodecs) {
        const std::string name = fourCCString(codecTag(codec));
        SCOPED_TRACE(name);
        // The job makes the missing folder itself.
        const QString destination = folder.path() + "/Transcoded/show_" + QString::fromStdString(name) + ".mov";
        Job run(source, destination, codec);
        run.job->startTranscode();
        ASSERT_TRUE(run.waitForReport());
        EXPECT_EQ(run.job->transcoderType(), 10);
        ASSERT_FALSE(run.job->isCancelled());
        // Progress once per picture, rising to about 1.
        EXPECT_EQ(run.delegate->progressCalls.load(), 75);
        EXPECT_GT(run.job->progress(), 0.95);
        EXPECT_LE(run.job->progress(), 1.0);

        MediaError error;
        const auto asset = MediaAsset::open(destination.toStdString(), &error);
        ASSERT_TRUE(asset) << error.message;
        const MediaTrack* video = asset->firstVideoTrack();
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(fourCCString(video->codecType), name);
        EXPECT_EQ(video->width, 1280);
        EXPECT_EQ(video->height, 720);
        EXPECT_NEAR(asset->duration().seconds(), sourceAsset->duration().seconds(), 0.04);
        EXPECT_EQ(packetsOf(destination.toStdString(), "video").size(), sourceVideo.size());
        EXPECT_TRUE(packetsOf(destination.toStdString(), "audio") == sourceAudio) << "audio copied packet for packet";
        EXPECT_EQ(asset->tracksOfKind(MediaTrackKind::Timecode).size(), 1u);
        const auto captions = asset->tracksOfKind(MediaTrackKind::Caption);
        ASSERT_EQ(captions.size(), 1u);
        EXPECT_EQ(fourCCString(captions[0]->codecType), "tx3g");
        EXPECT_EQ(run.delegate->reports.load(), 1);
    }
}

TEST(QVTTranscoder, AlphaAndRotationAreKept)
{
    QTemporaryDir folder;
    const std::string alpha = alphaSource();
    for (const QVTTranscoderCodec codec : {QVTTranscoderCodec::HapAlpha, QVTTranscoderCodec::ProRes4444}) {
        SCOPED_TRACE(fourCCString(codecTag(codec)));
        const QString destination = folder.path() + "/alpha" + QString::number(int(codec)) + ".mov";
        Job run(alpha, destination, codec);
        run.job->startTranscode();
        ASSERT_TRUE(run.waitForReport());
        ASSERT_FALSE(run.job->isCancelled());
        const auto asset = MediaAsset::open(destination.toStdString());
        ASSERT_TRUE(asset && asset->firstVideoTrack());
        EXPECT_TRUE(asset->firstVideoTrack()->hasAlpha);
        EXPECT_LE(alphaAt(destination.toStdString(), 10, 48), 8) << "the transparent half";
        EXPECT_GE(alphaAt(destination.toStdString(), 100, 48), 247) << "the opaque half";
    }
    const std::string rotated = MediaFixtures::path("rotated.mp4");
    const auto rotatedAsset = MediaAsset::open(rotated);
    ASSERT_TRUE(rotatedAsset && rotatedAsset->firstVideoTrack());
    const double turn = rotatedAsset->firstVideoTrack()->rotationDegrees;
    ASSERT_NE(turn, 0.0);
    for (const QVTTranscoderCodec codec : {QVTTranscoderCodec::Hap, QVTTranscoderCodec::ProRes422}) {
        const QString destination = folder.path() + "/rotated" + QString::number(int(codec)) + ".mov";
        Job run(rotated, destination, codec);
        run.job->startTranscode();
        ASSERT_TRUE(run.waitForReport());
        ASSERT_FALSE(run.job->isCancelled());
        const auto asset = MediaAsset::open(destination.toStdString());
        ASSERT_TRUE(asset && asset->firstVideoTrack());
        EXPECT_EQ(asset->firstVideoTrack()->rotationDegrees, turn) << fourCCString(codecTag(codec));
    }
}

// Decoded samples of the first channel of a file's audio, at its own rate.
std::vector<float> decodedAudio(const std::string& path)
{
    AudioReadFormat format;
    format.sampleRate = 0;
    const auto reader = AudioSampleReader::open(path, format);
    std::vector<float> samples;
    if (!reader)
        return samples;
    std::vector<float> left(4096), right(4096);
    float* channels[2] = {left.data(), right.data()};
    while (const long got = reader->read(channels, 4096))
        samples.insert(samples.end(), left.begin(), left.begin() + got);
    return samples;
}

TEST(QVTTranscoder, AACPrimingIsKeptOrDeclared)
{
    QTemporaryDir folder;
    // A source that declares its priming: the output decodes to the very same samples.
    const std::string declared = MediaFixtures::path("counter25.mp4");
    const QString first = folder.path() + "/declared.mov";
    Job one(declared, first);
    one.job->startTranscode();
    ASSERT_TRUE(one.waitForReport());
    ASSERT_FALSE(one.job->isCancelled());
    const auto sourceSamples = decodedAudio(declared);
    ASSERT_GT(sourceSamples.size(), 48000u);
    EXPECT_TRUE(decodedAudio(first.toStdString()) == sourceSamples);
    EXPECT_EQ(packetsOf(first.toStdString(), "audio").front().pts, packetsOf(declared, "audio").front().pts);

    // A 48 kHz source without an edit list: its first 26/600 s are declared as priming.
    const std::string undeclared = undeclaredPrimingSource();
    ASSERT_EQ(packetsOf(undeclared, "audio").front().pts, 0);
    const QString second = folder.path() + "/undeclared.mov";
    Job two(undeclared, second, QVTTranscoderCodec::ProRes422);
    two.job->startTranscode();
    ASSERT_TRUE(two.waitForReport());
    ASSERT_FALSE(two.job->isCancelled());
    const int timescale = audioTimescale(second.toStdString());
    ASSERT_GT(timescale, 0);
    EXPECT_EQ(packetsOf(second.toStdString(), "audio").front().pts, -int64_t(timescale) * 26 / 600);
    const auto written = decodedAudio(second.toStdString());
    const auto original = decodedAudio(undeclared);
    ASSERT_GT(original.size(), 2080u);
    ASSERT_GE(written.size(), original.size() - 2080);
    EXPECT_TRUE(std::equal(written.begin(), written.begin() + 1000, original.begin() + 2080))
        << "the output starts 2080 samples into the source";
}

bool makeRawStream(const std::string& name)
{
    return MediaFixtures::ffmpeg("-f lavfi -i testsrc2=size=128x96:rate=25:duration=1 -c:v libx264 -preset ultrafast "
                                 "-f h264 " +
                                 name);
}

TEST(QVTTranscoder, ASourceOfUnknownLengthConvertsWithoutProgressReports)
{
    const std::string raw = MediaFixtures::madePath("transcoder_raw.h264", makeRawStream);
    const auto rawAsset = MediaAsset::open(raw);
    ASSERT_TRUE(rawAsset);
    ASSERT_FALSE(rawAsset->duration().isNumeric()) << "the stream does not tell its length";
    QTemporaryDir folder;
    const QString destination = folder.path() + "/raw.mov";
    Job run(raw, destination);
    run.job->startTranscode();
    ASSERT_TRUE(run.waitForReport());
    ASSERT_FALSE(run.job->isCancelled());
    EXPECT_EQ(run.delegate->progressCalls.load(), 0);
    EXPECT_EQ(packetsOf(destination.toStdString(), "video").size(), 25u);
}

TEST(QVTTranscoder, CancelHalfWayReportsOnceAndLeavesNoFile)
{
    QTemporaryDir folder;
    const QString destination = folder.path() + "/cancelled.mov";
    Job run(showSource(), destination, QVTTranscoderCodec::ProRes422);
    run.delegate->onProgress = [job = std::weak_ptr<QVTTranscoder>(run.job)](int calls) {
        if (calls == 30)
            if (const auto alive = job.lock())
                alive->cancelTranscode();
    };
    run.job->startTranscode();
    ASSERT_TRUE(run.waitForReport());
    EXPECT_TRUE(run.job->isCancelled());
    EXPECT_LT(run.delegate->progressCalls.load(), 75);
    EXPECT_FALSE(QFileInfo::exists(destination));
    EXPECT_EQ(run.delegate->reports.load(), 1);
}

TEST(QVTTranscoder, AnExistingDestinationIsReplaced)
{
    QTemporaryDir folder;
    const QString destination = folder.path() + "/old.mov";
    QFile old(destination);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an older file in the way");
    old.close();
    Job run(MediaFixtures::path("counter25.mp4"), destination);
    run.job->startTranscode();
    ASSERT_TRUE(run.waitForReport());
    ASSERT_FALSE(run.job->isCancelled());
    const auto asset = MediaAsset::open(destination.toStdString());
    ASSERT_TRUE(asset);
    EXPECT_TRUE(asset->isHap());
}

bool makeOddSize(const std::string& name)
{
    return MediaFixtures::ffmpeg("-f lavfi -i testsrc2=size=130x98:rate=25:duration=1 -c:v libx264 -preset ultrafast " +
                                 name);
}

TEST(QVTTranscoder, BadSourcesEndCancelledWithOneReportAndNoFile)
{
    QTemporaryDir folder;
    QDir(folder.path()).mkdir("a folder.mov");
    const std::string oddSize = MediaFixtures::madePath("transcoder_odd.mp4", makeOddSize);
    const struct {
        const char* what;
        std::string source;
        bool readsPictures;  // fails part-way, not at the start
    } cases[] = {
        {"missing", folder.path().toStdString() + "/nothing.mov", false},
        {"a folder", folder.path().toStdString() + "/a folder.mov", false},
        {"not media", MediaFixtures::path("notmedia.mov"), false},
        {"truncated", MediaFixtures::path("truncated.mp4"), true},
        {"without an index", MediaFixtures::path("headless.mp4"), false},
        {"no video", MediaFixtures::path("six.wav"), false},
        {"a size Hap refuses", oddSize, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString destination = folder.path() + "/out.mov";
        Job run(c.source, destination);
        run.job->startTranscode();
        ASSERT_TRUE(run.waitForReport());
        EXPECT_TRUE(run.job->isCancelled());
        EXPECT_FALSE(QFileInfo::exists(destination));
        EXPECT_EQ(run.delegate->reports.load(), 1);
        EXPECT_EQ(run.delegate->progressCalls.load() > 0, c.readsPictures);
    }
}

TEST(QVTTranscoder, TheSourceIsNeverDeletedAsItsOwnDestination)
{
    QTemporaryDir folder;
    const QString source = folder.path() + "/clip.mp4";
    ASSERT_TRUE(QFile::copy(QString::fromStdString(MediaFixtures::path("counter25.mp4")), source));
    const qint64 size = QFileInfo(source).size();
    Job video(source.toStdString(), folder.path() + "//clip.mp4");
    video.job->startTranscode();
    ASSERT_TRUE(video.waitForReport());
    EXPECT_TRUE(video.job->isCancelled());
    Job audio(source.toStdString(), source);
    audio.job->transcodeAudio(source, source);
    ASSERT_TRUE(audio.waitForReport());
    EXPECT_EQ(audio.job->destinationPath(), source);
    EXPECT_EQ(QFileInfo(source).size(), size);
    EXPECT_TRUE(MediaAsset::open(source.toStdString()));
}

TEST(QVTTranscoder, AFullDiskFailsTheJobAndLeavesNoFile)
{
    QTemporaryDir folder;
    const QString mountPoint = folder.path() + "/small";
    QDir().mkpath(mountPoint);
    if (mount("tmpfs", mountPoint.toLocal8Bit().constData(), "tmpfs", 0, "size=512k") != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    const QString destination = mountPoint + "/full.mov";
    Job run(showSource(), destination, QVTTranscoderCodec::ProRes422);
    run.job->startTranscode();
    const bool reported = run.waitForReport();
    const bool cancelled = run.job->isCancelled();
    const bool leftFile = QFileInfo::exists(destination);
    umount2(mountPoint.toLocal8Bit().constData(), MNT_DETACH);
    ASSERT_TRUE(reported);
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(leftFile);
    EXPECT_EQ(run.delegate->reports.load(), 1);
}

TEST(QVTTranscoder, AudioJobWritesAnM4AOrFallsBackToTheSource)
{
    QTemporaryDir folder;
    const std::string source = MediaFixtures::path("counter25.mp4");
    const QString destination = folder.path() + "/Transcoded/counter25.m4a";
    Job run(source, destination);
    run.job->transcodeAudio(QString::fromStdString(source), destination);
    ASSERT_TRUE(run.waitForReport());
    EXPECT_EQ(run.job->transcoderType(), 1);
    EXPECT_EQ(run.job->destinationPath(), destination);
    EXPECT_FALSE(run.delegate->pollingAtReport.load()) << "the poll ends with the job";
    const auto asset = MediaAsset::open(destination.toStdString());
    const auto sourceAsset = MediaAsset::open(source);
    ASSERT_TRUE(asset && asset->firstAudioTrack() && sourceAsset && sourceAsset->firstAudioTrack());
    EXPECT_EQ(fourCCString(asset->firstAudioTrack()->codecType), "aac ");
    EXPECT_FALSE(asset->hasVideo());
    EXPECT_NEAR(asset->duration().seconds(), sourceAsset->firstAudioTrack()->duration.seconds(), 0.05);
    EXPECT_EQ(QVTTranscoder::transcodeAudioSynchronously(QString::fromStdString(source), destination), destination);

    // Without audio, and cancelled: the cue is told to keep its source.
    const std::string silent = MediaFixtures::path("counter2997.mov");
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "no audio");
        const std::string from = cancel ? source : silent;
        const QString to = folder.path() + "/fallback.m4a";
        Job fallback(from, to);
        if (cancel)
            fallback.job->cancelTranscode();
        fallback.job->transcodeAudio(QString::fromStdString(from), to);
        ASSERT_TRUE(fallback.waitForReport());
        EXPECT_EQ(fallback.job->destinationPath(), QString::fromStdString(from));
        EXPECT_FALSE(fallback.delegate->pollingAtReport.load());
        EXPECT_FALSE(fallback.job->isPolling());
        EXPECT_FALSE(QFileInfo::exists(to));
        EXPECT_EQ(fallback.delegate->reports.load(), 1);
    }
    EXPECT_EQ(QVTTranscoder::transcodeAudioSynchronously(QString::fromStdString(silent), destination),
              QString::fromStdString(silent));
}
