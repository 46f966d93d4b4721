#include "InProcessMidiBackend.h"
#include "QVTMIDIManager.h"

#include <gtest/gtest.h>

using Bytes = std::vector<std::uint8_t>;

namespace {

class SenderTest : public testing::Test {
protected:
    void SetUp() override {
        backend = std::make_shared<InProcessMidiBackend>();
        destination = backend->addDestination("Recorder");
        manager = QVTMIDIManager::createWithBackend(backend);
        ASSERT_TRUE(manager);
        manager->startManagerWithName("Kavio");
        node = manager->destinationNodeNamed("Recorder");
        ASSERT_TRUE(node);
    }

    // The stamps of a block, as the node steps them from its first.
    static std::vector<MidiTimeStamp> steps(MidiTimeStamp first, int count) {
        std::vector<MidiTimeStamp> stamps;
        MidiTimeStamp t = first;
        for (int k = 0; k < count; ++k) {
            stamps.push_back(t);
            t = MidiTimeStamp(double(t) + QVTMIDISenderNode::kQuarterFrameStep);
        }
        return stamps;
    }
    static std::vector<MidiTimeStamp> stampsOf(const std::vector<InProcessMidiBackend::SentPacket>& sent,
                                               std::size_t from, std::size_t count) {
        std::vector<MidiTimeStamp> stamps;
        for (std::size_t i = from; i < from + count; ++i) stamps.push_back(sent[i].timeStamp);
        return stamps;
    }

    std::shared_ptr<InProcessMidiBackend> backend;
    MidiEndpointRef destination = 0;
    std::unique_ptr<QVTMIDIManager> manager;
    std::shared_ptr<QVTMIDISenderNode> node;
};

TEST_F(SenderTest, QuarterFrameBlocksFollowOnWithoutGaps) {
    const MidiTimeStamp before = midiHostTime();
    node->sendMTCQuarterWithSMPTETime("00:00:10:00");
    const MidiTimeStamp after = midiHostTime();

    auto sent = backend->sent();
    ASSERT_EQ(sent.size(), 8u);
    const std::vector<Bytes> expected = {{0xF1, 0x00}, {0xF1, 0x10}, {0xF1, 0x2A}, {0xF1, 0x30},
                                         {0xF1, 0x40}, {0xF1, 0x50}, {0xF1, 0x60}, {0xF1, 0x76}};
    for (std::size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(sent[k].bytes, expected[k]);
        EXPECT_EQ(sent[k].destination, destination);
    }
    const MidiTimeStamp first = sent[0].timeStamp;
    EXPECT_GE(first, before);
    EXPECT_LE(first, after);
    const auto stamps = steps(first, 16);
    EXPECT_EQ(stampsOf(sent, 0, 8), std::vector<MidiTimeStamp>(stamps.begin(), stamps.begin() + 8));
    EXPECT_EQ(node->lasttimesent(), 300);
    EXPECT_EQ(node->timestamp(), stamps[8]);

    node->sendMTCQuarterWithSMPTETime("00:00:10:01");  // within a frame: nothing
    EXPECT_EQ(backend->sent().size(), 8u);
    node->sendMTCQuarterWithSMPTETime("00:00:10:02");
    sent = backend->sent();
    ASSERT_EQ(sent.size(), 16u);
    EXPECT_EQ(stampsOf(sent, 8, 8), std::vector<MidiTimeStamp>(stamps.begin() + 8, stamps.end()));

    node->sendMTCQuarterWithSMPTETime("00:24:00:00");
    node->sendMTCQuarterWithSMPTETime("01:00:00:00");  // a jump of 64800 frames is sent
    EXPECT_EQ(backend->sent().size(), 32u);
    EXPECT_EQ(node->lasttimesent(), 108000);
}

TEST_F(SenderTest, TransportMessagesAreStampedNowAndRestartTheQuarterFrameClock) {
    node->sendMTCQuarterWithSMPTETime("00:00:10:00");
    manager->sendMMStopWithDeviceID(3, node.get());
    manager->sendMMCPlayWithDeviceID(3, node.get());
    manager->sendMMCLocateWithSMTPETime("01:02:03:04", node.get());
    manager->sendMidiCC(64, node.get());
    manager->sendMTCQuarterWithSMTPETime("00:00:12:00", node.get());

    const auto sent = backend->sent();
    ASSERT_EQ(sent.size(), 20u);
    EXPECT_EQ(sent[8].bytes, (Bytes{0xF0, 0x7F, 0x7F, 0x06, 0x01, 0xF7}));
    EXPECT_EQ(sent[9].bytes, (Bytes{0xF0, 0x7F, 0x7F, 0x06, 0x02, 0xF7}));
    EXPECT_EQ(sent[10].bytes, (Bytes{0xF0, 0x7F, 0x7F, 0x06, 0x44, 0x06, 0x01, 0x61, 0x02, 0x03, 0x04, 0x00, 0xF7}));
    EXPECT_EQ(sent[11].bytes, (Bytes{0xB0, 0x00, 0x00}));
    EXPECT_GE(sent[8].timeStamp, sent[0].timeStamp);
    // The next block starts where the last transport message was stamped.
    EXPECT_EQ(sent[12].timeStamp, sent[11].timeStamp);
    EXPECT_EQ(stampsOf(sent, 12, 8), steps(sent[11].timeStamp, 8));
}

TEST_F(SenderTest, MalformedTimeTextsAreRefusedAndChangeNothing) {
    for (const char* bad : {"", "10:00", "00:00:10", "xx:00:10:00", "00:00:10:00:00", "25:00:00:00", "00:00:10:40"}) {
        node->sendMTCQuarterWithSMPTETime(bad);
        manager->sendMMCLocateWithSMTPETime(bad, node.get());
    }
    EXPECT_TRUE(backend->sent().empty());
    EXPECT_EQ(node->lasttimesent(), -1);
    EXPECT_EQ(node->timestamp(), 0u);
}

TEST_F(SenderTest, ARemovedNodeOrAMissingNodeSendsNothing) {
    manager->sendMMCPlayWithDeviceID(0x7F, nullptr);
    node->removeResources();
    EXPECT_EQ(node->outputPort(), 0u);
    EXPECT_TRUE(node->nodeName().isNull());
    node->sendMMCPlay();
    EXPECT_TRUE(backend->sent().empty());
}

TEST_F(SenderTest, ADestinationThatGoesAwayLosesItsNode) {
    backend->removeEndpoint(destination);
    manager->setupChanged();
    EXPECT_TRUE(manager->midiDests().empty());
    EXPECT_EQ(node->outputPort(), 0u);
}

}  // namespace
