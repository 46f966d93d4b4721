#include "InProcessMidiBackend.h"
#include "MidiTestSupport.h"

#include <gtest/gtest.h>

using namespace TonarilNotifications;
using Bytes = std::vector<std::uint8_t>;

namespace {

class ManagerTest : public testing::Test {
protected:
    void SetUp() override {
        backend = std::make_shared<InProcessMidiBackend>();
        alpha = backend->addSource("Alpha");
        beta = backend->addSource("beta");
        manager = QVTMIDIManager::createWithBackend(backend);
        ASSERT_TRUE(manager);
        recorder = std::make_unique<PostedRecorder>(*manager);
    }
    void TearDown() override {
        recorder.reset();
        manager.reset();
    }

    void start() {
        manager->startManagerWithName("Kavio");
        manager->createDefaultVirtualReceiver();
    }
    // Lets the announced set-up change run and waits for its notification.
    void settle(std::size_t setupChanges) {
        ASSERT_TRUE(PostedRecorder::waitFor([&] { return recorder->count(kSetupChanged) >= setupChanges; }));
    }
    static bool deliver(InProcessMidiBackend& backend, MidiEndpointRef endpoint, const std::vector<Bytes>& packets) {
        std::vector<MidiPacket> list;
        for (const Bytes& bytes : packets) list.push_back({42, bytes});
        return backend.deliver(endpoint, list);
    }

    std::shared_ptr<InProcessMidiBackend> backend;
    MidiEndpointRef alpha = 0, beta = 0;
    std::unique_ptr<QVTMIDIManager> manager;
    std::unique_ptr<PostedRecorder> recorder;
};

TEST_F(ManagerTest, StartBuildsTheListsAndPostsSetupChangedOnceBeforeReturning) {
    manager->startManagerWithName("Kavio");
    EXPECT_EQ(recorder->count(kSetupChanged), 1u);
    EXPECT_EQ(recorder->named(kSetupChanged)[0].object, nullptr);
    manager->createDefaultVirtualReceiver();

    EXPECT_EQ(manager->midiSourceNames(), (QStringList{"Alpha", "beta", "To Kavio"}));
    EXPECT_EQ(manager->sourceNodeNamed("alpha"), nullptr);
    auto virtualNode = manager->sourceNodeNamed("To Kavio");
    ASSERT_TRUE(virtualNode);
    EXPECT_EQ(virtualNode, manager->virtualReceiver());
    EXPECT_TRUE(virtualNode->isVirtual());
    EXPECT_EQ(virtualNode->inputPort(), 0u);
    EXPECT_NE(backend->ownDestinationNamed("To Kavio"), 0u);
}

TEST_F(ManagerTest, InputIsPostedWithTheReceivingNodeAsObject) {
    start();
    auto alphaNode = manager->sourceNodeNamed("Alpha");
    auto virtualNode = manager->virtualReceiver();
    ASSERT_TRUE(alphaNode && virtualNode);

    ASSERT_TRUE(deliver(*backend, alpha, {{0x93, 0x3C, 0x64}, {0xB5, 0x07, 0x7F}}));
    ASSERT_TRUE(deliver(*backend, backend->ownDestinationNamed("To Kavio"), {{0xF0, 0x7F, 0x7F, 0x06, 0x02, 0xF7}}));

    const auto posted = recorder->all();
    ASSERT_EQ(posted.size(), 4u);  // set-up change, note, control change, MMC play
    EXPECT_EQ(posted[1].name, kNoteReceived);
    EXPECT_EQ(posted[1].object, alphaNode.get());
    EXPECT_EQ(posted[1].userInfo.value("NOTE").toInt(), 60);
    EXPECT_EQ(posted[2].name, kCCReceived);
    EXPECT_EQ(posted[3].name, kMMCPlay);
    EXPECT_EQ(posted[3].object, virtualNode.get());
}

TEST_F(ManagerTest, ADisabledNodePostsAndGathersNothing) {
    start();
    auto node = manager->sourceNodeNamed("Alpha");
    deliver(*backend, alpha, {{0xF0, 0x7F, 0x7F, 0x06}});
    ASSERT_EQ(node->sysexBuffer().size(), 4u);

    node->setEnabled(false);
    deliver(*backend, alpha, {{0x90, 0x3C, 0x64}, {0x02, 0xF7}});
    EXPECT_EQ(recorder->count(kNoteReceived) + recorder->count(kMMCPlay), 0u);
    EXPECT_EQ(node->sysexBuffer().size(), 4u);
}

TEST_F(ManagerTest, SetupChangesAddAndReleaseNodesAndKeepEnabledFlags) {
    start();
    auto alphaNode = manager->sourceNodeNamed("Alpha");
    manager->sourceNodeNamed("beta")->setEnabled(false);

    backend->addSource("gamma");
    backend->removeEndpoint(alpha);
    settle(2);

    EXPECT_EQ(manager->midiSourceNames(), (QStringList{"beta", "gamma", "To Kavio"}));
    EXPECT_FALSE(manager->sourceNodeNamed("beta")->enabled());
    EXPECT_TRUE(manager->sourceNodeNamed("gamma")->enabled());
    EXPECT_EQ(manager->sourceNodeNamed("To Kavio"), manager->virtualReceiver());
    // The released node keeps nothing of the MIDI system and no longer hears its source.
    EXPECT_TRUE(alphaNode->nodeName().isNull());
    EXPECT_EQ(alphaNode->inputPort(), 0u);
    EXPECT_FALSE(alphaNode->enabled());
}

TEST_F(ManagerTest, TwoSourcesOfOneNameGetOneNodeForTheFirst) {
    const MidiEndpointRef second = backend->addSource("beta");
    start();
    ASSERT_EQ(manager->midiSources().size(), 3u);
    EXPECT_EQ(manager->sourceNodeNamed("beta")->midiEndpoint(), beta);
    EXPECT_FALSE(deliver(*backend, second, {{0x90, 0x3C, 0x64}}));
}

TEST_F(ManagerTest, ASourceThatCannotBeConnectedGetsNoNodeAndTheRefreshGoesOn) {
    backend->failConnectsTo(alpha, -5);
    start();
    EXPECT_EQ(manager->midiSourceNames(), (QStringList{"beta", "To Kavio"}));
    backend->failConnectsTo(alpha, kMidiNoError);
    manager->setupChanged();
    EXPECT_TRUE(manager->sourceNodeNamed("Alpha"));
}

TEST_F(ManagerTest, SourcesWithoutANameFallBackToTheDisplayNameOrAreLeftOut) {
    backend->addSource("", "Display Only");
    backend->addSource("", "");
    start();
    EXPECT_EQ(manager->midiSourceNames(), (QStringList{"Alpha", "beta", "Display Only", "To Kavio"}));
}

TEST_F(ManagerTest, SnapshotsCarryEnabledFlagsByName) {
    start();
    manager->sourceNodeNamed("Alpha")->setEnabled(false);
    const QVariantMap snapshot = manager->midiSourceSnapshot();
    EXPECT_EQ(snapshot, (QVariantMap{{"Alpha", false}, {"beta", true}, {"To Kavio", true}}));

    manager->loadSourceSnaphot({{"nobody", false}});
    EXPECT_EQ(manager->midiSourceSnapshot(), snapshot);
    manager->loadSourceSnaphot({{"Alpha", true}, {"beta", false}});
    EXPECT_EQ(manager->midiSourceSnapshot(), (QVariantMap{{"Alpha", true}, {"beta", false}, {"To Kavio", true}}));
}

TEST_F(ManagerTest, DestinationsGetSenderNodes) {
    backend->addDestination("Lights");
    start();
    EXPECT_EQ(manager->midiDestNames(), QStringList{"Lights"});
    auto node = manager->destinationNodeNamed("Lights");
    ASSERT_TRUE(node);
    EXPECT_NE(node->outputPort(), 0u);
    EXPECT_EQ(manager->midiDestsSnapshot(), (QVariantMap{{"Lights", true}}));
}

TEST_F(ManagerTest, StartedOffTheMainThreadRefreshesOnTheMainThreadAndPostsOnItsOwn) {
    std::atomic<bool> done{false};
    std::thread::id caller;
    std::thread starter([&] {
        caller = std::this_thread::get_id();
        manager->startManagerWithName("Kavio");
        done = true;
    });
    ASSERT_TRUE(PostedRecorder::waitFor([&] { return done.load(); }));
    starter.join();
    ASSERT_EQ(recorder->count(kSetupChanged), 1u);
    EXPECT_EQ(recorder->named(kSetupChanged)[0].thread, caller);
    EXPECT_EQ(manager->midiSourceNames(), (QStringList{"Alpha", "beta"}));
}

TEST_F(ManagerTest, ReplacingTheVirtualReceiverReleasesTheOldOne) {
    start();
    auto first = manager->virtualReceiver();
    manager->createVirtualReceiverWithName("To Kavio");
    auto second = manager->virtualReceiver();
    ASSERT_TRUE(second);
    EXPECT_NE(first, second);
    EXPECT_TRUE(first->nodeName().isNull());
    EXPECT_EQ(first->midiEndpoint(), 0u);
    manager->setupChanged();
    EXPECT_EQ(manager->midiSources().size(), 3u);
    EXPECT_EQ(manager->sourceNodeNamed("To Kavio"), second);
}

TEST_F(ManagerTest, TeardownReleasesEveryNode) {
    start();
    auto node = manager->sourceNodeNamed("Alpha");
    recorder.reset();
    manager.reset();
    EXPECT_EQ(node->inputPort(), 0u);
    EXPECT_EQ(backend->ownDestinationNamed("To Kavio"), 0u);
    EXPECT_FALSE(deliver(*backend, alpha, {{0x90, 0x3C, 0x64}}));
}

}  // namespace
