// The channel-mapping grid driven as the operator uses it (keys, Tab, paste) under Xvfb, its
// record with damaged values, and the grid in the audio output settings on the null backend.

#include "Audio/KavioAudioChannelField.h"
#include "Audio/KavioAudioChannelsView.h"
#include "Audio/KavioAudioEngine.h"
#include "Audio/KavioAudioOutputManager.h"
#include "Audio/KavioAudioOutputPanel.h"
#include "Audio/KavioAudioStreamersManager.h"
#include "AudioTestEnvironments.h"
#include "AudioTestSupport.h"
#include "NullAudioBackend.h"
#include "UserDefaults.h"
#include "ViewsTestSupport.h"
#include "Views/KavioPopUpButton.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <algorithm>

using AudioTestSupport::PostCounter;

namespace {

const auto* environment = testing::AddGlobalTestEnvironment(new PrivateSettingsEnvironment);

const QString kChanged = KavioAudioChannelsView::kChannelMappingChanged;

// The columns of a field's light grey text or placeholder pixels, as drawn when not edited.
std::vector<int> inkColumns(QWidget* field) {
    const QImage image = field->grab().toImage();
    std::vector<int> columns;
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y) {
            const QColor c = ViewsTest::pixel(image, x, y);
            if (c.red() > 95 && std::abs(c.red() - c.green()) < 4 && std::abs(c.red() - c.blue()) < 4)
                columns.push_back(x);
        }
    return columns;
}

// Centred: the ink's middle within 3 pixels of the field's.
bool centred(QWidget* field) {
    const std::vector<int> ink = inkColumns(field);
    if (ink.empty()) return false;
    const auto [lo, hi] = std::minmax_element(ink.begin(), ink.end());
    return std::abs((*lo + *hi) / 2.0 - field->width() / 2.0) <= 3.0;
}

// A grid in a shown, active window, with a focusable neighbour to click away to.
class KavioAudioChannelsViewTest : public testing::Test {
protected:
    void SetUp() override {
        grid = new KavioAudioChannelsView(&window);
        grid->move(10, 10);
        window.resize(720, 80);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    KavioAudioChannelField* field(int i) const { return grid->channelFields().at(i); }
    // Starts an edit as a click does: the focus, then everything selected.
    void beginEditing(KavioAudioChannelField* f) {
        f->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(QTest::qWaitFor([&] { return f->hasFocus() && f->selectedText() == f->text(); }, 5000));
    }
    QStringList texts() const {
        QStringList t;
        for (KavioAudioChannelField* f : grid->channelFields()) t.append(f->text());
        return t;
    }

    QWidget window;
    KavioAudioChannelsView* grid = nullptr;
};

TEST_F(KavioAudioChannelsViewTest, RebuildsInDefaultRoutingWithinTheLimits) {
    struct Case {
        int count;
        int fields;
    };
    for (const Case& c : {Case{0, 0}, Case{-3, 0}, Case{4, 4}, Case{40, 16}}) {
        grid->rebuildChannelsViewWithCount(c.count);
        ASSERT_EQ(grid->channelFields().size(), c.fields) << c.count;
        EXPECT_EQ(grid->width(), 5 + 40 * c.fields) << c.count;
        QList<int> defaults;
        for (int i = 1; i <= c.fields; ++i) defaults.append(i);
        EXPECT_EQ(grid->channelMapping(), defaults) << c.count;
        EXPECT_EQ(grid->findChildren<QLabel*>().size(), c.fields) << "one label per field, the old ones gone";
        EXPECT_EQ(grid->height(), 42);
    }
}

TEST_F(KavioAudioChannelsViewTest, FieldsAndLabelsSitEveryFortyPointsInQtCoordinates) {
    grid->rebuildChannelsViewWithCount(3);
    EXPECT_EQ(grid->width(), 125);
    const QList<QLabel*> labels = grid->findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(field(i)->geometry(), QRect(5 + 40 * i, 0, 36, 22)) << i;
        EXPECT_EQ(labels[i]->geometry(), QRect(5 + 40 * i, 24, 36, 18)) << i;
        EXPECT_EQ(labels[i]->text(), QString::number(i + 1));
        EXPECT_TRUE(centred(field(i))) << i;
    }
}

TEST_F(KavioAudioChannelsViewTest, SettingsShowTheirEntriesAndOffForTheRest) {
    grid->rebuildChannelsViewWithSettings({2, 0, 1, -4, 65});
    EXPECT_EQ(texts(), (QStringList{"2", "", "1", "", ""}));
    EXPECT_EQ(grid->channelMapping(), (QList<int>{2, 0, 1, 0, 0}));
    EXPECT_EQ(field(1)->cell().placeholder(), "off");

    // The "off" in light grey, centred in the empty field.
    EXPECT_GT(inkColumns(field(1)).size(), 8u);
    EXPECT_TRUE(centred(field(1)));
}

TEST_F(KavioAudioChannelsViewTest, ReturnKeepsTheTypedNumberAndPostsOnce) {
    grid->rebuildChannelsViewWithCount(4);
    PostCounter posts({kChanged});
    void* object = nullptr;
    NotificationCenter::defaultCenter().addObserver(this, kChanged, nullptr,
                                                    [&](const Notification& n) { object = n.object; });
    beginEditing(field(1));
    EXPECT_EQ(field(1)->cachedValue(), "2");
    QTest::keyClicks(field(1), "3");
    EXPECT_EQ(posts.count(kChanged), 0) << "nothing while typing";
    QTest::keyClick(field(1), Qt::Key_Return);
    EXPECT_EQ(posts.count(kChanged), 1);
    EXPECT_EQ(object, grid);
    EXPECT_EQ(grid->channelMapping(), (QList<int>{1, 3, 3, 4}));
    EXPECT_FALSE(field(1)->hasFocus());
    EXPECT_EQ(QApplication::focusWidget(), nullptr) << "the window keeps no focused field";
    EXPECT_TRUE(field(1)->cachedValue().isNull());
    NotificationCenter::defaultCenter().removeObserver(this);
}

TEST_F(KavioAudioChannelsViewTest, EscapeBringsBackTheTextFromBeforeThisEdit) {
    grid->rebuildChannelsViewWithCount(2);
    // A confirmed edit first: Escape goes back to it, not to the text the grid was built with.
    beginEditing(field(0));
    QTest::keyClicks(field(0), "5");
    QTest::keyClick(field(0), Qt::Key_Return);
    beginEditing(field(0));
    QTest::keyClicks(field(0), "7");
    EXPECT_EQ(field(0)->text(), "7");
    QTest::keyClick(field(0), Qt::Key_Escape);
    EXPECT_EQ(field(0)->text(), "5");
    EXPECT_FALSE(field(0)->hasFocus());
    EXPECT_TRUE(field(0)->cachedValue().isNull());
    EXPECT_EQ(grid->channelMapping(), (QList<int>{5, 2}));

    // Emptied and confirmed: off, and the placeholder is back.
    beginEditing(field(1));
    QTest::keyClick(field(1), Qt::Key_Backspace);
    QTest::keyClick(field(1), Qt::Key_Return);
    EXPECT_EQ(grid->channelMapping(), (QList<int>{5, 0}));
    EXPECT_EQ(field(1)->cell().placeholder(), "off");
}

TEST_F(KavioAudioChannelsViewTest, RefusesWhatIsNotAChannelUpToTheMaximum) {
    grid->rebuildChannelsViewWithCount(4);
    ASSERT_EQ(grid->playerChannelCount(), 16u);
    for (const QString& typed : {QString("x"), QString("0"), QString("-"), QString(" ")}) {
        beginEditing(field(3));
        QTest::keyClicks(field(3), typed);
        EXPECT_EQ(field(3)->text(), "4") << typed.toStdString();
        QTest::keyClick(field(3), Qt::Key_Escape);
    }
    for (const QString& pasted : {QString("17"), QString("0"), QString("x"), QString("3.5"), QString("99999999999999999999")}) {
        beginEditing(field(3));
        QApplication::clipboard()->setText(pasted);
        field(3)->paste();
        EXPECT_EQ(field(3)->text(), "4") << pasted.toStdString();
        QTest::keyClick(field(3), Qt::Key_Escape);
    }
    // Each keystroke is checked: of "17" the 7 is refused.
    beginEditing(field(3));
    QTest::keyClicks(field(3), "17");
    EXPECT_EQ(field(3)->text(), "1");
    QTest::keyClicks(field(3), "6");
    EXPECT_EQ(field(3)->text(), "16");
    QTest::keyClick(field(3), Qt::Key_Return);
    EXPECT_EQ(grid->channelMapping().last(), 16);
}

TEST_F(KavioAudioChannelsViewTest, RecordsRoundTripAndTheirMaximumBindsTheFields) {
    grid->loadWithData({{"playerChannelCount", 8}, {"channelMapping", QVariantList{2, 0, 8}}});
    EXPECT_EQ(grid->playerChannelCount(), 8u);
    EXPECT_EQ(grid->channelMapping(), (QList<int>{2, 0, 8}));
    beginEditing(field(0));
    QTest::keyClicks(field(0), "9");
    EXPECT_EQ(field(0)->text(), "2") << "9 is above the record's maximum";
    QTest::keyClicks(field(0), "8");
    EXPECT_EQ(field(0)->text(), "8");
    QTest::keyClick(field(0), Qt::Key_Return);

    const QVariantMap saved = grid->saveData();
    EXPECT_EQ(saved.value("playerChannelCount").toInt(), 8);
    EXPECT_EQ(saved.value("channelMapping").toList(), (QVariantList{8, 0, 8}));
    KavioAudioChannelsView other;
    other.loadWithData(saved);
    EXPECT_EQ(other.saveData(), saved);

    // Missing keys keep what is there; an empty record does nothing.
    grid->loadWithData({{"playerChannelCount", 4}});
    EXPECT_EQ(grid->channelMapping(), (QList<int>{8, 0, 8}));
    grid->loadWithData({{"channelMapping", QVariantList{1}}});
    EXPECT_EQ(grid->playerChannelCount(), 4u);
    grid->loadWithData({});
    EXPECT_EQ(grid->channelMapping(), (QList<int>{1}));
}

TEST_F(KavioAudioChannelsViewTest, DamagedRecordsLoadWhatMakesSense) {
    struct Case {
        const char* what;
        QVariant count;
        uint64_t kept;
    };
    for (const Case& c : {Case{"zero", 0, 12}, Case{"negative", -3, 12}, Case{"text", "8", 12},
                          Case{"absurd", 1000000, 12}, Case{"NaN", std::nan(""), 12},
                          Case{"a whole double", 6.0, 6}}) {
        grid->setPlayerChannelCount(12);
        grid->loadWithData({{"playerChannelCount", c.count}});
        EXPECT_EQ(grid->playerChannelCount(), c.kept) << c.what;
    }

    const QVariantList odd = {"3", -2, true, QVariantList{1}, 4.0, 1e12, std::nan(""), 5};
    grid->setPlayerChannelCount(16);
    grid->loadWithData({{"channelMapping", odd}});
    EXPECT_EQ(grid->channelMapping(), (QList<int>{0, 0, 0, 0, 4, 0, 0, 5}));

    QVariantList huge;
    for (int i = 0; i < 100000; ++i) huge.append(1);
    grid->loadWithData({{"channelMapping", huge}});
    EXPECT_EQ(grid->channelFields().size(), 16) << "cut to the most channels the settings offer";

    grid->loadWithData({{"channelMapping", "1,2"}});
    EXPECT_EQ(grid->channelFields().size(), 16) << "a mapping that is not a list leaves the fields";
}

TEST_F(KavioAudioChannelsViewTest, TabWalksTheChannelsInOrderEndingEachEdit) {
    grid->rebuildChannelsViewWithCount(4);
    PostCounter posts({kChanged});
    beginEditing(field(0));
    for (int i = 1; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_TRUE(QTest::qWaitFor([&] { return field(i)->hasFocus(); }, 5000)) << i;
        EXPECT_EQ(posts.count(kChanged), i);
    }
}

TEST_F(KavioAudioChannelsViewTest, EditingSwitchesEveryFieldAndARebuildSwitchesItOn) {
    grid->rebuildChannelsViewWithCount(3);
    grid->disableEditing();
    for (KavioAudioChannelField* f : grid->channelFields()) EXPECT_FALSE(f->isEnabled());
    EXPECT_FALSE(grid->isEditingEnabled());
    grid->enableEditing();
    for (KavioAudioChannelField* f : grid->channelFields()) EXPECT_TRUE(f->isEnabled());
    grid->disableEditing();
    grid->rebuildChannelsViewWithCount(2);
    for (KavioAudioChannelField* f : grid->channelFields()) EXPECT_TRUE(f->isEnabled());

    // A rebuild in the middle of an edit drops it silently.
    PostCounter posts({kChanged});
    beginEditing(field(0));
    QTest::keyClicks(field(0), "9");
    grid->rebuildChannelsViewWithCount(2);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(posts.count(kChanged), 0);
    EXPECT_EQ(grid->channelMapping(), (QList<int>{1, 2}));
}

// --- In the audio output settings ------------------------------------------------------------

class GridInOutputSettingsTest : public testing::Test {
protected:
    void SetUp() override {
        for (const char* key : {"audioOutput", "audioChannels", "shouldUseStereoDownmix"})
            UserDefaults::standardUserDefaults().removeObjectForKey(key);
        backend = std::make_shared<NullAudioBackend>();
        backend->setDefaultOutputDevice(backend->addDevice("eight", "Eight Out", 0, 8));
        engine = std::make_unique<KavioAudioEngine>(backend);
        manager = std::make_unique<KavioAudioOutputManager>(*engine, streamers);
        manager->startManager();
    }
    void choose(KavioPopUpButton* popup, const QString& title) {
        const int index = popup->indexOfItemWithTitle(title);
        ASSERT_GE(index, 0) << title.toStdString();
        popup->chooseItemAtIndex(index);
    }
    KavioAudioChannelsView* grid() const { return manager->panel()->channelsView(); }

    std::shared_ptr<NullAudioBackend> backend;
    std::unique_ptr<KavioAudioEngine> engine;
    KavioAudioStreamersManager streamers;
    std::unique_ptr<KavioAudioOutputManager> manager;
};

TEST_F(GridInOutputSettingsTest, AnEditAnnouncesTheRoutingOnceAndALoadUnderStereoStaysReadOnly) {
    choose(manager->panel()->audioChannelsPopup(), "8");
    ASSERT_EQ(grid()->channelFields().size(), 8);
    ASSERT_TRUE(grid()->isEditingEnabled());
    QWidget window;
    manager->panel()->setParent(&window);
    manager->panel()->show();
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    PostCounter posts({KavioAudioNotification::RoutingChanged});
    KavioAudioChannelField* third = grid()->channelFields()[2];
    third->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(QTest::qWaitFor([&] { return third->selectedText() == "3"; }, 5000));
    QTest::keyClick(third, Qt::Key_Backspace);
    QTest::keyClick(third, Qt::Key_Return);
    EXPECT_EQ(posts.count(KavioAudioNotification::RoutingChanged), 1);
    EXPECT_EQ(manager->outputChannelMapping(), (QList<int>{1, 2, 0, 4, 5, 6, 7, 8}));
    const QVariantMap eight = manager->saveData();
    EXPECT_EQ(eight.value("audioChannelsView").toMap().value("channelMapping").toList(),
              (QVariantList{1, 2, 0, 4, 5, 6, 7, 8}));

    // The record of a stereo project: its grid loads, and stays read-only under the down-mix.
    choose(manager->panel()->audioChannelsPopup(), KavioAudioOutputPanel::kStereo);
    QVariantMap stereo = manager->saveData();
    stereo["audioChannelsView"] = QVariantMap{{"playerChannelCount", 2}, {"channelMapping", QVariantList{2, 1}}};
    manager->loadWithData(stereo);
    EXPECT_EQ(manager->outputChannelMapping(), (QList<int>{2, 1}));
    EXPECT_FALSE(grid()->isEditingEnabled());
    for (KavioAudioChannelField* f : grid()->channelFields()) EXPECT_FALSE(f->isEnabled());

    // Back to the eight-channel project: editable again, its routing back.
    manager->loadWithData(eight);
    EXPECT_TRUE(grid()->isEditingEnabled());
    EXPECT_EQ(manager->outputChannelMapping(), (QList<int>{1, 2, 0, 4, 5, 6, 7, 8}));
    manager->panel()->setParent(nullptr);
}

TEST_F(GridInOutputSettingsTest, Screenshots) {
    choose(manager->panel()->audioChannelsPopup(), "8");
    grid()->rebuildChannelsViewWithSettings({1, 2, 0, 4, 5, 6, 8, 7});
    QWidget window;
    ViewsTest::darkPanel(window);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(manager->panel());
    manager->panel()->show();
    window.resize(560, 420);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ViewsTest::saveScreenshot(window, QStringLiteral("audio-settings-8-channels"));

    choose(manager->panel()->audioChannelsPopup(), KavioAudioOutputPanel::kStereo);
    ASSERT_FALSE(grid()->isEditingEnabled());
    ViewsTest::saveScreenshot(window, QStringLiteral("audio-settings-stereo"));
    layout->removeWidget(manager->panel());
    manager->panel()->setParent(nullptr);
}

}  // namespace
