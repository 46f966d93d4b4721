// The cue's context actions with the real clipboard, "Make Seamless Loop", and the release of
// everything a cue holds.

#include "CueTestSupport.h"
#include "MediaFixtures.h"

#include "DispatchQueue.h"
#include "NotificationCenter.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <gtest/gtest.h>

namespace {

class ListController : public FakeKavioVideoItemManager {
public:
    void cutSelectedItems() override { calls << "cut"; }
    void copySelectedItems() override { calls << "copy"; }
    void pasteSelectedItems() override { calls << "paste"; }
    void duplicateSelectedItems() override { calls << "duplicate"; }
    bool removeSelectedItems() override
    {
        calls << "delete";
        return true;
    }
    std::vector<KavioVideoItem*> clones;
    void makeSeamlessLoopOfItem(const std::shared_ptr<KavioVideoItem>& item) override
    {
        // The cue is prepared before the clone is made.
        calls << QStringLiteral("clone loop=%1 pauses=%2%3 goto=%4 transition=%5")
                     .arg(item->isLooping())
                     .arg(item->shouldStopAtBeginning())
                     .arg(item->shouldStopAtEnd())
                     .arg(int(item->gotoButton().state))
                     .arg(item->hasTransition());
        clones.push_back(item.get());
    }
};

struct ListCue {
    RecordingOSCOutput osc;
    std::shared_ptr<ListController> controller = std::make_shared<ListController>();
    std::shared_ptr<KavioVideoItem> cue = std::make_shared<KavioVideoItem>(osc.sender());
    explicit ListCue(std::uint64_t index = 7)
    {
        cue->setManager(controller);
        cue->setMediaType(KavioMediaTypeStill);
        cue->setMediaPath(QStringLiteral("/shows/Opening Slide.png"));
        cue->setIndex(index);
        osc.clear();
    }
};

QStringList clipboardFormats()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data ? data->formats() : QStringList();
}

TEST(KavioVideoItemRelease, CopyNameAndCueIDPutOnlyPlainTextOnTheClipboard)
{
    struct Case {
        const char* title;
        const char* cueID;
        void (KavioVideoItem::*action)();
        const char* expected;
    };
    const Case cases[] = {
        {"", "", &KavioVideoItem::copyCueIDToClipboard, "7"},
        {"", "a12", &KavioVideoItem::copyCueIDToClipboard, "A12"},
        {"Intro", "", &KavioVideoItem::copyNameToClipboard, "Intro"},
        {"", "", &KavioVideoItem::copyNameToClipboard, "Opening Slide.png"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        ListCue t;
        t.cue->setDisplayTitle(QString::fromUtf8(c.title));
        t.cue->setCueID(QString::fromUtf8(c.cueID));
        auto* before = new QMimeData;
        before->setHtml(QStringLiteral("<b>old</b>"));
        before->setText(QStringLiteral("old"));
        QGuiApplication::clipboard()->setMimeData(before);
        ((*t.cue).*(c.action))();
        ASSERT_TRUE(DispatchQueue::runMainUntil(
            [&] { return QGuiApplication::clipboard()->text() == QString::fromUtf8(c.expected); }, 30.0));
        EXPECT_EQ(clipboardFormats(), QStringList{"text/plain"});
    }
}

TEST(KavioVideoItemRelease, ListActionsGoToTheControllerAndSeamlessLoopPreparesTheCueFirst)
{
    ListCue t;
    t.cue->cutSelf();
    t.cue->copySelf();
    t.cue->pasteSelf();
    t.cue->duplicateSelf();
    t.cue->deleteSelf();
    EXPECT_EQ(t.controller->calls, (QStringList{"cut", "copy", "paste", "duplicate", "delete"}));

    t.controller->calls.clear();
    t.cue->setLoopCount(3);
    t.cue->changeLoopToState(true);
    t.cue->changePauseAtEndToState(true);
    t.cue->makeSeamlessLoop();
    // Loop off, then the transition's own reports, then one clone of the prepared cue.
    EXPECT_EQ(t.controller->calls.mid(0, 2), (QStringList{"loopOn 7", "loopOff 7"}));
    EXPECT_EQ(t.controller->calls.last(), "clone loop=0 pauses=00 goto=0 transition=1");
    ASSERT_EQ(t.controller->clones.size(), 1u);
    EXPECT_EQ(t.controller->clones[0], t.cue.get());
}

TEST(KavioVideoItemRelease, RemovalSaysDeletedOnceAndLeavesNothingThatFires)
{
    ListCue t(4);
    t.cue->setCueName(QStringLiteral("Intro"));
    t.cue->setIsUsingDefaultFadeDuration(true);
    t.cue->setFadetime(1.0f);
    NotificationCenter::defaultCenter().addObserver(t.cue.get(), kKavioDefaultFadeDurationChangedNotification, nullptr,
                                                    [cue = t.cue.get()](const Notification& n) {
                                                        cue->changeDefaultFadeDuration(n);
                                                    });
    t.osc.clear();
    t.cue->removeResources();
    ASSERT_EQ(t.osc.sent.size(), 1u);
    EXPECT_EQ(t.osc.sent[0].address, "/kavio/4/deleted");
    ASSERT_FALSE(t.osc.sent[0].values.empty());
    EXPECT_EQ(t.osc.sent[0].values[0].second.toString(), "Intro");
    EXPECT_EQ(t.cue->manager(), nullptr);
    EXPECT_TRUE(t.cue->uid().isEmpty());
    EXPECT_FALSE(t.cue->isReady());

    // No observer fires and no feedback leaves, even for a late setter; a second release is safe.
    NotificationCenter::defaultCenter().post(kKavioDefaultFadeDurationChangedNotification, nullptr,
                                             {{kKavioDefaultFadeDurationKey, 3.0}});
    EXPECT_FLOAT_EQ(t.cue->fadetime(), 1.0f);
    t.cue->setVolume(0.5f);
    t.cue->removeResources();
    EXPECT_EQ(t.osc.sent.size(), 1u);
}

TEST(KavioVideoItemRelease, LoadedAndNeverLoadedMoviesReleaseTheirPlayers)
{
    RecordingOSCOutput osc;
    auto controller = std::make_shared<ListController>();
    auto loaded = std::make_shared<KavioVideoItem>(osc.sender());
    ASSERT_TRUE(loaded->initMovieCue(QString::fromStdString(MediaFixtures::path("counter25.mp4")), controller, {}));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return loaded->isReady(); }, 60.0));
    loaded->setIsLooping(true);
    loaded->setupLoopHelper();
    loaded->removeResources();
    EXPECT_EQ(loaded->videoPlayer(), nullptr);
    EXPECT_EQ(loaded->videoOutput(), nullptr);
    EXPECT_EQ(loaded->normalVideoPlayer(), nullptr);
    EXPECT_EQ(loaded->loopHelperVideoPlayer(), nullptr);
    EXPECT_EQ(loaded->pixelBufferCopy(), nullptr);
    // Completions of the released players find nothing to act on.
    DispatchQueue::runMainUntil([] { return false; }, 0.2);
    EXPECT_EQ(loaded->videoPlayer(), nullptr);

    auto missing = std::make_shared<KavioVideoItem>(osc.sender());
    ASSERT_TRUE(missing->initMovieCue(QStringLiteral("/nonexistent/gone.mov"), controller, {}));
    missing->removeResources();
    missing->removeResources();
    EXPECT_EQ(missing->videoPlayer(), nullptr);
}

}  // namespace
