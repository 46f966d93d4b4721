// Bad input while the show plays: bursts of broken and unknown OSC on loopback, and a damaged
// project opened from the start-up window.

#include "EndToEndShow.h"

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "Shell/KavioRecentProjectsView.h"

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <random>
#include <thread>

namespace {

std::string word(std::mt19937& random, int length)
{
    std::string w;
    for (int i = 0; i < length; ++i)
        w.push_back(char('a' + random() % 26));
    return w;
}

// Bytes that are no OSC packet: noise, a message cut short, a bundle whose element overruns it.
std::vector<char> malformed(std::mt19937& random)
{
    std::vector<char> b;
    switch (random() % 3) {
    case 0:
        b.resize(1 + random() % 300);
        for (char& c : b)
            c = char(random());
        break;
    case 1:
        putOSCString(b, "/kavio/2/opacity");
        putOSCString(b, ",f");
        b.push_back(0x3f);  // three bytes of the float missing
        break;
    default:
        putOSCString(b, "#bundle");
        b.insert(b.end(), 8, 0);
        b.insert(b.end(), {0x7f, 0, 0, 0});  // an element far longer than the packet
        putOSCString(b, "/kavio/stop");
        break;
    }
    return b;
}

// A well-formed message no command answers: an unknown global or cue address with any
// argument, or a cue's setting given text that is no number.
std::vector<char> unknown(std::mt19937& random)
{
    std::vector<char> b;
    const int kind = int(random() % 3);
    if (kind == 0)
        putOSCString(b, "/kavio/" + word(random, 10));
    else if (kind == 1)
        putOSCString(b, "/kavio/" + std::to_string(1 + random() % 4) + "/" + word(random, 10));
    else
        putOSCString(b, "/kavio/" + std::to_string(1 + random() % 4) + "/opacity");
    if (kind == 2 || random() % 2) {
        putOSCString(b, ",s");
        putOSCString(b, word(random, 5));
    } else {
        putOSCString(b, ",i");
        const std::uint32_t value = random();
        for (int shift = 24; shift >= 0; shift -= 8)
            b.push_back(char((value >> shift) & 0xff));
    }
    return b;
}

}  // namespace

TEST(ShowBadInput, OSCBurstsAndADamagedProjectLeaveThePlayingShowAsItIs)
{
    EndToEndRun run;
    if (!run.available())
        GTEST_SKIP() << run.reason();
    const QString project = run.launchShow();
    if (HasFatalFailure())
        return;
    // The same show cut off after 60 % of its bytes.
    const QString damaged = run.env.dir.filePath("Damaged.kavio2");
    {
        QFile in(project), out(damaged);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
        const QByteArray bytes = in.readAll();
        out.write(bytes.left(bytes.size() * 6 / 10));
    }
    KavioVideoItemManager& controller = run.controller();
    const std::map<QString, QVariantMap> before = cueRecords(controller);

    const std::size_t beforeGo = run.go();
    if (HasFatalFailure())
        return;

    // 10,000 broken datagrams and 10,000 unknown messages from another thread, while the
    // program's own threads run the show.
    std::atomic<bool> sent{false};
    std::thread sender([&sent] {
        OSCSender osc;
        std::mt19937 random(40);
        for (int i = 0; i < 10000; ++i) {
            osc.send(malformed(random));
            osc.send(unknown(random));
        }
        sent = true;
    });
    ASSERT_TRUE(waitFor([&] { return sent.load(); }, 60));
    sender.join();

    // A damaged project chosen on the start-up window while the show plays.
    run.program().defaults->setArray(QVariantList{damaged}, QStringLiteral("recentProjects"));
    run.app().openStartupWindow();
    const bool playingWhenOpened = controller.isPlaying();
    QTest::mouseClick(run.app().outlets().recentViews[0], Qt::LeftButton);
    run.program().waitUntilLoaded();
    EXPECT_EQ(run.app().projectURL(), project);
    EXPECT_EQ(controller.isPlaying(), playingWhenOpened) << "the damaged file stopped the show";
    run.program().ui->startupWindow().close();

    ASSERT_TRUE(waitFor([&] { return !controller.isPlaying(); }, 60)) << "the show never ended";
    EXPECT_EQ(controller.currentItem(), run.cue(4)) << "the show did not reach its last cue";
    const std::vector<ShownFrame> all = run.output->frames();
    const std::vector<ShownFrame> frames(all.begin() + long(beforeGo), all.end());
    EXPECT_LE(paceSpread(frames, 0), kPaceSpreadFrames) << "A lost the clock's pace";
    EXPECT_LE(paceSpread(frames, 100), kPaceSpreadFrames) << "B lost the clock's pace";
    EXPECT_EQ(cueRecords(controller), before) << "the bad input changed a cue";
    EXPECT_FALSE(run.app().hasUnsavedChanges());

    // The input still takes what a valid message asks.
    run.osc.send("/kavio/3/opacity", 0.25f);
    EXPECT_TRUE(waitFor([&] { return run.cue(3)->opacity() == 0.25f; })) << "OSC stopped listening";
}
