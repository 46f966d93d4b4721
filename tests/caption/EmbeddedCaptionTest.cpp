#include "CaptionFixtures.h"
#include "Caption/QVTCaptionReader.h"
#include "Caption/QVTCaptionReaderAVF.h"

#include <gtest/gtest.h>

#include <QProcess>

namespace {

// A short movie with a closed-caption track made from an SCC file and a timed-text track made
// from an SRT file, both in English, written with the ffmpeg command.
class EmbeddedCaptions : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = new CaptionFolder;
        folder->write("cc.scc", "Scenarist_SCC V1.0\n\n"
                                "00:00:00;10\t9420 9420 94ae 94ae 9470 9470 c845 4c4c 4f80 942f 942f\n\n"
                                "00:00:02;00\t942c 942c\n");
        folder->write("subs.srt", "1\n00:00:00,500 --> 00:00:01,500\nA\nB\n\n"
                                  "2\n00:00:02,000 --> 00:00:02,500\nHello\n");
        QProcess ffmpeg;
        ffmpeg.setWorkingDirectory(folder->dir.path());
        ffmpeg.start("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=30000/1001:duration=3",
                                "-i", "cc.scc", "-i", "subs.srt", "-map", "0", "-map", "1", "-map", "2", "-c:v", "mpeg4",
                                "-c:s:0", "copy", "-c:s:1", "mov_text", "-metadata:s:s:0", "language=eng",
                                "-metadata:s:s:1", "language=eng", "movie.mov"});
        ffmpegOk = ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0;
    }
    static void TearDownTestSuite() { delete folder; }

    void SetUp() override { ASSERT_TRUE(ffmpegOk) << "ffmpeg could not make the fixture movie"; }

    static inline CaptionFolder* folder = nullptr;
    static inline bool ffmpegOk = false;
};

QStringList linesOf(const QVTCaptionPtr& caption)
{
    QStringList lines;
    for (const auto& line : caption->lines) {
        lines << line.text.string();
    }
    return lines;
}

}  // namespace

TEST_F(EmbeddedCaptions, TracksAreListedWithTheirDisplayNames)
{
    const auto tracks = QVTCaptionReader::captionTracksForFile(folder->url("movie.mov"));
    ASSERT_TRUE(tracks);
    EXPECT_EQ(*tracks, (QStringList{":embedded:English", ":embedded:English CC"}));
    EXPECT_EQ(QVTCaptionReader::displayNameForCaptionTrack(":embedded:English CC"), "Embedded - English CC");
}

TEST_F(EmbeddedCaptions, ClosedCaptionsAreDecoded)
{
    auto reader = QVTCaptionReader::readerWithMovieFile(folder->url("movie.mov"), ":embedded:English CC", 20);
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->captions().size(), 1u);
    const auto& caption = reader->captions()[0];
    EXPECT_EQ(linesOf(caption), QStringList{" HELLO "});
    EXPECT_EQ(caption->alignment, 0);
    // Shown from the first end-of-caption code until the erase at 2 s; it is also the last
    // caption, which lasts 16 s from its start.
    const double start = caption->startTime.seconds();
    EXPECT_NEAR(start, 10 * 1001 / 30000.0 + 10 * 1001 / 30000.0, 0.05);
    EXPECT_NEAR(caption->endTime.seconds(), start + 16, 1e-6);
    EXPECT_EQ(reader->captionForTime(MediaTime::makeWithSeconds(start + 0.5, 30000)), caption);
}

TEST_F(EmbeddedCaptions, SubtitlesBecomeCaptionsLineByLine)
{
    auto reader = QVTCaptionReader::readerWithMovieFile(folder->url("movie.mov"), ":embedded:English", 10);
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->captions().size(), 2u);  // the empty gap samples are skipped
    const auto& first = reader->captions()[0];
    EXPECT_EQ(linesOf(first), (QStringList{"A", "B"}));
    EXPECT_EQ(first->alignment, 2);
    EXPECT_TRUE(first->drawBackgroundRectangle);
    EXPECT_EQ(first->startTime, MediaTime::make(500, 1000));
    EXPECT_EQ(first->endTime, MediaTime::make(1500, 1000));
    EXPECT_EQ(*first->lines[0].text.attributesAt(0).background, (KavioColor{0, 0, 0, 1}));
    const auto& last = reader->captions()[1];
    EXPECT_EQ(linesOf(last), QStringList{"Hello"});
    EXPECT_EQ(last->endTime, MediaTime::make(18, 1));  // 16 s after its start
}

TEST_F(EmbeddedCaptions, UnknownTrackNamesAndMissingMoviesGiveNoReader)
{
    EXPECT_EQ(QVTCaptionReader::readerWithMovieFile(folder->url("movie.mov"), ":embedded:French", 20), nullptr);
    EXPECT_EQ(QVTCaptionReader::readerWithMovieFile(folder->url("missing.mov"), ":embedded:English", 20), nullptr);
    QVTCaptionReaderAVF reader;
    EXPECT_FALSE(reader.initWithMovieFile(folder->url("cc.scc"), ":embedded:English", 20));
}

TEST(SubtitleSamples, TextEndsAtItsLengthFieldAndEmptyOrBrokenSamples)
{
    QVTCaptionReaderAVF reader;
    const MediaTime start = MediaTime::make(1, 1), duration = MediaTime::make(1, 2);
    // "A\n" then a style box that must not show as text.
    reader.addSubtitleSample(start, duration, {0, 2, 'A', '\n', 0, 0, 0, 12, 's', 't', 'y', 'l', 0, 0, 0, 0});
    reader.addSubtitleSample(start, duration, {0, 0});             // empty: skipped
    reader.addSubtitleSample(start, duration, {0, 9, 'O', 'K'});   // shorter than its length
    reader.addSubtitleSample(start, duration, {0, 2, 0xC3, 0x28});  // not UTF-8: kept without lines
    ASSERT_EQ(reader.captions().size(), 3u);
    EXPECT_EQ(linesOf(reader.captions()[0]), (QStringList{"A", ""}));
    EXPECT_EQ(reader.captions()[0]->endTime, MediaTime::make(3, 2));
    EXPECT_EQ(linesOf(reader.captions()[1]), QStringList{"OK"});
    EXPECT_TRUE(reader.captions()[2]->lines.empty());
}
