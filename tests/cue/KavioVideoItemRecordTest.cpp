// The cue record: writing, reading in stages through the keyed archive, older and damaged
// records, the clipboard summary and the sync-mode handlers.

#include "CueTestSupport.h"

#include "DispatchQueue.h"
#include "KeyedArchive.h"
#include "NotificationCenter.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <ostream>
#include <thread>

namespace {

QVariantMap throughArchive(const QVariantMap& record)
{
    QString error;
    const QByteArray bytes = KeyedArchive::archive(record, &error);
    EXPECT_FALSE(bytes.isEmpty()) << error.toStdString();
    const auto read = KeyedArchive::unarchiveDictionary(bytes, &error);
    EXPECT_TRUE(read.has_value()) << error.toStdString();
    return read.value_or(QVariantMap{});
}

// Every setting of the record away from its default.
void changeEverySetting(KavioVideoItem& cue)
{
    if (cue.isFileBased())
        cue.setBookmarkdata(QByteArray("bookmark\x01\x02", 10));
    cue.setDisplayTitle("Opening");
    cue.setHasCustomTitle(true);
    cue.loopButton().state = 1;
    cue.setIsLooping(true);
    cue.setLoopCount(3);
    cue.setCachedGoodDurationWhenMissing(12.5f);
    cue.setAutoAlignToDuration(10);
    cue.setIndex(4);
    cue.setUid("cue-uid");
    cue.setIsCollapsed(true);
    cue.setVolume(0.5f);
    cue.setOpacity(0.75f);
    cue.setBrightness(0.1f);
    cue.setContrast(0.2f);
    cue.setHue(0.3f);
    cue.setSaturation(-0.4f);
    cue.setVibrance(0.5f);
    cue.fadeInButton().state = 1;
    cue.fadeOutButton().state = 1;
    cue.setShouldStopAtBeginning(true);
    cue.setShouldStopAtEnd(true);
    cue.setHasTransition(true);
    cue.setTransitionType(KavioTransitionTypeWipeLeft);
    cue.setCueID("a1");
    cue.setCueNotes("notes");
    cue.setGotoItemUID("target-uid");
    cue.gotoButton().state = 1;
    cue.setFadetime(0.5f);
    cue.setIsUsingDefaultFadeDuration(false);
    cue.setTransitionTime(1.25);
    cue.setIsUsingDefaultTransitionDuration(false);
    cue.setInTime(MediaTime::make(300, 600));
    cue.setOutTime(MediaTime::make(150, 600));
    cue.setThumbTime(MediaTime::make(900, 600));
    cue.setIsUsingDefaultAudioChannels(false);
    cue.soundButton().state = 1;
    cue.setGeometryScaleMode(3);
    cue.setGeometryOrigin(2);
    cue.setGeometryScaleLink(false);
    cue.setGeometryScaleH(0.5f);
    cue.setGeometryScaleV(-0.25f);
    cue.setGeometryPosX(0.1f);
    cue.setGeometryPosY(-0.2f);
    cue.setGeometryRotate(45.0f);
    cue.setGeometryCrop({0.25f, 0.5f, 0.125f, 0.75f});
    cue.setColorTag(30);
    cue.setSelectedCaptionTrack(2);
    if (auto player = std::dynamic_pointer_cast<FakeAudioPlayer>(cue.audioPlayer())) {
        player->mapping = {2, 1, 0, 1};
        player->channels = 4;
    }
    if (auto source = std::dynamic_pointer_cast<FakeRecordedSource>(cue.browserSource()))
        source->data = {{"KavioBrowserSource_CustomCSS", "body {}"}};
    if (auto source = std::dynamic_pointer_cast<FakeRecordedSource>(cue.windowSource()))
        source->data = {{"showcursor", true}};
}

struct RoundTripCase {
    const char* name;
    int type;
    const char* path;
    bool isDeckLink;
};

void PrintTo(const RoundTripCase& c, std::ostream* os)
{
    *os << c.name;
}

// The keys whose values differ, for a readable failure.
QStringList differingKeys(const QVariantMap& a, const QVariantMap& b)
{
    QStringList keys;
    for (const QString& key : QSet<QString>(a.keyBegin(), a.keyEnd()) | QSet<QString>(b.keyBegin(), b.keyEnd()))
        if (a.value(key) != b.value(key) || a.contains(key) != b.contains(key))
            keys << key;
    keys.sort();
    return keys;
}

class KavioVideoItemRecordRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(KavioVideoItemRecordRoundTrip, EverySettingSurvivesTheArchive)
{
    const RoundTripCase& c = GetParam();
    RecordFixture fixture;
    auto target = fixture.makeCue(KavioMediaTypeMovie, "/show/target.mov");
    target->setUid("target-uid");
    target->setIndex(9);
    target->setCueID("t9");
    fixture.controller->items.push_back(target);

    auto original = fixture.makeCue(c.type, c.path);
    original->setIsDeckLinkDevice(c.isDeckLink);
    if (c.isDeckLink) {
        original->setDeviceUID("device-1");
        original->setDecklinkFormatString("1080p25");
    }
    if (original->isPDF())
        original->setPdfPage(3);
    changeEverySetting(*original);
    // The playback speed of file cues is read by their initialiser only.
    if (KavioVideoItem::isFileBasedMediaType(c.type))
        original->applyImportantDataToRestoreOnInit({{"playbackrate", qint64(150)}});

    const QVariantMap written = original->saveData();
    const auto restored = fixture.restore(throughArchive(written));

    EXPECT_EQ(differingKeys(restored->saveData(), written), QStringList{});
    EXPECT_EQ(restored->index(), 4u);
    EXPECT_EQ(restored->uid(), "cue-uid");
    EXPECT_EQ(restored->cueID(), "A1");
    EXPECT_EQ(restored->colorTag(), 30);
    EXPECT_FALSE(restored->colorTagButton().hidden);
    EXPECT_EQ(restored->gotoItemUID(), "target-uid");
    EXPECT_EQ(restored->gotoButton().state, 1);
    EXPECT_EQ(restored->gotoTargetButton().title, "T9");
    EXPECT_EQ(restored->loopButton().state, 1);
    EXPECT_TRUE(restored->isLooping());
    EXPECT_EQ(restored->pauseAtEndButton().state, 1);
    EXPECT_EQ(restored->transitionButton().state, 1);
    EXPECT_FALSE(restored->isUsingDefaultFadeDuration());
    EXPECT_FALSE(restored->isUsingDefaultTransitionDuration());
    EXPECT_EQ(restored->isUsingDefaultAudioChannels(), restored->audioPlayer() == nullptr);
    EXPECT_TRUE(restored->isCollapsed());
    EXPECT_FLOAT_EQ(restored->durationOfNonMovies(), 12.5f);
    EXPECT_TRUE(restored->cachedRestoreData().isEmpty());
    if (KavioVideoItem::isFileBasedMediaType(c.type)) {
        EXPECT_EQ(restored->playbackRateAsPercent(), 150);
    }
}

INSTANTIATE_TEST_SUITE_P(
    CueKinds, KavioVideoItemRecordRoundTrip,
    ::testing::Values(RoundTripCase{"Movie", KavioMediaTypeMovie, "/show/a.mov", false},
                      RoundTripCase{"Audio", KavioMediaTypeAudio, "/show/a.wav", false},
                      RoundTripCase{"PDFPage", KavioMediaTypeStill, "/show/a.pdf", false},
                      RoundTripCase{"Browser", KavioMediaTypeBrowser, "https://example.com/", false},
                      RoundTripCase{"Window", KavioMediaTypeWindow, "Editor / Main", false},
                      RoundTripCase{"DeckLinkCamera", KavioMediaTypeCamera, "DeckLink 1", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KavioVideoItemRecord, WritesTheFiftyFiveKeysWithTheirNumberKinds)
{
    struct Key {
        const char* key;
        int kind;
    };
    const Key keys[] = {
        {"mediaPath", QMetaType::QString},      {"bookmarkdata", QMetaType::QByteArray},
        {"displayTitle", QMetaType::QString},   {"isLooping", QMetaType::Bool},
        {"usesCustomTitleKey", QMetaType::Bool}, {"mediaType", QMetaType::Int},
        {"isDeckLink", QMetaType::Bool},        {"duration", QMetaType::Float},
        {"autoalignduration", QMetaType::Int},  {"index", QMetaType::ULongLong},
        {"uid", QMetaType::QString},            {"deviceUID", QMetaType::QString},
        {"collapsed", QMetaType::Bool},         {"volume", QMetaType::Float},
        {"opacity", QMetaType::Float},          {"brightness", QMetaType::Float},
        {"contrast", QMetaType::Float},         {"hue", QMetaType::Float},
        {"saturation", QMetaType::Float},       {"vibrance", QMetaType::Float},
        {"fadein", QMetaType::Bool},            {"fadeout", QMetaType::Bool},
        {"stopatbeginning", QMetaType::Bool},   {"stopatend", QMetaType::Bool},
        {"transition", QMetaType::Bool},        {"transitiontype", QMetaType::Int},
        {"cueid", QMetaType::QString},          {"cuenotes", QMetaType::QString},
        {"gotoitem", QMetaType::QString},       {"gotoitemstate", QMetaType::Bool},
        {"loopcount", QMetaType::Int},          {"fadetime", QMetaType::Float},
        {"transitiontime", QMetaType::Float},   {"deckLinkFormatString", QMetaType::QString},
        {"_intime", QMetaType::QByteArray},     {"_outtime", QMetaType::QByteArray},
        {"_thumbtime", QMetaType::QByteArray},  {"channelmap", QMetaType::QVariantList},
        {"maxchannels", QMetaType::Int},        {"soundbutton", QMetaType::Bool},
        {"geometryscalemode", QMetaType::Int},  {"geometryorigin", QMetaType::Int},
        {"geometryscaleh", QMetaType::Float},   {"geometryscaley", QMetaType::Float},
        {"geometryscalelink", QMetaType::Float}, {"geometryscaleposx", QMetaType::Float},
        {"geometryscaleposy", QMetaType::Float}, {"geometryrotate", QMetaType::Float},
        {"geometrycrop", QMetaType::QByteArray}, {"pdfpage", QMetaType::LongLong},
        {"ColorTag", QMetaType::Int},           {"browsersource", QMetaType::QVariantMap},
        {"windowsource", QMetaType::QVariantMap}, {"subtitletrack", QMetaType::Int},
        {"playbackrate", QMetaType::LongLong},
    };
    ASSERT_EQ(std::size(keys), 55u);

    // No one cue carries every key: some belong to one media type.
    RecordFixture fixture;
    QVariantMap all;
    for (const auto& [type, path] : {std::pair{int(KavioMediaTypeMovie), "/m.mov"}, {int(KavioMediaTypeStill), "/p.pdf"},
                                     {int(KavioMediaTypeBrowser), "https://x/"}, {int(KavioMediaTypeWindow), "W"},
                                     {int(KavioMediaTypeCamera), "DeckLink"}}) {
        auto cue = fixture.makeCue(type, path);
        cue->setIsDeckLinkDevice(type == KavioMediaTypeCamera);
        cue->setDeviceUID("d");
        cue->setDecklinkFormatString("f");
        changeEverySetting(*cue);
        all.insert(cue->saveData());
    }
    EXPECT_EQ(all.size(), 55);
    for (const Key& k : keys) {
        SCOPED_TRACE(k.key);
        ASSERT_TRUE(all.contains(k.key));
        EXPECT_EQ(all.value(k.key).typeId(), k.kind);
    }
    for (const QVariant& channel : all.value("channelmap").toList())
        EXPECT_EQ(channel.typeId(), QMetaType::Int);
    EXPECT_EQ(all.value("geometryscalelink"), QVariant(0.0f));
    EXPECT_EQ(fixture.makeCue(KavioMediaTypeMovie, "/m.mov")->saveData().value("geometryscalelink"), QVariant(1.0f));
}

TEST(KavioVideoItemRecord, ConditionalKeysFollowTheirCues)
{
    RecordFixture fixture;
    const QVariantMap movie = fixture.makeCue(KavioMediaTypeMovie, "/a.mov")->saveData();
    EXPECT_TRUE(movie.contains("_intime"));
    EXPECT_TRUE(movie.contains("_outtime"));
    EXPECT_TRUE(movie.contains("subtitletrack"));
    EXPECT_TRUE(movie.contains("maxchannels"));
    EXPECT_FALSE(movie.contains("channelmap"));  // the cue follows the default channels
    for (int type : {int(KavioMediaTypeStill), int(KavioMediaTypeCamera), int(KavioMediaTypeBrowser)}) {
        const QVariantMap record = fixture.makeCue(type, "x")->saveData();
        EXPECT_FALSE(record.contains("_intime")) << type;
        EXPECT_FALSE(record.contains("_outtime")) << type;
        EXPECT_FALSE(record.contains("subtitletrack")) << type;
        EXPECT_FALSE(record.contains("pdfpage")) << type;
        EXPECT_FALSE(record.contains("deckLinkFormatString")) << type;
        EXPECT_FALSE(record.contains("bookmarkdata")) << type;
    }
    // A browser cue without its web-page source writes no source record.
    auto bare = fixture.makeCue(KavioMediaTypeBrowser, "https://x/");
    bare->setBrowserSource(nullptr);
    EXPECT_FALSE(bare->saveData().contains("browsersource"));
}

TEST(KavioVideoItemRecord, DefaultDurationsAreNotWrittenAndStayDefaultAfterReading)
{
    RecordFixture fixture;
    const QVariantMap written = fixture.makeCue(KavioMediaTypeMovie, "/a.mov")->saveData();
    EXPECT_FALSE(written.contains("fadetime"));
    EXPECT_FALSE(written.contains("transitiontime"));

    const auto restored = fixture.restore(throughArchive(written));
    EXPECT_TRUE(restored->isUsingDefaultFadeDuration());
    EXPECT_TRUE(restored->isUsingDefaultTransitionDuration());
    EXPECT_FLOAT_EQ(restored->fadetime(), 1.0f);
    EXPECT_DOUBLE_EQ(restored->transitionTime(), 2.0);
}

TEST(KavioVideoItemRecord, RawMediaTimesAndCropHaveTheirByteLayout)
{
    RecordFixture fixture;
    auto cue = fixture.makeCue(KavioMediaTypeMovie, "/a.mov");
    cue->setGeometryCrop({0.25f, 0.5f, 0.125f, 0.75f});
    const QVariantMap record = throughArchive(cue->saveData());

    // 1200/600, valid, epoch 0: value (int64), timescale (int32), flags (uint32), epoch (int64).
    const QByteArray thumb = QByteArray::fromHex("b004000000000000" "58020000" "01000000" "0000000000000000");
    EXPECT_EQ(record.value("_thumbtime").toByteArray().toHex(), thumb.toHex());
    // top, right, bottom, left as little-endian IEEE-754 singles.
    const QByteArray crop = QByteArray::fromHex("0000803e" "0000003f" "0000003e" "0000403f");
    EXPECT_EQ(record.value("geometrycrop").toByteArray().toHex(), crop.toHex());
    EXPECT_EQ(record.value("_intime").toByteArray().toHex(),
              QByteArray::fromHex("0000000000000000" "01000000" "01000000" "0000000000000000").toHex());
}

// Older records and the quirks files depend on.
TEST(KavioVideoItemRecord, OlderRecordsLoadAsTheyAlwaysDid)
{
    RecordFixture fixture;
    const auto load = [&](QVariantMap record, int type = KavioMediaTypeStill) {
        record.insert("mediaType", qint32(type));
        return fixture.restore(throughArchive(record));
    };

    EXPECT_EQ(load({{"geometryscalemode", 20}})->geometryScaleMode(), 2);
    EXPECT_EQ(load({{"geometryscalemode", 10}})->geometryScaleMode(), 1);
    EXPECT_EQ(load({{"geometryscalemode", 5}})->geometryScaleMode(), 5);
    EXPECT_EQ(load({{"cueid", "abcdefgh"}})->cueID(), "ABCDEF");

    // The single older scale sets both scales while linked; the newer keys win.
    const auto scaled = load({{"geometryscale", 0.5f}});
    EXPECT_FLOAT_EQ(scaled->geometryScaleH(), 0.5f);
    EXPECT_FLOAT_EQ(scaled->geometryScaleV(), 0.5f);
    const auto both = load({{"geometryscale", 0.5f}, {"geometryscaleh", 0.25f}});
    EXPECT_FLOAT_EQ(both->geometryScaleH(), 0.25f);
    EXPECT_FLOAT_EQ(both->geometryScaleV(), 0.5f);

    // Read without a presence test: absent adjustments and duration are 0.
    const auto bare = load({{"cuenotes", "x"}});
    EXPECT_FLOAT_EQ(bare->opacity(), 0.0f);
    EXPECT_FLOAT_EQ(bare->saturation(), 0.0f);
    EXPECT_FLOAT_EQ(bare->durationOfNonMovies(), 0.0f);
    EXPECT_FLOAT_EQ(bare->cachedGoodDurationWhenMissing(), 0.0f);
    EXPECT_FLOAT_EQ(bare->volume(), 1.0f);  // read only when present
    EXPECT_FALSE(bare->isCollapsed());

    // The last mapping entry plus 1 is the channel count of a record without one.
    const auto mapped = load({{"channelmap", QVariantList{1, 2, 0, 3}}}, KavioMediaTypeAudio);
    const auto player = std::dynamic_pointer_cast<FakeAudioPlayer>(mapped->audioPlayer());
    EXPECT_EQ(player->mapping, (QList<int>{1, 2, 0, 3}));
    EXPECT_EQ(player->channels, 4);
    EXPECT_FALSE(mapped->isUsingDefaultAudioChannels());

    // "geometryscalelink" is a float: any non-zero value links.
    EXPECT_FALSE(load({{"geometryscalelink", 0.0f}})->geometryScaleLink());
    EXPECT_TRUE(load({{"geometryscalelink", 0.5f}})->geometryScaleLink());

    // "_outtime" reaches any cue; "_intime" only through the file-cue initialiser.
    const QByteArray second = MediaTime::make(600, 600).toData();
    const auto live = load({{"_outtime", second}, {"_intime", second}}, KavioMediaTypeBrowser);
    EXPECT_TRUE(MediaTime::isIdentical(live->outTime(), MediaTime::make(600, 600)));
    EXPECT_TRUE(live->inTime() == MediaTime::zero());
}

TEST(KavioVideoItemRecord, AbsentPauseAtEndFollowsTheOldProjectFlag)
{
    struct Case {
        bool oldProject;
        QVariantMap record;
        bool expected;
    };
    const Case cases[] = {
        {false, {}, false},
        {true, {}, true},
        {true, {{"stopatend", false}}, false},
        {false, {{"stopatend", true}}, true},
    };
    for (const Case& c : cases) {
        RecordFixture fixture;
        fixture.controller->pauseAtEndBecauseOfOldProject = c.oldProject;
        QVariantMap record = c.record;
        record.insert("mediaType", qint32(KavioMediaTypeStill));
        const auto cue = fixture.restore(record);
        EXPECT_EQ(cue->shouldStopAtEnd(), c.expected) << c.oldProject << " " << c.record.size();
        EXPECT_EQ(cue->pauseAtEndButton().state, c.expected ? 1 : 0);
    }
}

TEST(KavioVideoItemRecord, StagesRunInOrderAndAMovieWaitsForItsMedia)
{
    RecordFixture fixture;
    int becameReady = 0;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        nullptr, kKavioItemBecameReadyNotification, nullptr, [&](const Notification&) { ++becameReady; });
    const QVariantMap record{{"mediaType", qint32(KavioMediaTypeMovie)}, {"volume", 0.25f}, {"fadein", true},
                             {"soundbutton", true}, {"subtitletrack", 1}, {"opacity", 0.5f}};

    auto movie = fixture.makeCue(KavioMediaTypeMovie, "/a.mov");
    movie->loadWithData(record);
    EXPECT_EQ(becameReady, 1);
    EXPECT_EQ(movie->steps, QStringList{"validateToggles"});
    EXPECT_EQ(movie->selectedCaptionTrack(), 1);
    EXPECT_FLOAT_EQ(movie->opacity(), 0.5f);
    EXPECT_FLOAT_EQ(movie->volume(), 1.0f);
    EXPECT_EQ(movie->fadeInButton().state, 0);
    EXPECT_EQ(movie->cachedRestoreData(), record);

    movie->applyCachedLoadData();
    EXPECT_FLOAT_EQ(movie->volume(), 0.25f);
    EXPECT_EQ(movie->fadeInButton().state, 1);
    EXPECT_EQ(movie->soundButton().state, 1);
    EXPECT_TRUE(movie->cachedRestoreData().isEmpty());
    EXPECT_EQ(movie->steps, (QStringList{"validateToggles", "volumeChanged"}));
    movie->applyCachedLoadData();  // nothing kept: nothing done
    EXPECT_EQ(movie->steps.size(), 2);

    // Other cues apply everything at once, and only movies take a caption track.
    QVariantMap stillRecord = record;
    stillRecord.insert("mediaType", qint32(KavioMediaTypeStill));
    auto still = fixture.makeCue(KavioMediaTypeStill, "/a.png");
    still->loadWithData(stillRecord);
    EXPECT_FLOAT_EQ(still->volume(), 0.25f);
    EXPECT_EQ(still->selectedCaptionTrack(), -1);
    EXPECT_EQ(still->steps, (QStringList{"validateToggles", "volumeChanged"}));
    EXPECT_EQ(becameReady, 2);

    still->loadWithData({});  // an empty record is no record
    EXPECT_EQ(becameReady, 2);
    NotificationCenter::defaultCenter().removeObserver(token);
}

// Saving a movie before its media is ready must not lose what it has yet to apply.
TEST(KavioVideoItemRecord, AMovieSavedBeforeItsMediaIsReadyWritesTheKeptSettings)
{
    RecordFixture fixture;
    const QVariantMap record{{"mediaType", qint32(KavioMediaTypeMovie)}, {"volume", 0.25f},
                             {"fadein", true}, {"fadeout", true}, {"soundbutton", true},
                             {"channelmap", QVariantList{qint64(2), qint64(1), qint64(0)}}};
    auto movie = fixture.makeCue(KavioMediaTypeMovie, "/a.mov");
    movie->loadWithData(throughArchive(record));
    ASSERT_FALSE(movie->cachedRestoreData().isEmpty());

    const QVariantMap saved = movie->saveData();
    EXPECT_EQ(saved.value("volume"), QVariant(0.25f));
    EXPECT_EQ(saved.value("fadein"), QVariant(true));
    EXPECT_EQ(saved.value("fadeout"), QVariant(true));
    EXPECT_EQ(saved.value("soundbutton"), QVariant(true));
    EXPECT_EQ(saved.value("channelmap"), QVariant(QVariantList{qint32(2), qint32(1), qint32(0)}));
    EXPECT_EQ(saved.value("maxchannels"), QVariant(qint32(1)));

    // Once applied, the cue's own values are written again.
    movie->applyCachedLoadData();
    movie->setVolume(0.5f);
    movie->fadeInButton().state = 0;
    const QVariantMap later = movie->saveData();
    EXPECT_EQ(later.value("volume"), QVariant(0.5f));
    EXPECT_EQ(later.value("fadein"), QVariant(false));
    EXPECT_EQ(later.value("channelmap"), QVariant(QVariantList{qint32(2), qint32(1), qint32(0)}));
}

TEST(KavioVideoItemRecord, TheInitialiserReadsTheBookmarkOnlyWhenTheFileIsGone)
{
    QTemporaryDir dir;
    const QString present = makeEmptyFile(dir, "present.mov");
    ASSERT_TRUE(QFile::exists(present));
    const QVariantMap record{{"bookmarkdata", QByteArray("mark")}, {"isLooping", true},
                             {"_intime", MediaTime::make(60, 600).toData()}, {"playbackrate", qint64(50)}};

    RecordFixture fixture;
    auto found = fixture.makeCue(KavioMediaTypeMovie, present);
    found->applyImportantDataToRestoreOnInit(record);
    EXPECT_TRUE(found->bookmarkdata().isEmpty());
    EXPECT_TRUE(found->isLooping());
    EXPECT_EQ(found->loopButton().state, 1);
    EXPECT_EQ(found->playbackRateAsPercent(), 50);
    EXPECT_TRUE(MediaTime::isIdentical(found->inTime(), MediaTime::make(60, 600)));

    auto moved = fixture.makeCue(KavioMediaTypeMovie, dir.filePath("moved.mov"));
    moved->applyImportantDataToRestoreOnInit(record);
    EXPECT_EQ(moved->bookmarkdata(), "mark");
}

// One damaged value per record: that key keeps the cue's value, the rest of the record loads.
TEST(KavioVideoItemRecord, ADamagedValueLosesOnlyItsOwnKey)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const QByteArray nanCrop = [&] {
        QByteArray bytes(16, '\0');
        std::memcpy(bytes.data(), &nan, sizeof nan);
        return bytes;
    }();
    struct Case {
        const char* key;
        QVariant value;
        std::function<bool(RecordingCue&)> keptItsValue;
    };
    const Case cases[] = {
        {"_thumbtime", QByteArray(23, '\0'), [](auto& c) { return MediaTime::isIdentical(c.thumbTime(), MediaTime::make(1200, 600)); }},
        {"_outtime", QByteArray(25, '\1'), [](auto& c) { return c.outTime() == MediaTime::zero(); }},
        {"_outtime", "00:00:01:00", [](auto& c) { return c.outTime() == MediaTime::zero(); }},
        {"geometrycrop", QByteArray(15, '\1'), [](auto& c) { return c.geometryCrop().top == 0.0f; }},
        {"geometrycrop", nanCrop, [](auto& c) { return c.geometryCrop().top == 0.0f; }},
        {"cueid", 12, [](auto& c) { return c.cueID().isEmpty(); }},
        {"displayTitle", 1.5, [](auto& c) { return c.displayTitle().isEmpty(); }},
        {"uid", 42, [](auto& c) { return c.uid() == "fresh-uid"; }},
        {"uid", "", [](auto& c) { return c.uid() == "fresh-uid"; }},
        {"gotoitem", QVariantList{}, [](auto& c) { return c.gotoItemUID().isEmpty(); }},
        {"loopcount", "three", [](auto& c) { return c.loopCount() == KavioLoopCountEndless; }},
        {"loopcount", -1, [](auto& c) { return c.loopCount() == KavioLoopCountEndless; }},
        {"loopcount", qint64(1) << 40, [](auto& c) { return c.loopCount() == KavioLoopCountEndless; }},
        {"index", 0, [](auto& c) { return c.index() == 7u; }},
        {"index", "5", [](auto& c) { return c.index() == 7u; }},
        {"index", -3, [](auto& c) { return c.index() == 7u; }},
        {"opacity", nan, [](auto& c) { return c.opacity() == 1.0f; }},
        {"opacity", "0.5", [](auto& c) { return c.opacity() == 1.0f; }},
        {"hue", std::numeric_limits<double>::infinity(), [](auto& c) { return c.hue() == 0.0f; }},
        {"volume", nan, [](auto& c) { return c.volume() == 1.0f; }},
        {"duration", "long", [](auto& c) { return c.durationOfNonMovies() == 2.0f; }},
        {"fadetime", nan, [](auto& c) { return c.isUsingDefaultFadeDuration() && c.fadetime() == 1.0f; }},
        {"transitiontime", -1.0f, [](auto& c) { return c.isUsingDefaultTransitionDuration(); }},
        {"pdfpage", 0, [](auto& c) { return c.pdfPage() == 1u; }},
        {"geometryscalelink", "no", [](auto& c) { return c.geometryScaleLink(); }},
        {"geometryscalemode", QByteArray("2"), [](auto& c) { return c.geometryScaleMode() == 0; }},
        {"stopatend", "YES", [](auto& c) { return !c.shouldStopAtEnd(); }},
        {"channelmap", "1,2", [](auto& c) { return c.isUsingDefaultAudioChannels(); }},
        {"channelmap", QVariantList{1, "x"}, [](auto& c) { return c.isUsingDefaultAudioChannels(); }},
        {"channelmap", QVariantList{}, [](auto& c) { return c.isUsingDefaultAudioChannels(); }},
        {"channelmap", QVariantList{1, 1025}, [](auto& c) { return c.isUsingDefaultAudioChannels(); }},
        {"fadein", "on", [](auto& c) { return c.fadeInButton().state == 0; }},
        {"ColorTag", 1.0e12, [](auto& c) { return c.colorTag() == 0; }},
    };
    RecordFixture fixture;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = " + c.value.toString().toStdString());
        QVariantMap record{{"mediaType", qint32(KavioMediaTypeAudio)}, {"cuenotes", "kept"}, {"ColorTag", 30},
                           {"opacity", 0.5f}, {"volume", 0.75f}, {"pdfpage", qint64(2)}};
        record.insert(c.key, c.value);
        const auto cue = fixture.restore(record);
        EXPECT_TRUE(c.keptItsValue(*cue));
        EXPECT_EQ(cue->cueNotes(), "kept");
        const std::string key = c.key;
        EXPECT_TRUE(key == "ColorTag" || cue->colorTag() == 30);
        EXPECT_TRUE(key == "opacity" || cue->opacity() == 0.5f);
        EXPECT_TRUE(key == "volume" || cue->volume() == 0.75f);
    }
}

// A channel number past what a device has once overflowed the computed channel count (the
// fallback was computed even beside "maxchannels"), and the cue handed -2147483648 channels to
// its player and saved them.
TEST(KavioVideoItemRecord, ChannelNumbersAndCountsStayWithinWhatADeviceHas)
{
    RecordFixture fixture;
    const struct {
        const char* what;
        QVariantMap record;
        QList<int> mapping;  // empty: the cue keeps its default channels
        int channels;
    } cases[] = {
        {"largest number, no count", {{"channelmap", QVariantList{qint64(2147483647)}}}, {}, 2},
        {"largest number beside a count", {{"channelmap", QVariantList{2147483647}}, {"maxchannels", 2}}, {}, 2},
        {"count too large", {{"channelmap", QVariantList{1, 2}}, {"maxchannels", 1 << 20}}, {1, 2}, 3},
        {"last entry at the bound", {{"channelmap", QVariantList{0, 1024}}}, {0, 1024}, 1024},
        {"more entries than a device has channels", {{"channelmap", QVariantList(1025, 1)}}, {}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QVariantMap record = c.record;
        record.insert("mediaType", qint32(KavioMediaTypeAudio));
        const auto cue = fixture.restore(throughArchive(record));
        const auto player = std::dynamic_pointer_cast<FakeAudioPlayer>(cue->audioPlayer());
        EXPECT_EQ(cue->isUsingDefaultAudioChannels(), c.mapping.isEmpty());
        EXPECT_EQ(player->mapping, c.mapping.isEmpty() ? (QList<int>{1, 2}) : c.mapping);
        EXPECT_EQ(player->channels, c.channels);
        const QVariant saved = cue->saveData().value("maxchannels");
        EXPECT_EQ(saved, QVariant(qint32(c.channels)));
    }
}

TEST(KavioVideoItemRecord, TheInitialiserSkipsDamagedValues)
{
    RecordFixture fixture;
    const QVariantMap cases[] = {
        {{"_intime", QByteArray(10, '\1')}},
        {{"playbackrate", 0}},
        {{"playbackrate", "fast"}},
        {{"isLooping", "yes"}},
        {{"bookmarkdata", "not data"}},
    };
    for (const QVariantMap& record : cases) {
        auto cue = fixture.makeCue(KavioMediaTypeMovie, "/nowhere/a.mov");
        cue->applyImportantDataToRestoreOnInit(record);
        EXPECT_TRUE(cue->inTime() == MediaTime::zero());
        EXPECT_EQ(cue->playbackRateAsPercent(), 100);
        EXPECT_FALSE(cue->isLooping());
        EXPECT_TRUE(cue->bookmarkdata().isEmpty());
    }
}

TEST(KavioVideoItemRecord, SharedCueDataNamesTheCueAndItsStart)
{
    RecordFixture fixture;
    fixture.controller->clockSeconds.insert("00:01:00:00", 60.0);
    struct Case {
        int type;
        const char* path;
        const char* customTitle;
        const char* name;
    };
    const Case cases[] = {
        {KavioMediaTypeAudio, "/show/music/Song.wav", nullptr, "Song.wav"},
        {KavioMediaTypeBrowser, "https://example.com/page", nullptr, "https://example.com/page"},
        {KavioMediaTypeMovie, "/show/a.mov", "Intro", "Intro"},
    };
    for (const Case& c : cases) {
        auto cue = fixture.makeCue(c.type, c.path);
        if (c.customTitle) {
            cue->setDisplayTitle(c.customTitle);
            cue->setHasCustomTitle(true);
        }
        cue->setOriginalItemStartSMPTETime("00:01:00:00");
        const QVariantMap summary = cue->sharedCueData();
        EXPECT_EQ(summary.value("name").toString(), c.name);
        EXPECT_EQ(summary.value("time").typeId(), QMetaType::Float);
        EXPECT_FLOAT_EQ(summary.value("time").toFloat(), 60.0f);
    }
}

TEST(KavioVideoItemSyncModes, FollowingTimecodeDisablesThePauseButtonsAndReturningRevalidates)
{
    RecordFixture fixture;
    auto cue = fixture.makeCue(KavioMediaTypeMovie, "/a.mov");
    cue->pauseAtBeginningButton().state = 1;
    cue->pauseAtEndButton().state = 1;
    cue->setShouldStopAtBeginning(true);
    cue->setShouldStopAtEnd(true);

    cue->handleSwitchToSlaveMode();
    for (KavioRowButton* button : {&cue->pauseAtBeginningButton(), &cue->pauseAtEndButton()}) {
        EXPECT_EQ(button->state, 0);
        EXPECT_FALSE(button->enabled);
    }
    EXPECT_TRUE(cue->shouldStopAtBeginning());
    EXPECT_TRUE(cue->shouldStopAtEnd());

    cue->handleSwitchToStandaloneMode();
    EXPECT_EQ(cue->steps, (QStringList{"validateToggles", "fillBuffers"}));
}

TEST(KavioVideoItemSyncModes, FromAnotherThreadTheWorkWaitsForTheMainThread)
{
    RecordFixture fixture;
    auto cue = fixture.makeCue(KavioMediaTypeMovie, "/a.mov");
    std::thread([&] { cue->handleSwitchToStandaloneMode(); }).join();
    EXPECT_TRUE(cue->steps.isEmpty());
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->steps.size() == 2; }, 5.0));

    // A cue dropped before the main thread runs the work is left alone.
    std::weak_ptr<RecordingCue> weak = cue;
    std::thread([&] { cue->handleSwitchToSlaveMode(); }).join();
    cue.reset();
    DispatchQueue::drainMain();
    EXPECT_TRUE(weak.expired());
}

}  // namespace
