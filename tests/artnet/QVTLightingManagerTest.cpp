#include "QVTLightingManager.h"
#include "QVTLightingReceiverNode.h"
#include "QVTLightingReceivingTestNode.h"

#include "DispatchQueue.h"
#include "UdpTestPeer.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

namespace {

using Change = std::pair<int, int>;
using Changes = std::vector<Change>;

QByteArray artDmx(int subUni, int net, const QByteArray& data, int declaredLength = -1)
{
    const int length = declaredLength < 0 ? static_cast<int>(data.size()) : declaredLength;
    QByteArray d("Art-Net", 8);
    for (int b : {0x00, 0x50, 0, 14, 0, 0, subUni, net, length >> 8, length & 0xFF})
        d.append(static_cast<char>(b));
    return d + data;
}

QByteArray slotValues(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

// A manager on free ports, named "Kavio", receiving on 127.0.0.1, whose notifications are
// recorded. The peer plays the lighting desk: it sends to the node's port and receives the
// node's replies and polls.
class QVTLightingManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        manager->setPortsForTesting({listenPort, peer.port()});
        manager->setPortName(QStringLiteral("Kavio"));
        auto& center = manager->lightingKitNotificationCenter();
        center.addObserver(this, QVTLightingReceivedDMXNotification, manager.get(), [this](const Notification& n) {
            const QVariantList pair = n.userInfo.value(QVTLightingUpdatedChannelKey).toList();
            std::lock_guard lock(mutex);
            dmx.emplace_back(pair.value(0).toInt(), pair.value(1).toInt());
        });
        center.addObserver(this, QVTLightingPollRepliesNotification, manager.get(), [this](const Notification& n) {
            EXPECT_TRUE(DispatchQueue::isMainThread());
            polls.push_back(n.userInfo.value(QVTLightingNodesKey).toList());
        });
    }

    void startNode(int net = 0, int subUni = 0)
    {
        manager->setInputPortInterface(QStringLiteral("127.0.0.1"));
        ASSERT_NE(manager->receiverNode(), nullptr);
        manager->setOemCode(5112);
        manager->listenNet(net, subUni);
    }

    // Sends `packet`, then an ArtPoll, and answers what the packet posted. The node handles
    // datagrams in order and posts synchronously, so once the poll's reply is back every post
    // of the packet has been recorded.
    Changes postsOf(const QByteArray& packet)
    {
        EXPECT_TRUE(takeDmx().empty());
        peer.sendTo(listenPort, packet);
        peer.sendTo(listenPort, ArtNet::artPollPacket());
        const auto reply = peer.receive();
        EXPECT_TRUE(reply && ArtNet::opCodeOf(*reply) == ArtNet::OpPollReply) << "the node stopped handling datagrams";
        return takeDmx();
    }

    Changes takeDmx()
    {
        std::lock_guard lock(mutex);
        Changes out;
        out.swap(dmx);
        return out;
    }

    UdpTestPeer peer;
    const std::uint16_t listenPort = UdpTestPeer::freePort();
    std::shared_ptr<QVTLightingManager> manager = std::make_shared<QVTLightingManager>();
    std::mutex mutex;
    Changes dmx;
    std::vector<QVariantList> polls;
};

}  // namespace

TEST_F(QVTLightingManagerTest, FreshManager)
{
    EXPECT_EQ(std::make_shared<QVTLightingManager>()->portName(), QStringLiteral("Lumarik"));
    EXPECT_EQ(manager->inputPortInterface(), std::nullopt);
    EXPECT_EQ(manager->receiverNode(), nullptr);
    manager->discoverOutputs();
    manager->setOemCode(1);
    manager->listenNet(1, 1);
    DispatchQueue::runMainUntil([] { return false; }, 0.7);
    EXPECT_TRUE(polls.empty()) << "no node, no poll";
    EXPECT_EQ(&QVTLightingManager::sharedManager(), &QVTLightingManager::sharedManager());
}

TEST_F(QVTLightingManagerTest, InterfacesThatBindNothingLeaveNoNode)
{
    manager->setInputPortInterface(QString(""));
    EXPECT_EQ(manager->receiverNode(), nullptr);
    EXPECT_EQ(manager->inputPortInterface(), QString(""));
    manager->setInputPortInterface(QStringLiteral("203.0.113.77"));
    EXPECT_EQ(manager->receiverNode(), nullptr);
    EXPECT_EQ(manager->inputPortInterface(), QStringLiteral("203.0.113.77"));
    manager->setInputPortInterface(std::nullopt);
    EXPECT_EQ(manager->receiverNode(), nullptr);
}

TEST_F(QVTLightingManagerTest, SettingsGoToTheNodeAndDieWithIt)
{
    manager->setOemCode(5112);
    manager->listenNet(1, 2);
    manager->setInputPortInterface(QStringLiteral("127.0.0.1"));
    auto node = manager->receiverNode();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->oemCode(), 0u) << "values given before the node existed are not kept";
    EXPECT_EQ(node->listeningNet(), 0);
    manager->listenNet(300, 274);
    EXPECT_EQ(node->listeningNet(), 44);
    EXPECT_EQ(node->listeningUni(), 18);
}

TEST_F(QVTLightingManagerTest, DmxChangesArePostedSlotBySlot)
{
    startNode(0, 0x12);
    EXPECT_EQ(postsOf(artDmx(0x12, 0, QByteArray(512, '\0'))), Changes{}) << "the cache starts at zero";
    EXPECT_EQ(postsOf(artDmx(0x12, 0, slotValues({10, 0, 0, 255}))), (Changes{{1, 10}, {4, 255}}));
    EXPECT_EQ(postsOf(artDmx(0x12, 0, slotValues({10, 0, 0, 255}))), Changes{}) << "unchanged slotValues post nothing";
    EXPECT_EQ(postsOf(artDmx(0x13, 0, slotValues({11}))), Changes{}) << "other universe";
    EXPECT_EQ(postsOf(artDmx(0x12, 1, slotValues({11}))), Changes{}) << "other net";

    // Switching universe keeps the cache: only values that differ from the last seen are posted.
    manager->listenNet(0, 0x13);
    EXPECT_EQ(postsOf(artDmx(0x13, 0, slotValues({10, 5}))), (Changes{{2, 5}}));
}

TEST_F(QVTLightingManagerTest, BadInputNeverStopsReception)
{
    startNode();
    QByteArray bangId = artDmx(0, 0, slotValues({9}));
    bangId[7] = '!';
    QByteArray unknownOp = artDmx(0, 0, slotValues({9}));
    unknownOp[9] = 0x52;
    const std::vector<std::pair<const char*, QByteArray>> ignored = {
        {"empty datagram", QByteArray()},
        {"ten bytes", QByteArray("Art-Net", 8) + slotValues({0x00, 0x20})},
        {"wrong ID", bangId},
        {"unknown OpCode", unknownOp},
        {"ArtDmx of 17 bytes", artDmx(0, 0, {}).left(17)},
        {"ArtDmx of length 0 with data", artDmx(0, 0, slotValues({9, 9}), 0)},
        {"ArtPollReply outside a poll window", QByteArray("Art-Net", 8) + slotValues({0x00, 0x21, 0})},
        {"oversized datagram", QByteArray(9000, 'A')},
    };
    for (const auto& [name, packet] : ignored)
        EXPECT_EQ(postsOf(packet), Changes{}) << name;

    // A Length beyond the datagram: only the slotValues present are used.
    EXPECT_EQ(postsOf(artDmx(0, 0, slotValues({0, 3}), 512)), (Changes{{2, 3}}));
    // A Length beyond 512: never more than 512 slotValues.
    const Changes all = postsOf(artDmx(0, 0, QByteArray(530, '\x01'), 600));
    ASSERT_EQ(all.size(), 512u);
    EXPECT_EQ(all.back(), (Change{512, 1}));
}

TEST_F(QVTLightingManagerTest, ArtPollIsAnsweredWithTheExactReply)
{
    startNode();
    QByteArray poll("Art-Net", 8);
    for (int b : {0x00, 0x20, 0, 14, 0x02, 0})
        poll.append(static_cast<char>(b));
    peer.sendTo(listenPort, poll);
    const auto reply = peer.receive();
    ASSERT_TRUE(reply.has_value());

    ArtNet::ArtNet_Packet_ArtPollReply expected;
    ArtNet::assembleArtPollReply(expected, QStringLiteral("127.0.0.1"), QStringLiteral("Kavio"), 5112, 0, 0);
    EXPECT_EQ(reply->toHex(' '), expected.encode().toHex(' '));
    EXPECT_EQ(reply->size(), 208);
    EXPECT_EQ(static_cast<std::uint8_t>(reply->at(20)), 0x13);
    EXPECT_EQ(static_cast<std::uint8_t>(reply->at(21)), 0xF8);
}

TEST_F(QVTLightingManagerTest, ArtPollReplyAdvertisesTheListenedPortAddress)
{
    startNode(1, 0x23);
    peer.sendTo(listenPort, ArtNet::artPollPacket());
    const auto reply = peer.receive();
    ASSERT_TRUE(reply.has_value());
    const auto read = ArtNet::ArtNet_Packet_ArtPollReply::decode(*reply);
    EXPECT_EQ(read.NetSwitch, 1);
    EXPECT_EQ(read.SubSwitch, 2);
    EXPECT_EQ(read.SwOut[0] & 0x0F, 3);
    EXPECT_EQ(read.IPAddress, (std::array<std::uint8_t, 4>{127, 0, 0, 1}));
}

TEST_F(QVTLightingManagerTest, PollWindowCollectsOtherNodesOutputs)
{
    startNode();
    auto pollReply = [](const char* name, int numPorts) {
        ArtNet::ArtNet_Packet_ArtPollReply r;
        ArtNet::assembleArtPollReply(r, QStringLiteral("10.0.0.9"), QString::fromUtf8(name), 0, 0, 0);
        r.SubSwitch = 3;
        r.NumPortsLo = static_cast<std::uint8_t>(numPorts);
        r.PortTypes = {0x80, 0xC0, 0x80, 0};
        r.SwOut = {0x21, 0x05, 0x07, 0};
        return r.encode();
    };
    peer.sendTo(listenPort, pollReply("Early", 1));
    EXPECT_EQ(postsOf(QByteArray()), Changes{});  // the early reply has been handled

    manager->discoverOutputs();
    const auto poll = peer.receive();
    ASSERT_TRUE(poll.has_value());
    EXPECT_EQ(*poll, ArtNet::artPollPacket());
    peer.sendTo(listenPort, pollReply("Desk", 3));
    peer.sendTo(listenPort, pollReply("Kavio", 1));
    peer.sendTo(listenPort, pollReply("Short", 1).left(30));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !polls.empty(); }, 3.0));
    const QVariantList nodes = polls[0];
    // Port 2 can input as well (0xC0): it is an output all the same.
    ASSERT_EQ(nodes.size(), 3);
    EXPECT_EQ(nodes[0].toList(), (QVariantList{QStringLiteral("Desk"), QStringLiteral("10.0.0.9"), 3, 1}));
    EXPECT_EQ(nodes[1].toList(), (QVariantList{QStringLiteral("Desk"), QStringLiteral("10.0.0.9"), 3, 5}));
    EXPECT_EQ(nodes[2].toList(), (QVariantList{QStringLiteral("Desk"), QStringLiteral("10.0.0.9"), 3, 7}));
    EXPECT_FALSE(manager->receiverNode()->isPolling());
}

TEST_F(QVTLightingManagerTest, ANewPollRestartsTheWindow)
{
    startNode();
    manager->discoverOutputs();
    manager->discoverOutputs();
    DispatchQueue::runMainUntil([] { return false; }, 1.2);
    EXPECT_EQ(polls.size(), 1u);
}

TEST_F(QVTLightingManagerTest, ReplacingTheNodeStopsTheOldOneAndClearsTheCache)
{
    startNode();
    EXPECT_EQ(postsOf(artDmx(0, 0, slotValues({0, 40}))), (Changes{{2, 40}}));
    manager->discoverOutputs();
    ASSERT_TRUE(peer.receive().has_value());

    startNode();  // same interface again: a new node
    DispatchQueue::runMainUntil([] { return false; }, 0.7);
    EXPECT_TRUE(polls.empty()) << "the old node's window ended silently";
    EXPECT_EQ(postsOf(artDmx(0, 0, slotValues({0, 40}))), (Changes{{2, 40}})) << "the new cache starts at zero";

    manager->setInputPortInterface(std::nullopt);
    EXPECT_EQ(manager->receiverNode(), nullptr);
    // The port is free again: nothing of the node is left listening.
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(listenPort);
    EXPECT_EQ(::bind(probe, reinterpret_cast<const sockaddr*>(&any), sizeof any), 0);
    ::close(probe);
}

TEST_F(QVTLightingManagerTest, TestNodeDescribesWhatItReceives)
{
    std::vector<QString> messages;
    std::mutex messagesMutex;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        nullptr, QVTLightingTestLogNotification, nullptr, [&](const Notification& n) {
            std::lock_guard lock(messagesMutex);
            messages.push_back(n.userInfo.value(QVTLightingTestMessageKey).toString());
        });
    auto count = [&] {
        std::lock_guard lock(messagesMutex);
        return messages.size();
    };

    manager->startForTesting(QStringLiteral("203.0.113.77"));
    ASSERT_EQ(count(), 1u);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("cannot bind to Art-Net port: "))) << messages[0].toStdString();

    manager->startForTesting();
    ASSERT_EQ(count(), 2u);
    EXPECT_TRUE(messages[1].isEmpty()) << "listening is announced without user info";
    EXPECT_EQ(manager->receiverNode(), nullptr) << "a test node is not a receiver node";

    QByteArray dmx = artDmx(0x12, 0, slotValues({0xAB, 0x01}));
    dmx[12] = 9;
    peer.sendTo(listenPort, QByteArray("short"));
    peer.sendTo(listenPort, dmx);
    for (int i = 0; i < 300 && count() < 5; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    NotificationCenter::defaultCenter().removeObserver(token);
    ASSERT_EQ(count(), 5u);
    EXPECT_EQ(messages[2], QStringLiteral("host: 127.0.0.1 address: 127.0.0.1"));
    EXPECT_EQ(messages[3], QStringLiteral("uni: 18 net: 0 seq: 9 length: 2 (0,2)"));
    EXPECT_EQ(messages[4], QString::fromLatin1(dmx.toHex().toUpper()));
}
