// The cue level meter: bar layout by channel count, levels kept until the interface tick, the
// minimized look, the bar drawing read back from images, and live levels from a player on the
// shared engine over the null backend.

#include "Audio/KavioAudioEngine.h"
#include "Audio/KavioAudioPlayer.h"
#include "Audio/QVTAudioMeteringChannelView.h"
#include "Audio/QVTAudioMeteringView.h"
#include "AudioPlayerFakes.h"
#include "AudioTestSupport.h"
#include "CueAudioFakes.h"
#include "DispatchQueue.h"
#include "LavfiFiles.h"
#include "NotificationCenter.h"
#include "NullAudioBackend.h"
#include "ViewsTestSupport.h"
#include "Views/KavioVideoItemView.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using Bar = QVTAudioMeteringChannelView;
const QString kTick = QStringLiteral("KavioUpdateUI");

void tick() { NotificationCenter::defaultCenter().post(kTick); }

// Every pending event handled, so a repaint asked for has happened.
void settleEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

TEST(QVTAudioMeteringViewTest, BarsAreLaidOutByChannelCount) {
    struct Case {
        int channels;
        int left, width, gap;
    };
    QVTAudioMeteringView meter;
    meter.resize(120, 80);
    for (const Case& c : {Case{1, 45, 8, 3}, Case{2, 45, 8, 3}, Case{3, 22, 8, 3}, Case{5, 6, 8, 2}, Case{7, 2, 6, 2},
                          Case{11, 4, 4, 1}, Case{13, 0, 3, 1}}) {
        meter.initWithChannels(c.channels);
        EXPECT_EQ(meter.channels(), c.channels);
        ASSERT_EQ(meter.bars().size(), c.channels);
        for (int i = 0; i < c.channels; ++i) {
            EXPECT_EQ(meter.bars()[i]->geometry(), QRect(c.left + i * (c.width + c.gap), 0, c.width, 80))
                << c.channels << " channels, bar " << i;
            EXPECT_EQ(meter.bars()[i]->channelLevel(), -120.0f);
            EXPECT_FALSE(meter.bars()[i]->isMinimized());
        }
        EXPECT_EQ(meter.findChildren<Bar*>().size(), c.channels) << "the previous bars are gone";
    }
    meter.initWithChannels(2);
    EXPECT_EQ(meter.bars()[0]->x(), 45);
    EXPECT_EQ(meter.bars()[1]->x(), 56);

    meter.initWithChannels(0);
    EXPECT_TRUE(meter.bars().isEmpty());
    EXPECT_TRUE(meter.isObservingTick());
    meter.initWithChannels(-5);
    EXPECT_TRUE(meter.bars().isEmpty());
    meter.initWithChannels(1 << 30);
    EXPECT_EQ(meter.bars().size(), QVTAudioMeteringView::kMaxChannels);
}

TEST(QVTAudioMeteringViewTest, LevelsAreKeptWithinTheScaleAndOnlyForExistingBars) {
    QVTAudioMeteringView meter;
    meter.resize(100, 80);
    meter.initWithChannels(2);
    struct Case {
        float level;
        int channel;
        float bar0, bar1;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (const Case& c : {Case{-20, 0, -20, -120}, Case{-6, 1, -20, -6}, Case{3, 2, -20, -6}, Case{3, -1, -20, -6},
                          Case{nan, 0, -120, -6}, Case{inf, 1, -120, 120}, Case{-inf, 1, -120, -120},
                          Case{-500, 0, -120, -120}}) {
        meter.setLevelForChannel(c.level, c.channel);
        EXPECT_EQ(meter.bars()[0]->channelLevel(), c.bar0) << c.level << " on " << c.channel;
        EXPECT_EQ(meter.bars()[1]->channelLevel(), c.bar1) << c.level << " on " << c.channel;
    }
}

TEST(QVTAudioMeteringViewTest, RepaintsOnlyOnTheTickAlsoAfterARebuild) {
    QWidget window;
    auto* meter = new QVTAudioMeteringView(&window);
    meter->setGeometry(0, 0, 100, 80);
    meter->initWithChannels(2);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    settleEvents();

    for (int round = 0; round < 2; ++round) {
        ViewsTest::PaintCounter paints(meter->bars()[0]);
        meter->setLevelForChannel(-10, 0);
        settleEvents();
        EXPECT_EQ(paints.paints, 0) << "a level alone draws nothing";
        tick();
        ASSERT_TRUE(QTest::qWaitFor([&] { return paints.paints > 0; }, 30000)) << "round " << round;
        // The same again on a rebuilt meter: it still follows the tick.
        meter->initWithChannels(2);
        settleEvents();
    }
    delete meter;
    tick();  // nobody is left to answer
}

TEST(QVTAudioMeteringViewTest, ShrinkingBelowFiftyPointsMinimizesAndGrowingRestores) {
    QVTAudioMeteringView meter;
    meter.resize(100, 80);
    meter.initWithChannels(3);
    meter.show();  // a hidden widget hears of its new size only when shown
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&meter));
    struct Case {
        int height;
        bool minimized;
    };
    for (const Case& c : {Case{49, true}, Case{50, false}, Case{20, true}, Case{80, false}}) {
        meter.resize(100, c.height);
        for (Bar* bar : meter.bars()) {
            EXPECT_EQ(bar->isMinimized(), c.minimized) << c.height;
            EXPECT_EQ(bar->height(), c.height);
            EXPECT_EQ(bar->width(), 8);
        }
    }
    meter.resize(100, 30);
    meter.initWithChannels(2);
    EXPECT_TRUE(meter.bars()[0]->isMinimized()) << "built minimized on a short meter";
}

// --- Bar drawing ------------------------------------------------------------------------------

const QColor kZone1 = QColor::fromRgbF(0.192f, 0.4f, 0.27f);
const QColor kZone2 = QColor::fromRgbF(0.345f, 0.596f, 0.301f);
const QColor kZone3 = QColor::fromRgbF(0.917f, 0.764f, 0.317f);
const QColor kRed = QColor(Qt::red);

// A bar's filled heights and colours, bottom first, for a 100-point inner height.
struct Expected {
    double bottom, height;
    QColor color;
};

void expectFills(float level, bool minimized, const std::vector<Expected>& expected) {
    const QRectF inner(1, 1, 8, 100);
    const std::vector<Bar::Fill> fills = Bar::fillsForLevel(level, inner, minimized);
    ASSERT_EQ(fills.size(), expected.size()) << level;
    for (size_t i = 0; i < fills.size(); ++i) {
        // Qt's y grows downwards from the inner top at 1: a fill's bottom edge is 101 - its base.
        EXPECT_NEAR(101.0 - fills[i].rect.bottom(), expected[i].bottom, 1e-6) << level << " zone " << i + 1;
        EXPECT_NEAR(fills[i].rect.height(), expected[i].height, 1e-6) << level << " zone " << i + 1;
        EXPECT_EQ(fills[i].rect.left(), 1.0);
        EXPECT_EQ(fills[i].rect.width(), 8.0);
        EXPECT_TRUE(ViewsTest::near(fills[i].color, expected[i].color)) << level << " zone " << i + 1;
    }
}

TEST(QVTAudioMeteringChannelViewTest, ZonesFillByLevel) {
    expectFills(-48, false, {});
    expectFills(-120, false, {});
    expectFills(std::numeric_limits<float>::quiet_NaN(), false, {});
    expectFills(-39, false, {{0, 49.5 / 2, kZone1}});
    expectFills(-30, false, {{0, 49.5, kZone1}});
    expectFills(-24, false, {{0, 49.5, kZone1}, {50.5, 28.0 / 3, kZone2}});
    expectFills(-6, false, {{0, 49.5, kZone1}, {50.5, 28, kZone2}, {79.5, 10, kZone3}});
    expectFills(0, false, {{0, 49.5, kZone1}, {50.5, 28, kZone2}, {79.5, 20, kRed}});
    expectFills(1, false, {{0, 49.5, kRed}, {50.5, 28, kRed}, {79.5, 20, kRed}});
    expectFills(std::numeric_limits<float>::infinity(), false, {{0, 49.5, kRed}, {50.5, 28, kRed}, {79.5, 20, kRed}});
    // Minimized: shares 0.3, 0.4, 0.3 without the one-point gaps.
    expectFills(0, true, {{0, 30, kZone1}, {30, 40, kZone2}, {70, 30, kRed}});
    expectFills(-24, true, {{0, 30, kZone1}, {30, 40.0 / 3, kZone2}});
}

TEST(QVTAudioMeteringChannelViewTest, PaintedBarReadsBackAsItsZones) {
    Bar bar;
    bar.resize(10, 102);
    // The colour at a height above the inner bottom, in the bar's middle column.
    const auto at = [&](float level, double above) {
        bar.setChannelLevel(level);
        const QImage image = bar.grab().toImage();
        return ViewsTest::pixel(image, 5, int(101 - above - 0.5));
    };
    const QColor background = Bar::backgroundColor();
    EXPECT_TRUE(ViewsTest::near(at(-48, 5), background));
    EXPECT_TRUE(ViewsTest::near(at(-30, 45), kZone1));
    EXPECT_TRUE(ViewsTest::near(at(-30, 55), background));
    EXPECT_TRUE(ViewsTest::near(at(-24, 55), kZone2));
    EXPECT_TRUE(ViewsTest::near(at(-24, 65), background)) << "a third of zone 2 only";
    EXPECT_TRUE(ViewsTest::near(at(0, 10), kZone1));
    EXPECT_TRUE(ViewsTest::near(at(0, 70), kZone2));
    EXPECT_TRUE(ViewsTest::near(at(0, 95), kRed));
    EXPECT_TRUE(ViewsTest::near(at(1, 10), kRed));
    EXPECT_TRUE(ViewsTest::near(at(1, 70), kRed));
    EXPECT_TRUE(ViewsTest::near(ViewsTest::pixel(bar.grab().toImage(), 0, 50), background)) << "the 1-point border";
}

// --- Live levels --------------------------------------------------------------------------------

std::shared_ptr<NullAudioBackend> nullBackend;

class NullEngineEnvironment : public testing::Environment {
public:
    void SetUp() override {
        nullBackend = std::make_shared<NullAudioBackend>();
        nullBackend->setDefaultOutputDevice(nullBackend->addDevice("card", "Card", 0, 2));
        AudioBackend::setShared(nullBackend);
    }
    void TearDown() override { AudioBackend::setShared(nullptr); }
};
const auto* environment = testing::AddGlobalTestEnvironment(new NullEngineEnvironment);

// The engine's levels to the bars the way a row feeds them at each tick: the player's meters
// while it plays, the floor otherwise (a real cue's row follows below).
class RowFeed {
public:
    RowFeed(KavioAudioPlayer& player, KavioAudioMeterInterface& meter, int channels)
        : player_(player), meter_(meter), channels_(channels) {
        NotificationCenter::defaultCenter().addObserver(this, kTick, nullptr, [this](const Notification&) {
            player_.updateMeters();
            const std::vector<double> levels = player_.meterLevels();
            for (int c = 0; c < channels_; ++c)
                meter_.setLevelForChannel(player_.isPlaying() ? float(levels[size_t(c)]) : -120.0f, c);
        });
    }
    ~RowFeed() { NotificationCenter::defaultCenter().removeObserver(this); }

private:
    KavioAudioPlayer& player_;
    KavioAudioMeterInterface& meter_;
    int channels_;
};

TEST(QVTAudioMeteringLiveTest, TheTickCarriesTheEnginesLevelsToTheBars) {
    KavioAudioEngine& engine = KavioAudioEngine::sharedEngine();
    engine.setupProcessingFormatWithChannels(2, false);
    engine.startEngine();
    ASSERT_TRUE(engine.isRunning());
    auto cue = std::make_shared<FakeCue>();
    cue->settings->mapping = {1, 2};
    auto player = KavioAudioPlayer::initWithDeviceChannels(2, {1, 2}, 2, 0, cue, 48000);
    ASSERT_TRUE(player);
    player->setVolume(1.0f);
    player->play();
    ASSERT_TRUE(player->isPlaying());

    QVTAudioMeteringView meter;
    meter.resize(100, 80);
    meter.initWithChannels(2);
    RowFeed feed(*player, meter, 2);
    // A 440 Hz sine at amplitude 0.5 on source channel 1, silence on channel 2.
    player->scheduleBuffer(AudioTestSupport::makeBuffer(2, 4800, [](uint32_t c, uint32_t f) {
        return c == 0 ? 0.5f * float(std::sin(2 * M_PI * 440 * f / 48000.0)) : 0.0f;
    }));
    std::vector<std::vector<float>> planes;
    ASSERT_TRUE(nullBackend->renderCycle(4800, planes));
    EXPECT_GT(std::abs(planes[0][12]), 0.0f) << "the sine reached the output";

    EXPECT_EQ(meter.bars()[0]->channelLevel(), -120.0f) << "nothing before the tick";
    tick();
    const std::vector<double> engineLevels = engine.meteringDataOnBus(player->mixerBus(), 2);
    EXPECT_NEAR(engineLevels[0], 10 * std::log10(0.125), 0.1) << "a sine's mean power at half scale";
    EXPECT_FLOAT_EQ(meter.bars()[0]->channelLevel(), float(engineLevels[0]));
    EXPECT_EQ(meter.bars()[1]->channelLevel(), -120.0f);

    player->stop();
    tick();
    EXPECT_EQ(meter.bars()[0]->channelLevel(), -120.0f);
    EXPECT_EQ(meter.bars()[1]->channelLevel(), -120.0f);
    player->removeResources();
}

// A movie-less audio cue as the program makes it: its row gets the meter, hidden until the
// audio is set up, then built for the player's channels; the tick writes the playing player's
// levels into it, the floor once stopped. The null backend renders on demand, so the test pumps
// it until the level arrives.
TEST(QVTAudioMeteringLiveTest, ARealCuesRowShowsItsPlayersLevelsOnTheTick) {
    KavioAudioEngine& engine = KavioAudioEngine::sharedEngine();
    engine.setupProcessingFormatWithChannels(2, false);
    engine.startEngine();
    ASSERT_TRUE(engine.isRunning());
    const std::string path = LavfiFiles::made(
        "meter-leftonly.wav", "-f lavfi -i \"aevalsrc=0.5*sin(2*PI*440*t)|0:s=48000\" -t 30 -c:a pcm_s16le");
    auto controller = std::make_shared<AudioController>();
    controller->output->mapping = {1, 2};
    auto cue = makeAudioFileCue(controller, path);
    ASSERT_TRUE(cue->loadNib());
    KavioVideoItemView* row = cue->view();
    ASSERT_TRUE(row);
    auto* meter = qobject_cast<QVTAudioMeteringView*>(row->audioMeterWidget);
    ASSERT_TRUE(meter);
    EXPECT_EQ(cue->audioMeter(), meter);
    EXPECT_TRUE(meter->isHidden()) << "no audio yet";
    ViewsTest::darkPanel(*row);
    row->resize(420, KavioVideoItemView::kExpandedHeight);
    cue->layoutRow();
    row->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(row));
    const QRect nameBefore = row->nameField->geometry();

    cue->setupAudioWithFileURL(QString::fromStdString(path));
    const auto player = std::dynamic_pointer_cast<KavioAudioPlayer>(cue->audioPlayer());
    ASSERT_TRUE(player);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return meter->isVisible() && meter->channels() == 2; }, 30.0));
    // The bars end 4 points inside the row's right edge, the meter spans the row's height less
    // its margins, and the name makes room for the bars.
    EXPECT_EQ(meter->geometry(), QRect(420 - 4 - 64, 8, 64, 72));
    EXPECT_EQ(meter->mapTo(row, meter->bars()[1]->geometry().topRight()).x(), 420 - 4 - 1);
    EXPECT_FALSE(meter->bars()[0]->isMinimized());
    EXPECT_LT(row->nameField->geometry().right(), meter->mapTo(row, meter->bars()[0]->pos()).x());
    EXPECT_LT(row->nameField->width(), nameBefore.width());

    player->play();
    cue->setIsPlaying(true);
    std::vector<std::vector<float>> planes;
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] {
        nullBackend->renderCycle(4800, planes);
        tick();
        return meter->bars()[0]->channelLevel() > -20.0f;
    }, 30.0)) << "the tone's level reached the row";
    EXPECT_NEAR(meter->bars()[0]->channelLevel(), 10 * std::log10(0.125), 1.0) << "a sine's mean power at half scale";
    EXPECT_EQ(meter->bars()[1]->channelLevel(), -120.0f) << "the silent channel";
    settleEvents();
    ViewsTest::saveScreenshot(*row, QStringLiteral("cue-row-meter"));

    cue->collapse();
    EXPECT_TRUE(meter->bars()[0]->isMinimized());
    EXPECT_EQ(meter->height(), 22);
    cue->expand();
    EXPECT_FALSE(meter->bars()[0]->isMinimized());

    player->stop();
    cue->setIsPlaying(false);
    tick();
    EXPECT_EQ(meter->bars()[0]->channelLevel(), -120.0f);
    EXPECT_EQ(meter->bars()[1]->channelLevel(), -120.0f);

    // Missing media hides the meter and gives the name its width back.
    cue->setIsMissing(true);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return meter->isHidden(); }, 30.0));
    EXPECT_EQ(row->nameField->width(), nameBefore.width());

    player->removeResources();
    cue->setAudioPlayer(nullptr);
    delete row;
    EXPECT_EQ(cue->audioMeter(), nullptr) << "the cue lets go of a meter its row took with it";
    cue->updateAudioMeter();
}

// --- Screenshots --------------------------------------------------------------------------------

TEST(QVTAudioMeteringViewTest, Screenshots) {
    QWidget panel;
    ViewsTest::darkPanel(panel);
    auto* grid = new QGridLayout(&panel);
    const float levels[] = {-120, -50, -39, -30, -24, -15, -6, -2, 0, 1, -60, -27, -12, -3, -45, 3};
    int column = 0;
    for (int channels : {2, 8, 16}) {
        auto* title = new QLabel(QString::number(channels) + QStringLiteral(" channels, full and minimized"));
        title->setStyleSheet(QStringLiteral("color: #bbbbbb"));
        grid->addWidget(title, 0, column);
        for (int row = 1; row <= 2; ++row) {
            auto* meter = new QVTAudioMeteringView;
            meter->setFixedSize(100, row == 1 ? 80 : 30);
            meter->initWithChannels(channels);
            for (int c = 0; c < channels; ++c) meter->setLevelForChannel(levels[(c * 3 + channels) % 16], c);
            grid->addWidget(meter, row, column);
        }
        ++column;
    }
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    tick();
    settleEvents();
    ViewsTest::saveScreenshot(panel, QStringLiteral("level-meters"));
}

}  // namespace
