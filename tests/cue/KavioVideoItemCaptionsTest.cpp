// Captions of a movie cue with the real caption readers: the tracks beside the movie and inside
// it, the selection, the delay, the start times, mixing and the subtitle settings.

#include "CueTestSupport.h"
#include "MediaFixtures.h"

#include "Caption/QVTCaption.h"
#include "DispatchQueue.h"
#include "MediaPlayer.h"
#include "NotificationCenter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class MixingController : public FakeKavioVideoItemManager {
public:
    bool mixing = false;
    bool isMixing() const override { return mixing; }
};

void writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

const QByteArray kSrt = "1\n00:00:00,200 --> 00:00:00,400\nFirst\n\n2\n00:00:01,000 --> 00:00:01,200\nOne\n";

// A copy of counter25 (2 s) as Show.mov in a folder of its own, with the caption files given.
struct CaptionedMovie {
    QTemporaryDir dir;
    std::shared_ptr<MixingController> controller = std::make_shared<MixingController>();
    std::shared_ptr<KavioVideoItem> cue = std::make_shared<KavioVideoItem>();

    explicit CaptionedMovie(const std::vector<std::pair<QString, QByteArray>>& files)
    {
        controller->clock = QVTClock::initClock();
        controller->clock->setSmpteFormat(QVTClockSMPTEFormat25);
        const QString movie = dir.filePath("Show.mov");
        EXPECT_TRUE(QFile::copy(QString::fromStdString(MediaFixtures::path("counter25.mp4")), movie));
        QDir(dir.path()).mkdir("sub");
        for (const auto& [name, text] : files)
            writeText(dir.filePath(name), text);
        EXPECT_TRUE(cue->initMovieCue(movie, controller, {}));
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isReady(); }, 60.0));
    }
    void standAt(double seconds)
    {
        const MediaTime target = MediaTime::makeWithSeconds(seconds, 600);
        cue->videoPlayer()->seekToTime(target, MediaTime::zero(), MediaTime::zero(), DispatchQueue::main(), {});
        ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return cue->videoPlayer()->currentTime() == target; }, 30.0));
    }
    bool shows(const char* text) const
    {
        const auto output = cue->currentCaptionOutput();
        const auto preview = cue->currentCaptionPreview();
        return output && preview && output->anyLineContainsText(text) && preview->anyLineContainsText(text);
    }
};

TEST(KavioVideoItemCaptions, FilesBesideTheMovieAreFoundByPrefixAndExactExtension)
{
    CaptionedMovie movie({{"Show.srt", kSrt}, {"Show2.scc", "Scenarist_SCC V1.0\n"}, {"Show.SRT", kSrt},
                          {"sub/Show.srt", kSrt}, {"Other.srt", kSrt}});
    EXPECT_EQ(movie.cue->availableCaptions(), (QStringList{".srt", "2.scc"}));
    EXPECT_TRUE(movie.cue->hasCaption());
    EXPECT_EQ(movie.cue->selectedCaptionTrack(), 0);
}

TEST(KavioVideoItemCaptions, DelayShiftsTheLookupAndTheActualStart)
{
    CaptionedMovie movie({{"Show.srt", kSrt}});
    auto& cue = *movie.cue;
    const auto& clock = movie.controller->clock;
    movie.standAt(1.5);
    EXPECT_EQ(cue.currentCaptionOutput(), nullptr);  // between captions
    cue.setCaptionDelaySeconds(0.5);
    EXPECT_TRUE(movie.shows("One"));  // the file's 1.0 s caption at cue time 1.5 s
    EXPECT_EQ(cue.originalCaptionStartTimeSMTPE(), clock->smpteRepresentationOfTime(0.2));
    EXPECT_EQ(cue.actualCaptionStartTimeSMTPE(), clock->smpteRepresentationOfTime(0.7));

    movie.controller->mixing = true;
    EXPECT_EQ(cue.currentCaptionOutput(), nullptr);
    EXPECT_EQ(cue.currentCaptionPreview(), nullptr);
    movie.controller->mixing = false;

    // An index out of range keeps the readers and stores the index; the delay goes back to 0.
    cue.setSelectedCaptionTrack(5);
    EXPECT_EQ(cue.selectedCaptionTrack(), 5);
    EXPECT_DOUBLE_EQ(cue.captionDelaySeconds(), 0.0);
    movie.standAt(1.1);
    EXPECT_TRUE(movie.shows("One"));

    // New subtitle settings rebuild the readers of the track (index 0 again) and reset the delay.
    cue.setSelectedCaptionTrack(0);
    cue.setCaptionDelaySeconds(0.5);
    NotificationCenter::defaultCenter().post(kKavioSubtitleSettingsChangedNotification);
    EXPECT_DOUBLE_EQ(cue.captionDelaySeconds(), 0.0);
    EXPECT_TRUE(movie.shows("One"));

    cue.setSelectedCaptionTrack(-1);
    EXPECT_FALSE(cue.hasCaption());
    EXPECT_EQ(cue.currentCaptionOutput(), nullptr);
}

TEST(KavioVideoItemCaptions, BadOrMissingCaptionsShowNothing)
{
    {
        SCOPED_TRACE("no captions");
        CaptionedMovie movie({});
        EXPECT_FALSE(movie.cue->hasCaption());
        EXPECT_EQ(movie.cue->currentCaptionOutput(), nullptr);
        EXPECT_EQ(movie.cue->currentCaptionPreview(), nullptr);
        EXPECT_EQ(movie.cue->originalCaptionStartTimeSMTPE(), "00:00:00:00");
        EXPECT_EQ(movie.cue->actualCaptionStartTimeSMTPE(), "00:00:00:00");
    }
    {
        SCOPED_TRACE("damaged file");
        CaptionedMovie movie({{"Show.srt", QByteArray("\xff\xfe\x00garbage -->\n\n\x01", 16)}});
        movie.standAt(1.1);
        EXPECT_EQ(movie.cue->currentCaptionOutput(), nullptr);
    }
    {
        SCOPED_TRACE("file gone after the search");
        CaptionedMovie movie({{"Show.srt", kSrt}, {"Show.en.srt", kSrt}});
        ASSERT_TRUE(QFile::remove(movie.dir.filePath("Show.srt")));
        movie.cue->setSelectedCaptionTrack(1);  // now past the end of the shorter list: kept
        movie.standAt(1.1);
        EXPECT_TRUE(movie.shows("One"));
        ASSERT_TRUE(QFile::remove(movie.dir.filePath("Show.en.srt")));
        movie.cue->reloadCaption();
        EXPECT_TRUE(movie.cue->availableCaptions().isEmpty());
    }
}

TEST(KavioVideoItemCaptions, EmbeddedTrackIsListedAndSelectable)
{
    auto controller = std::make_shared<MixingController>();
    auto cue = std::make_shared<KavioVideoItem>();
    ASSERT_TRUE(cue->initMovieCue(QString::fromStdString(MediaFixtures::path("captions.mp4")), controller, {}));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isReady(); }, 60.0));
    const QStringList tracks = cue->availableCaptions();
    // The fixture folder also holds the caption file the movie was made from.
    const auto embedded = std::find_if(tracks.begin(), tracks.end(),
                                       [](const QString& track) { return track.startsWith(":embedded:"); });
    ASSERT_NE(embedded, tracks.end());
    cue->setSelectedCaptionTrack(std::int32_t(embedded - tracks.begin()));
    EXPECT_TRUE(cue->hasCaption());

}

}  // namespace
