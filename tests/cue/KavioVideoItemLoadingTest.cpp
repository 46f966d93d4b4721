// Cues made from real files: movies, audio-only files, stills, HEIC pictures and PDF pages, with
// their readiness, missing state, media facts and the size alert.

#include "CueTestSupport.h"
#include "MediaFixtures.h"

#include "Support/KavioAlert.h"

#include "DispatchQueue.h"
#include "FileBookmark.h"
#include "MediaAsset.h"
#include "MediaPlayer.h"
#include "NotificationCenter.h"
#include "UserDefaults.h"
#include "VideoFrame.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

namespace {

using MediaFixtures::madePath;

QString fixture(const std::string& name)
{
    return QString::fromStdString(MediaFixtures::path(name));
}

bool makeAudioOnlyMovie(const std::string& name)
{
    return MediaFixtures::ffmpeg("-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 -ac 2 -c:a aac " + name);
}

// A movie holding nothing but a caption track.
bool makeTracklessMovie(const std::string& name)
{
    return !MediaFixtures::path("captions.mp4").empty() &&
           MediaFixtures::ffmpeg("-i captions.mp4 -map 0:s -c copy " + name);
}

// counter25.mp4 with every byte of its picture and sound data zeroed: it opens, but no picture
// decodes.
bool makeZeroedMovie(const std::string& name)
{
    const std::string source = MediaFixtures::path("counter25.mp4");
    if (source.empty())
        return false;
    std::ifstream in(source, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string tag = "mdat";
    const auto at = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end());
    if (at == bytes.end() || at - bytes.begin() < 4)
        return false;
    const auto start = at - bytes.begin() - 4;
    const uint32_t size = (uint32_t(uint8_t(bytes[start])) << 24) | (uint32_t(uint8_t(bytes[start + 1])) << 16) |
                          (uint32_t(uint8_t(bytes[start + 2])) << 8) | uint32_t(uint8_t(bytes[start + 3]));
    std::fill(bytes.begin() + start + 8, bytes.begin() + std::min<size_t>(bytes.size(), start + size), 0);
    std::ofstream(MediaFixtures::folder() + "/" + name, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return true;
}

// A cue made from `path` under a fake controller, its queued steps run until it is ready or
// missing.
struct LoadedCue {
    RecordingOSCOutput osc;
    std::shared_ptr<FakeKavioVideoItemManager> controller = std::make_shared<FakeKavioVideoItemManager>();
    std::shared_ptr<FakeAudioPlayer> audio = std::make_shared<FakeAudioPlayer>();
    std::shared_ptr<RecordingCue> cue = std::make_shared<RecordingCue>(osc.sender());
    bool made = false;

    explicit LoadedCue(bool loadingProject = false) { controller->loadingProject = loadingProject; }

    void load(const QString& path, const QVariantMap& record = {})
    {
        cue->audioToMake = audio;
        made = cue->initMovieCue(path, controller, record);
        settle();
    }
    void settle()
    {
        DispatchQueue::runMainUntil([&] { return cue->isReady() || cue->isMissing(); }, 30.0);
        DispatchQueue::drainMain();
    }
};

struct MovieCase {
    std::string file;
    int mediaType;
    QSizeF sourceSize;
    float fps;
    bool yuv;
    bool proRes;
    QString bitDepth;
    std::uint32_t pixelFormat;
};

TEST(KavioVideoItemLoading, MoviesBecomeReadyWithTheirFacts)
{
    const MovieCase cases[] = {
        {"counter25.mp4", 0, {320, 240}, 25.0f, true, false, "8", fourCC("2vuy")},
        {"prores.mov", 0, {128, 96}, 25.0f, true, true, "up to 10", fourCC("2vuy")},
        {"hap.mov", 0, {128, 96}, 25.0f, false, false, "8", fourCC("BGRA")},
        {"bt2020.mp4", 0, {128, 96}, 25.0f, true, false, "10", fourCC("2vuy")},
    };
    for (const MovieCase& c : cases) {
        SCOPED_TRACE(c.file);
        LoadedCue loaded;
        loaded.load(fixture(c.file));
        auto& cue = *loaded.cue;
        ASSERT_TRUE(loaded.made);
        EXPECT_TRUE(cue.isReady());
        EXPECT_FALSE(cue.isMissing());
        EXPECT_EQ(cue.mediaType(), c.mediaType);
        EXPECT_EQ(cue.sourceSize(), c.sourceSize);
        EXPECT_FLOAT_EQ(cue.videoFPS(), c.fps);
        EXPECT_EQ(cue.isYUV(), c.yuv);
        EXPECT_EQ(cue.isProRes(), c.proRes);
        EXPECT_EQ(cue.bitDepthString(), c.bitDepth);
        EXPECT_EQ(cue.videoPixelFormat(), c.pixelFormat);
        EXPECT_EQ(cue.isHAP(), c.file == "hap.mov");
        EXPECT_EQ(cue.workingcolorspace(), c.file == "bt2020.mp4" ? 1 : 0);
        ASSERT_TRUE(cue.normalVideoPlayer());
        EXPECT_EQ(cue.videoPlayer(), cue.normalVideoPlayer());
        ASSERT_TRUE(cue.captionQueue());
        EXPECT_EQ(cue.captionQueue()->label(), "com.dalvek.kavio.captionqueue");
        const auto renderer = cue.layerRendererSettings();
        ASSERT_TRUE(renderer);
        EXPECT_EQ(renderer->outputSize, QSizeF(1920, 1080));
        EXPECT_EQ(renderer->yuvToRGB, c.yuv);
        EXPECT_EQ(renderer->inputSize, c.sourceSize);
        EXPECT_TRUE(cue.isWatchingFile());
        EXPECT_FALSE(cue.bookmarkdata().isEmpty());
        // The first preparation follows the ready analysis; the thumbnail comes before it.
        EXPECT_LT(cue.steps.indexOf("generateThumbnail"), cue.steps.indexOf("rewindAndPreroll"));
    }
}

TEST(KavioVideoItemLoading, MovieSoundPlaysThroughTheCuesOwnPlayer)
{
    LoadedCue loaded;
    loaded.load(fixture("counter25.mp4"));
    auto& cue = *loaded.cue;
    ASSERT_TRUE(cue.isReady());
    EXPECT_EQ(cue.audioFiles, QStringList{fixture("counter25.mp4")});
    EXPECT_EQ(cue.codecString(), "H.264 / AAC (2 chs) ");
    EXPECT_EQ(cue.videoDimensions(), "320 x 240");
    EXPECT_EQ(cue.videoFPSString(), "25");
    EXPECT_EQ(cue.fpsForNDIOutput(), 25000);
    EXPECT_DOUBLE_EQ(cue.itemAssetDuration(), 2.0);
}

TEST(KavioVideoItemLoading, AQuarterTurnedMovieTurnsItsGeometryUnlessAProjectLoads)
{
    const std::string rotated = MediaFixtures::path("rotated.mp4");
    ASSERT_FALSE(rotated.empty());
    {
        LoadedCue loaded;
        loaded.load(QString::fromStdString(rotated));
        ASSERT_TRUE(loaded.cue->isReady());
        EXPECT_EQ(loaded.cue->preferedTransform(), 30);
        EXPECT_FLOAT_EQ(loaded.cue->geometryRotate(), -90.0f);
        EXPECT_FLOAT_EQ(loaded.cue->geometryScaleH(), -0.4375f);
        EXPECT_FLOAT_EQ(loaded.cue->geometryScaleV(), -0.4375f);
        EXPECT_FALSE(loaded.cue->layerRendererSettings()->shouldFlip);
    }
    LoadedCue restoring(true);
    restoring.cue->audioToMake = restoring.audio;
    ASSERT_TRUE(restoring.cue->initMovieCue(QString::fromStdString(rotated), restoring.controller, {}));
    // While a project loads, ready comes from the controller after the record: wait for the
    // analysis through its preparation step instead.
    DispatchQueue::runMainUntil([&] { return restoring.cue->steps.contains("rewindAndPreroll"); }, 30.0);
    EXPECT_EQ(restoring.cue->preferedTransform(), 30);
    EXPECT_FLOAT_EQ(restoring.cue->geometryRotate(), 0.0f);
    EXPECT_FLOAT_EQ(restoring.cue->geometryScaleH(), 0.0f);
    EXPECT_FALSE(restoring.cue->steps.contains("generateThumbnail"));
}

TEST(KavioVideoItemLoading, AudioOnlyFilesGetATransparentPicture)
{
    for (const QString& path : {QString::fromStdString(madePath("audioonly.mov", makeAudioOnlyMovie)), fixture("six.wav")}) {
        SCOPED_TRACE(path.toStdString());
        LoadedCue loaded;
        loaded.audio->fileChannels = 1;
        loaded.load(path);
        auto& cue = *loaded.cue;
        EXPECT_EQ(cue.mediaType(), KavioMediaTypeAudio);
        EXPECT_TRUE(cue.isReady());
        EXPECT_FALSE(cue.isMissing());
        EXPECT_FALSE(cue.normalVideoPlayer());
        EXPECT_EQ(cue.sourceSize(), QSizeF(320, 240));
        EXPECT_EQ(cue.videoDimensions(), "-");
        const auto picture = cue.stillPixelBuffer();
        ASSERT_TRUE(picture);
        ASSERT_EQ(picture->width(), 320);
        ASSERT_EQ(picture->height(), 240);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320 * 4; ++x)
                ASSERT_EQ(picture->row(y)[x], 0);
        EXPECT_EQ(cue.audioFiles, QStringList{path});
        EXPECT_EQ(cue.codecString(), path.endsWith("wav") ? "PCM (1 ch)" : "AAC (1 ch)");
    }
}

TEST(KavioVideoItemLoading, AnUnreadableAudioFileIsMissingWithItsOwnToolTip)
{
    LoadedCue loaded;
    loaded.audio.reset();
    loaded.cue->audioToMake.reset();
    loaded.made = loaded.cue->initMovieCue(fixture("six.wav"), loaded.controller, {});
    DispatchQueue::runMainUntil([&] { return !loaded.cue->errorButton().hidden; }, 10.0);
    DispatchQueue::drainMain();
    EXPECT_TRUE(loaded.cue->isMissing());
    EXPECT_TRUE(loaded.cue->isReady());
    EXPECT_EQ(loaded.cue->errorButton().toolTip, "Audio file is unreadable...");
    EXPECT_TRUE(loaded.cue->stillPixelBuffer());
}

TEST(KavioVideoItemLoading, BadFilesLeaveAMissingReadyCueInTheList)
{
    QTemporaryDir dir;
    const QString dangling = dir.filePath(QStringLiteral("dangling.mov"));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("gone.mov")), dangling));
    const QString notPicture = makeEmptyFile(dir, QStringLiteral("empty.png"));
    QDir(dir.path()).mkdir(QStringLiteral("folder.mov"));
    const QVariantMap record{{QStringLiteral("_intime"), MediaTime::make(600, 600).toData()}};
    const QString files[] = {
        fixture("notmedia.mov"),
        QString::fromStdString(madePath("notracks.mp4", makeTracklessMovie)),
        dir.filePath(QStringLiteral("nothing.mov")),
        dangling,
        dir.filePath(QStringLiteral("folder.mov")),
        notPicture,
        dir.filePath(QStringLiteral("nothing.pdf")),
    };
    for (const QString& path : files) {
        SCOPED_TRACE(path.toStdString());
        LoadedCue loaded;
        loaded.load(path, record);
        auto& cue = *loaded.cue;
        ASSERT_TRUE(loaded.made);
        EXPECT_TRUE(cue.isMissing());
        EXPECT_TRUE(cue.isReady());
        EXPECT_FALSE(cue.normalVideoPlayer());
        EXPECT_FALSE(cue.isWatchingFile());
        EXPECT_EQ(cue.codecString(), "-");
        EXPECT_FLOAT_EQ(cue.videoFPS(), 0.0f);
        if (cue.mediaType() == KavioMediaTypeMovie) {
            EXPECT_EQ(cue.inTime(), MediaTime::zero());
        }
        EXPECT_TRUE(cue.steps.contains("setupTransition"));
    }
}

TEST(KavioVideoItemLoading, MissingShowsTheErrorButtonAndItsActionReplacesTheMedia)
{
    LoadedCue loaded;
    loaded.controller->current = loaded.cue;
    int refreshes = 0;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        nullptr, kKavioRefreshWaveformViewNotification, nullptr, [&](const Notification&) { ++refreshes; });
    loaded.load(fixture("notmedia.mov"));
    NotificationCenter::defaultCenter().removeObserver(token);
    auto& cue = *loaded.cue;
    const KavioRowButton& button = cue.errorButton();
    EXPECT_FALSE(button.hidden);
    EXPECT_TRUE(button.enabled);
    EXPECT_EQ(button.toolTip, "Source unavailable...");
    EXPECT_EQ(cue.errorButtonDrawColor(), (KavioColor{0.98, 0.822, 0.0, 1.0}));
    EXPECT_TRUE(cue.isAudioMeterHidden());
    EXPECT_EQ(refreshes, 1);

    const int changes = loaded.controller->unsavedChangesCount;
    cue.replaceMedia();
    EXPECT_EQ(loaded.controller->replaced, QList<KavioVideoItem*>{&cue});
    EXPECT_EQ(loaded.controller->unsavedChangesCount, changes + 1);

    cue.setIsMissing(false);
    DispatchQueue::drainMain();
    EXPECT_TRUE(cue.errorButton().hidden);
}

TEST(KavioVideoItemLoading, AMovieWhosePicturesNeverDecodeFailsAndDropsItsSound)
{
    LoadedCue loaded;
    loaded.load(QString::fromStdString(madePath("zeroed.mp4", makeZeroedMovie)));
    auto& cue = *loaded.cue;
    ASSERT_TRUE(loaded.made);
    EXPECT_TRUE(cue.isMissing());
    EXPECT_FALSE(cue.isReady());
    EXPECT_FALSE(cue.audioPlayer());
    EXPECT_TRUE(loaded.audio->released);
    EXPECT_FALSE(cue.soundButton().enabled);
    EXPECT_EQ(cue.soundButton().state, 0);

    // Missing, the cue moves and starts without asking its movie player.
    ASSERT_TRUE(cue.normalVideoPlayer());
    const MediaTime before = cue.normalVideoPlayer()->currentTime();
    cue.seekToCMTime(MediaTime::make(600, 600));
    cue.startPlayers();
    EXPECT_FALSE(cue.isSeeking());
    EXPECT_TRUE(cue.isPlaying());
    EXPECT_EQ(cue.normalVideoPlayer()->rate(), 0.0f);
    EXPECT_EQ(cue.normalVideoPlayer()->currentTime(), before);
    EXPECT_DOUBLE_EQ(cue.currentCMTime().seconds(), 1.0);  // its non-movie time
    cue.pausePlayersWithPreroll(true);
}

TEST(KavioVideoItemLoading, NoRowMeansNoCue)
{
    LoadedCue loaded;
    loaded.cue->nibLoads = false;
    loaded.load(fixture("counter25.mp4"));
    EXPECT_FALSE(loaded.made);
    // A file that is no media still gives a cue: missing, but in the list.
    EXPECT_NE(KavioVideoItem::initWithMoviePath(fixture("notmedia.mov"), nullptr), nullptr);
}

TEST(KavioVideoItemLoading, ReadyIsAnnouncedOncePerCue)
{
    int posts = 0;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        nullptr, kKavioItemBecameReadyNotification, nullptr, [&](const Notification&) { ++posts; });
    KavioVideoItem cue;
    cue.setIsReady(true);
    cue.setIsReady(true);
    cue.setIsReady(false);
    cue.setIsReady(true);
    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(posts, 1);
    EXPECT_TRUE(cue.sentBecameAvailableMessage());
}

TEST(KavioVideoItemLoading, AMissingFileIsLoadedFromItsBookmarkWhenItMoved)
{
    QTemporaryDir dir;
    const QString original = savedImage(dir, QStringLiteral("show.png"), QSize(8, 8));
    const QByteArray bookmark = FileBookmark::create(original);
    const QString moved = dir.filePath(QStringLiteral("moved.png"));
    ASSERT_TRUE(QFile::rename(original, moved));

    LoadedCue loaded;
    loaded.load(original, {{QStringLiteral("bookmarkdata"), bookmark}});
    EXPECT_FALSE(loaded.cue->isMissing());
    EXPECT_EQ(loaded.cue->mediaPath(), moved);

    // A bookmark of another platform finds nothing and stays in the cue for the record.
    LoadedCue foreign;
    const QByteArray theirs("book\x30\x02\x00\x00 from elsewhere", 24);
    foreign.load(dir.filePath(QStringLiteral("elsewhere.png")), {{QStringLiteral("bookmarkdata"), theirs}});
    EXPECT_TRUE(foreign.cue->isMissing());
    EXPECT_EQ(foreign.cue->bookmarkdata(), theirs);
}

// --- Stills ----------------------------------------------------------------------------------

struct AlertRecorder {
    std::vector<KavioAlertSpec> shown;
    bool tick = false;
    AlertRecorder()
    {
        KavioAlert::setAnswerer([this](const KavioAlertSpec& spec) {
            shown.push_back(spec);
            return KavioAlertAnswer{KavioAlert::FirstButtonReturn, tick};
        });
        UserDefaults::standardUserDefaults().setBool(false, QStringLiteral("KavioSuppressionImageExceedsLimit"));
    }
    ~AlertRecorder() { KavioAlert::setAnswerer({}); }
};

TEST(KavioVideoItemLoading, AStillWithAlphaIsReadyWithItsPicture)
{
    QTemporaryDir dir;
    const QString path = savedImage(dir, QStringLiteral("alpha.PNG"), QSize(40, 30), QImage::Format_ARGB32);
    LoadedCue loaded;
    loaded.load(path);
    auto& cue = *loaded.cue;
    EXPECT_EQ(cue.mediaType(), KavioMediaTypeStill);
    EXPECT_TRUE(cue.isReady());
    EXPECT_TRUE(cue.hasAlpha());
    EXPECT_EQ(cue.sourceSize(), QSizeF(40, 30));
    EXPECT_EQ(cue.bitDepthString(), "8");
    ASSERT_TRUE(cue.stillPixelBuffer());
    EXPECT_EQ(cue.stillPixelBuffer()->pixelFormat(), MediaPixelFormat::BGRA);
    EXPECT_EQ(cue.videoFPSString(), "-");
    EXPECT_EQ(cue.fpsForNDIOutput(), 60000);
    EXPECT_EQ(cue.layerRendererSettings()->inputSize, QSizeF(40, 30));
    EXPECT_TRUE(cue.isWatchingFile());

    // High-bit-depth rendering takes half-float pictures.
    LoadedCue deep;
    deep.controller->highBitDepth = true;
    deep.load(path);
    EXPECT_EQ(deep.cue->stillPixelBuffer()->pixelFormat(), MediaPixelFormat::RGBAHalf);
}

TEST(KavioVideoItemLoading, APictureBeyondTheLimitIsShrunkAfterOneAlert)
{
    QTemporaryDir dir;
    const QString wide = savedImage(dir, QStringLiteral("wide.png"), QSize(20000, 8), QImage::Format_RGB32);
    const QString edge = savedImage(dir, QStringLiteral("edge.png"), QSize(16384, 16), QImage::Format_RGB32);
    AlertRecorder alerts;

    LoadedCue shrunk;
    shrunk.load(wide);
    ASSERT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(alerts.shown[0].messageText, "Image dimension exceeds limit.");
    EXPECT_EQ(alerts.shown[0].informativeText,
              "The dimension of this image is 20000x8 which exceeds limit (16384x16384).\nKavio automatically "
              "downscaling it below limit, but please consider using a smaller image to avoid performance problems.");
    EXPECT_EQ(alerts.shown[0].suppressionText, "Do not show this warning again.");
    EXPECT_EQ(shrunk.cue->sourceSize().width(), 16383);
    EXPECT_FALSE(shrunk.cue->isMissing());

    LoadedCue atLimit;
    atLimit.load(edge);
    EXPECT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(atLimit.cue->sourceSize(), QSizeF(16384, 16));

    // Ticking the box stores the suppression; no alert follows.
    alerts.tick = true;
    LoadedCue ticked;
    ticked.load(wide);
    EXPECT_EQ(alerts.shown.size(), 2u);
    EXPECT_TRUE(UserDefaults::standardUserDefaults().boolForKey(QStringLiteral("KavioSuppressionImageExceedsLimit")));
    LoadedCue quiet;
    quiet.load(wide);
    EXPECT_EQ(alerts.shown.size(), 2u);
    EXPECT_EQ(quiet.cue->sourceSize().width(), 16383);
}

TEST(KavioVideoItemLoading, HeicPicturesAreStills)
{
    QTemporaryDir dir;
    const QString png = savedImage(dir, QStringLiteral("source.png"), QSize(64, 48), QImage::Format_RGB32);
    const QString heic = dir.filePath(QStringLiteral("picture.HEIC"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("heif-enc"), {QStringLiteral("-o"), heic, png}), 0);
    LoadedCue loaded;
    loaded.load(heic);
    EXPECT_EQ(loaded.cue->mediaType(), KavioMediaTypeStill);
    EXPECT_FALSE(loaded.cue->isMissing());
    EXPECT_EQ(loaded.cue->sourceSize(), QSizeF(64, 48));
}

TEST(KavioVideoItemLoading, PdfPagesAreTwiceTheirPointSizeAndAPagePastTheEndShowsNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pages.pdf"));
    {
        QPdfWriter writer(path);
        writer.setPageSize(QPageSize(QPageSize::Letter));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&writer);
        writer.newPage();
    }
    LoadedCue loaded;
    loaded.load(path);
    auto& cue = *loaded.cue;
    EXPECT_TRUE(cue.isPDF());
    EXPECT_EQ(cue.pdfPageCount(), 2u);
    EXPECT_EQ(cue.sourceSize(), QSizeF(1224, 1584));
    EXPECT_EQ(cue.videoDimensions(), "1224 x 1584");
    EXPECT_TRUE(cue.hasAlpha());

    cue.setPdfPage(2);
    EXPECT_TRUE(cue.stillPixelBuffer());
    cue.setPdfPage(3);
    EXPECT_FALSE(cue.stillPixelBuffer());
    EXPECT_FALSE(cue.isMissing());
    EXPECT_EQ(cue.steps.count("generateThumbnail"), 2);

    // Asked for a page past the end from the start, the cue is missing.
    LoadedCue third;
    third.cue->setPdfPage(3);
    third.load(path);
    EXPECT_TRUE(third.cue->isMissing());
    EXPECT_EQ(third.cue->pdfPageCount(), 2u);
}

// --- Live cues ---------------------------------------------------------------------------------

TEST(KavioVideoItemLoading, LiveCuesTakeTheirKindsSettingsAndAreReady)
{
    const auto controller = std::make_shared<FakeKavioVideoItemManager>();
    controller->nonMovieDuration = 7.5f;
    const auto syphon = KavioVideoItem::initWithSyphon(QStringLiteral("App - Server"), controller);
    EXPECT_EQ(syphon->mediaType(), KavioMediaTypeSyphon);
    EXPECT_EQ(syphon->preferedTransform(), 10);
    EXPECT_TRUE(syphon->hasAlpha());
    EXPECT_TRUE(syphon->layerRendererSettings()->shouldFlip);
    EXPECT_FALSE(syphon->layerRendererSettings()->deinterlace);
    EXPECT_TRUE(syphon->isReady());
    EXPECT_FLOAT_EQ(syphon->durationOfNonMovies(), 7.5f);
    EXPECT_EQ(syphon->mediaPath(), "App - Server");

    const auto browser = KavioVideoItem::initWithBrowser(QStringLiteral("https://example.org"), controller);
    EXPECT_EQ(browser->sourceSize(), QSizeF(1920, 1080));
    EXPECT_TRUE(browser->hasAlpha());
    const auto window = KavioVideoItem::initWithWindow(QStringLiteral("Owner / Window"), controller);
    EXPECT_FALSE(window->hasAlpha());
    EXPECT_EQ(window->mediaType(), KavioMediaTypeWindow);

    controller->loadingProject = true;
    const auto ndi = KavioVideoItem::initWithNDI(QStringLiteral("Studio"), controller);
    EXPECT_FALSE(ndi->isReady());
    EXPECT_EQ(KavioVideoItem::initWithCamera(QStringLiteral("Cam"), controller)->mediaType(), KavioMediaTypeCamera);
}

}  // namespace
