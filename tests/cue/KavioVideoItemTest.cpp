// The cue's defaults, identity, cue ID and name handling, titles and atomic properties.

#include "CueTestSupport.h"

#include "DispatchQueue.h"
#include "UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace {

// The cue reads the user defaults when it is made: keep the tests off the real settings file.
const bool kPrivateConfigHome = [] {
    static QTemporaryDir dir;
    setenv("XDG_CONFIG_HOME", dir.path().toUtf8().constData(), 1);
    return true;
}();

TEST(KavioVideoItemDefaults, GeneralInitSetsTheDocumentedDefaults)
{
    RecordingOSCOutput osc;
    KavioVideoItem cue(osc.sender());

    EXPECT_EQ(cue.loopCount(), 2147483647);
    EXPECT_EQ(cue.transitionType(), KavioTransitionTypeDissolve);
    EXPECT_DOUBLE_EQ(cue.transitionTime(), 2.0);
    EXPECT_FLOAT_EQ(cue.fadetime(), 1.0f);
    EXPECT_FLOAT_EQ(cue.durationOfNonMovies(), 2.0f);
    EXPECT_FLOAT_EQ(cue.cachedGoodDurationWhenMissing(), -1.0f);
    EXPECT_EQ(cue.playbackRateAsPercent(), 100);
    EXPECT_DOUBLE_EQ(cue.playbackRate(), 1.0);
    EXPECT_EQ(cue.bitDepthString(), "8");
    EXPECT_EQ(cue.selectedCaptionTrack(), -1);
    EXPECT_EQ(cue.pdfPage(), 1u);
    EXPECT_FLOAT_EQ(cue.pixelAspect(), 1.0f);
    EXPECT_FLOAT_EQ(cue.opacity(), 1.0f);
    EXPECT_FLOAT_EQ(cue.volume(), 1.0f);
    EXPECT_FLOAT_EQ(cue.fadeOpacity(), 1.0f);
    EXPECT_FLOAT_EQ(cue.audioFade(), 1.0f);
    for (float v : {cue.brightness(), cue.contrast(), cue.hue(), cue.saturation(), cue.vibrance(),
                    cue.geometryScaleH(), cue.geometryScaleV(), cue.geometryPosX(), cue.geometryPosY(),
                    cue.geometryRotate(), cue.geometryCrop().top, cue.geometryCrop().right,
                    cue.geometryCrop().bottom, cue.geometryCrop().left})
        EXPECT_EQ(v, 0.0f);
    EXPECT_TRUE(cue.geometryScaleLink());
    EXPECT_TRUE(cue.isUsingDefaultAudioChannels());
    EXPECT_TRUE(cue.isUsingDefaultFadeDuration());
    EXPECT_TRUE(cue.isUsingDefaultTransitionDuration());
    EXPECT_FALSE(cue.isLooping());
    EXPECT_FALSE(cue.hasTransition());
    EXPECT_EQ(cue.index(), 0u);
    EXPECT_TRUE(cue.cueID().isEmpty());
    EXPECT_TRUE(cue.uid().isNull());
    EXPECT_TRUE(MediaTime::isIdentical(cue.thumbTime(), MediaTime::make(1200, 600)));
    EXPECT_TRUE(cue.inTime() == MediaTime::zero());
    EXPECT_TRUE(cue.preloadedTime().isIndefinite());
    EXPECT_EQ(cue.pixelBufferQueue().label(), "com.dalvek.kavio.pixelbufferqueue");
    EXPECT_FALSE(cue.isProcessingOSCFeedbacks());
    EXPECT_FALSE(cue.opacityFeedbackShouldSkip());
    EXPECT_FALSE(cue.cropLeftFeedbackShouldSkip());

    ASSERT_NE(cue.cueNameMsg(), nullptr);
    const auto name = cue.cueNameMsg()->snapshot();
    EXPECT_EQ(name.address, "/kavio/0/cueName");
    ASSERT_EQ(name.values.size(), 1u);
    EXPECT_EQ(name.values[0].first, QVTOSCValueTypeString);
    EXPECT_EQ(name.values[0].second.toString(), "-");
}

TEST(KavioVideoItemDefaults, EachPreparedMessageHasItsAddressAndOneValueOfItsType)
{
    RecordingOSCOutput osc;
    KavioVideoItem cue(osc.sender());
    struct Row {
        const QVTOSCMessage* message;
        const char* address;
        int type;
    };
    const Row rows[] = {
        {cue.cueNameMsg(), "/kavio/0/cueName", QVTOSCValueTypeString},
        {cue.playbackSpeedMsg(), "/kavio/0/playbackSpeed", QVTOSCValueTypeInteger},
        {cue.volumeMsg(), "/kavio/0/volume", QVTOSCValueTypeFloat},
        {cue.opacityMsg(), "/kavio/0/opacity", QVTOSCValueTypeFloat},
        {cue.brightnessMsg(), "/kavio/0/brightness", QVTOSCValueTypeFloat},
        {cue.contrastMsg(), "/kavio/0/contrast", QVTOSCValueTypeFloat},
        {cue.hueMsg(), "/kavio/0/hue", QVTOSCValueTypeFloat},
        {cue.saturationMsg(), "/kavio/0/saturation", QVTOSCValueTypeFloat},
        {cue.vibranceMsg(), "/kavio/0/vibrance", QVTOSCValueTypeFloat},
        {cue.scaleMsg(), "/kavio/0/scale", QVTOSCValueTypeFloat},
        {cue.scaleHMsg(), "/kavio/0/scaleH", QVTOSCValueTypeFloat},
        {cue.scaleVMsg(), "/kavio/0/scaleV", QVTOSCValueTypeFloat},
        {cue.rotateMsg(), "/kavio/0/rotate", QVTOSCValueTypeFloat},
        {cue.posXMsg(), "/kavio/0/posX", QVTOSCValueTypeFloat},
        {cue.posYMsg(), "/kavio/0/posY", QVTOSCValueTypeFloat},
        {cue.cropTopMsg(), "/kavio/0/cropTop", QVTOSCValueTypeFloat},
        {cue.cropRightMsg(), "/kavio/0/cropRight", QVTOSCValueTypeFloat},
        {cue.cropBottomMsg(), "/kavio/0/cropBottom", QVTOSCValueTypeFloat},
        {cue.cropLeftMsg(), "/kavio/0/cropLeft", QVTOSCValueTypeFloat},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.address);
        ASSERT_NE(row.message, nullptr);
        const auto s = row.message->snapshot();
        EXPECT_EQ(s.address, row.address);
        ASSERT_EQ(s.values.size(), 1u);
        EXPECT_EQ(s.values[0].first, row.type);
    }
    EXPECT_EQ(cue.playbackSpeedMsg()->snapshot().values[0].second.toInt(), 100);
}

TEST(KavioVideoItemDefaults, CreationSendsTheNeutralValuesOnceAtIndexZero)
{
    RecordingOSCOutput osc;
    KavioVideoItem cue(osc.sender());
    // The crop starts where the setter finds it, so it sends nothing; both linked scales send
    // the shared scale address.
    const QStringList expected{"/kavio/0/volume",     "/kavio/0/opacity", "/kavio/0/brightness",
                               "/kavio/0/contrast",   "/kavio/0/hue",     "/kavio/0/saturation",
                               "/kavio/0/vibrance",   "/kavio/0/scale",   "/kavio/0/scale",
                               "/kavio/0/posX",       "/kavio/0/posY",    "/kavio/0/rotate"};
    EXPECT_EQ(osc.addresses(), expected);
}

TEST(KavioVideoItemDefaults, AudioNormalisationFollowsTheUserDefault)
{
    auto& defaults = UserDefaults::standardUserDefaults();
    RecordingOSCOutput osc;
    defaults.setBool(true, QStringLiteral("audioVolumeNormalization"));
    EXPECT_TRUE(KavioVideoItem(osc.sender()).shouldsetvolumetorms());
    defaults.removeObjectForKey(QStringLiteral("audioVolumeNormalization"));
    EXPECT_FALSE(KavioVideoItem(osc.sender()).shouldsetvolumetorms());
}

TEST(KavioVideoItemIdentity, FileBasedExactlyForMovieStillAndAudio)
{
    const std::pair<int, bool> cases[] = {
        {KavioMediaTypeMovie, true},   {KavioMediaTypeCamera, false}, {KavioMediaTypeSyphon, false},
        {KavioMediaTypeNDI, false},    {KavioMediaTypeStill, true},   {KavioMediaTypeBrowser, false},
        {KavioMediaTypeWindow, false}, {KavioMediaTypeAudio, true},
    };
    RecordingOSCOutput osc;
    KavioVideoItem cue(osc.sender());
    for (const auto& [type, fileBased] : cases) {
        cue.setMediaType(type);
        EXPECT_EQ(cue.isFileBased(), fileBased) << "media type " << type;
    }
}

TEST(KavioVideoItemIdentity, CueIDIsUpperCasedAndRebuildsTheAddressSpaceOnEveryCall)
{
    CueUnderTest t(3);
    t.cue->setCueID("a1b");
    EXPECT_EQ(t.cue->cueID(), "A1B");
    EXPECT_EQ(t.cue->cueIDForOSC(), "A1B");
    t.cue->setCueID("A1B");
    EXPECT_EQ(t.cue->rebuilds, (QStringList{"A1B", "A1B"}));
    EXPECT_EQ(t.cue->oscAddressIdentifier(), "A1B");

    t.cue->setCueID("");
    EXPECT_EQ(t.cue->cueIDForOSC(), "3");
    EXPECT_EQ(t.cue->rebuilds.last(), "3");
    EXPECT_EQ(t.cue->oscAddressIdentifier(), "3");
}

TEST(KavioVideoItemIdentity, IndexRebuildsOnlyWhenItChangesAndTheCueHasNoCueID)
{
    CueUnderTest t(3);
    t.cue->setIndex(3);
    EXPECT_TRUE(t.cue->rebuilds.isEmpty());
    t.cue->setIndex(12);
    EXPECT_EQ(t.cue->rebuilds, QStringList{"12"});
    EXPECT_EQ(t.cue->cueIDForOSC(), "12");

    t.cue->setCueID("Q");
    t.cue->rebuilds.clear();
    t.cue->setIndex(13);
    EXPECT_TRUE(t.cue->rebuilds.isEmpty());
    EXPECT_EQ(t.cue->cueIDForOSC(), "Q");
}

TEST(KavioVideoItemIdentity, CueNameIsSentOnlyWhenNameOrAddressChanged)
{
    CueUnderTest t(3);
    t.cue->setCueName("Intro");
    ASSERT_EQ(t.osc.sent.size(), 1u);
    EXPECT_EQ(t.osc.sent[0].address, "/kavio/3/cueName");
    EXPECT_EQ(t.osc.sent[0].values[0].second.toString(), "Intro");

    t.cue->setCueName("Intro");
    EXPECT_EQ(t.osc.sent.size(), 1u);

    t.cue->setIndex(5);
    t.cue->setCueName("Intro");
    ASSERT_EQ(t.osc.sent.size(), 2u);
    EXPECT_EQ(t.osc.sent[1].address, "/kavio/5/cueName");
}

TEST(KavioVideoItemIdentity, NoNameFeedbackWhileAProjectLoads)
{
    CueUnderTest t(3);
    t.controller->loadingProject = true;
    t.cue->setCueName("Intro");
    t.cue->sendCueNameOSCFeedback();
    EXPECT_TRUE(t.osc.sent.empty());
    EXPECT_EQ(t.cue->cueName(), "Intro");

    t.controller->loadingProject = false;
    t.cue->setCueName("Intro");
    EXPECT_EQ(t.osc.addresses(), QStringList{"/kavio/3/cueName"});
}

TEST(KavioVideoItemIdentity, TitleRules)
{
    struct Case {
        int type;
        const char* path;
        const char* displayTitle;
        const char* title;
        const char* defaultTitle;
    };
    const Case cases[] = {
        {KavioMediaTypeAudio, "/shows/sound/applause.wav", "", "applause.wav", "applause.wav"},
        {KavioMediaTypeMovie, "/shows/clip.mov", "", "clip.mov", "clip.mov"},
        {KavioMediaTypeStill, "/shows/slide.png", "Opening", "Opening", "slide.png"},
        {KavioMediaTypeBrowser, "https://example.org/a/b.html", "", "https://example.org/a/b.html",
         "https://example.org/a/b.html"},
        {KavioMediaTypeNDI, "HOST (Cam 1)", "", "HOST (Cam 1)", "HOST (Cam 1)"},
    };
    RecordingOSCOutput osc;
    KavioVideoItem cue(osc.sender());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        cue.setMediaType(c.type);
        cue.setMediaPath(c.path);
        cue.setDisplayTitle(c.displayTitle);
        EXPECT_EQ(cue.title(), c.title);
        EXPECT_EQ(cue.defaultTitle(), c.defaultTitle);
    }
}

TEST(KavioVideoItemIdentity, TitleFollowsASymbolicLinkAndIsEmptyWhenItDangles)
{
    QTemporaryDir dir;
    const QString target = dir.filePath("real-name.mov");
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(QFile::link(target, dir.filePath("link.mov")));
    ASSERT_TRUE(QFile::link(dir.filePath("gone.mov"), dir.filePath("dangling.mov")));

    RecordingOSCOutput osc;
    KavioVideoItem cue(osc.sender());
    cue.setMediaType(KavioMediaTypeMovie);
    cue.setMediaPath(dir.filePath("link.mov"));
    EXPECT_EQ(cue.title(), "real-name.mov");
    cue.setMediaPath(dir.filePath("dangling.mov"));
    EXPECT_EQ(cue.title(), "");
    EXPECT_EQ(KavioVideoItem::resolvedPathForPath(target), target);
}

TEST(KavioVideoItemProperties, MediaTimesAreNeverReadTorn)
{
    RecordingOSCOutput osc;
    KavioVideoItem cue(osc.sender());
    const MediaTime a(1, 600, MediaTime::kValid, 0);
    const MediaTime b(-7777777777LL, 90000, MediaTime::kValid | MediaTime::kHasBeenRounded, 3);
    cue.setInTime(a);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 200000; ++i)
            cue.setInTime(i % 2 ? a : b);
        done = true;
    });
    int torn = 0;
    while (!done) {
        const MediaTime t = cue.inTime();
        if (!MediaTime::isIdentical(t, a) && !MediaTime::isIdentical(t, b))
            ++torn;
    }
    writer.join();
    EXPECT_EQ(torn, 0);
}

}  // namespace
