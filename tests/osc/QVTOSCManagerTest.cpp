#include "FakeZeroconf.h"
#include "OSCTestPackets.h"
#include "OSCTestReceiver.h"
#include "QVTOSCManager.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

void sendRaw(int port, const Bytes& packet)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              ssize_t(packet.size()));
    close(fd);
}

QVariantMap argument(const QVariantMap& info, int index)
{
    return info.value(QString::number(index)).toMap();
}

// A manager whose output "Kavio" feeds its own input "Kavio" over 127.0.0.1.
class OSCManagerLoop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(manager.createInputWithName("Kavio", 0));
        port = manager.portOfInputWithName("Kavio");
        ASSERT_GT(port, 0);
        ASSERT_TRUE(manager.createOutputWithName("Kavio", "127.0.0.1", port));
    }

    std::shared_ptr<FakeZeroconf> zeroconf = std::make_shared<FakeZeroconf>();
    QVTOSCManager manager{zeroconf};
    OSCTestReceiver receiver{manager};
    int port = 0;
};

}  // namespace

TEST_F(OSCManagerLoop, EachValueTypeRoundTripsIntoTheReceivedUserInfo)
{
    QVTOSCMessage values("/kavio/3/opacity");
    values.addOSCValue(std::make_shared<QVTOSCValue>(QVTOSCValueTypeFloat, 0.25));
    values.addOSCValue(std::make_shared<QVTOSCValue>(QVTOSCValueTypeInteger, -7));
    values.addOSCValue(std::make_shared<QVTOSCValue>(QVTOSCValueTypeString, QString("Szene \u00e9 1")));
    values.addOSCValue(std::make_shared<QVTOSCValue>(QVTOSCValueTypeInteger, qlonglong(1) << 40));
    manager.sendOSCMessage(values);
    manager.sendOSCMessage(QVTOSCMessage("/kavio/ping"));

    const QVariantMap info = receiver.waitForAddress("/kavio/3/opacity");
    ASSERT_FALSE(info.isEmpty());
    EXPECT_EQ(info.size(), 5);  // the address and four arguments
    EXPECT_EQ(argument(info, 0).value("type").toInt(), 1);
    EXPECT_FLOAT_EQ(argument(info, 0).value("val").toFloat(), 0.25f);
    EXPECT_EQ(argument(info, 1).value("type").toInt(), 2);
    EXPECT_EQ(argument(info, 1).value("val").toInt(), -7);
    EXPECT_EQ(argument(info, 2).value("type").toInt(), 3);
    EXPECT_EQ(argument(info, 2).value("val").toString(), QString("Szene \u00e9 1"));
    EXPECT_EQ(argument(info, 3).value("val").toLongLong(), INT32_MAX);  // clamped to 32 bits

    const QVariantMap ping = receiver.waitForAddress("/kavio/ping");
    ASSERT_FALSE(ping.isEmpty());
    EXPECT_FALSE(ping.contains("0"));  // no argument, no entry
}

TEST_F(OSCManagerLoop, AKeptMessageChangedBetweenSendsSendsItsNewContents)
{
    QVTOSCMessage kept("/kavio/time");
    auto value = std::make_shared<QVTOSCValue>(QVTOSCValueTypeString, QString("00:00:00:00"));
    kept.addOSCValue(value);
    manager.sendOSCMessage(kept);
    kept.setAddress("/kavio/cueTimeLeft");
    kept.values().front()->setValue(QString("-00:00:10:00"));
    manager.sendOSCMessage(kept);

    const auto got = receiver.waitFor(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].value("address").toString(), "/kavio/time");
    EXPECT_EQ(argument(got[0], 0).value("val").toString(), "00:00:00:00");
    EXPECT_EQ(got[1].value("address").toString(), "/kavio/cueTimeLeft");
    EXPECT_EQ(argument(got[1], 0).value("val").toString(), "-00:00:10:00");
}

TEST_F(OSCManagerLoop, FeedbackOfTheCurrentCueIsMirroredUnderTheCurrentAddress)
{
    manager.defaultSenderNode().setSourceForCurrentAddress("/kavio/4/");
    QVTOSCMessage opacity("/kavio/4/opacity");
    opacity.addOSCValue(std::make_shared<QVTOSCValue>(QVTOSCValueTypeFloat, 0.5));
    manager.sendOSCMessage(opacity);

    EXPECT_FALSE(receiver.waitForAddress("/kavio/4/opacity").isEmpty());
    const QVariantMap mirrored = receiver.waitForAddress("/kavio/current/opacity");
    ASSERT_FALSE(mirrored.isEmpty());
    EXPECT_FLOAT_EQ(argument(mirrored, 0).value("val").toFloat(), 0.5f);
}

TEST_F(OSCManagerLoop, ArgumentsOfOtherSendersMapOntoTheThreeTypes)
{
    Bytes p;
    putString(p, "/kavio/mixed");
    putString(p, ",dhTFSbc");
    const double d = 2.5;
    uint64_t dBits;
    std::memcpy(&dBits, &d, sizeof d);
    put64(p, dBits);
    put64(p, uint64_t(-5));
    putString(p, "sym");
    put32(p, 1);  // a one-byte blob
    p.push_back('x');
    p.insert(p.end(), 3, 0);
    put32(p, 'k');
    sendRaw(port, p);

    const QVariantMap info = receiver.waitForAddress("/kavio/mixed");
    ASSERT_FALSE(info.isEmpty());
    struct Expected {
        int index;
        int type;
        QVariant val;
    } expected[] = {{0, 1, 2.5}, {1, 2, -5}, {2, 2, 1}, {3, 2, 0}, {4, 3, "sym"}, {6, 3, "k"}};
    for (const auto& e : expected) {
        EXPECT_EQ(argument(info, e.index).value("type").toInt(), e.type) << e.index;
        EXPECT_EQ(argument(info, e.index).value("val").toString(), e.val.toString()) << e.index;
    }
    EXPECT_FALSE(info.contains("5"));  // the blob has no entry
}

TEST_F(OSCManagerLoop, MalformedPacketsAreDroppedAndTheNextGoodOneStillArrives)
{
    struct Case {
        const char* what;
        Bytes packet;
    };
    std::vector<Case> cases;
    {
        Bytes b{'/', 'a', 0};  // address not padded to four bytes
        putString(b, ",i");
        put32(b, 1);
        cases.push_back({"bad padding", b});
    }
    {
        Bytes b;
        putString(b, "/a");
        b.insert(b.end(), {',', 'i', 'i', 'i'});  // type tags run past the end
        cases.push_back({"type tags past the end", b});
    }
    {
        Bytes b;
        putString(b, "/a");
        putString(b, ",Z");
        put32(b, 1);
        cases.push_back({"unknown type", b});
    }
    {
        Bytes b;
        putString(b, "/a");
        putString(b, ",iii");
        put32(b, 1);
        cases.push_back({"arguments missing", b});
    }
    {
        Bytes b;
        putString(b, "/a");
        putString(b, ",s");
        b.insert(b.end(), {'a', 'b', 'c', 'd'});  // string without its terminator
        cases.push_back({"unterminated string", b});
    }
    {
        Bytes b;
        putString(b, "/a");
        putString(b, ",b");
        put32(b, 0x7fffffff);  // blob longer than the packet
        cases.push_back({"blob past the end", b});
    }
    {
        Bytes b;
        putString(b, "#bundle");
        put64(b, 1);
        put32(b, 4000);  // element longer than the bundle
        putString(b, "/a");
        cases.push_back({"bundle element past the end", b});
    }
    {
        Bytes b;
        putString(b, "/a");
        putString(b, ",b");  // a blob without its size
        cases.push_back({"blob without its size", b});
    }
    {
        const Bytes first = message("/lost", 1);
        Bytes b;
        putString(b, "#bundle");
        put64(b, 1);
        put32(b, uint32_t(first.size()));
        b.insert(b.end(), first.begin(), first.end());
        put32(b, 0);  // an empty last element: the whole bundle goes, its good message too
        cases.push_back({"empty last bundle element", b});
    }
    cases.push_back({"address without slash", message("a", 1)});
    cases.push_back({"empty datagram", Bytes{}});
    cases.push_back({"garbage", Bytes{'\xff', '\x00', '\x13', '\x37'}});

    int n = 0;
    for (const auto& c : cases) {
        receiver.clear();
        sendRaw(port, c.packet);
        const QString good = QString("/good/%1").arg(++n);
        sendRaw(port, message(good.toStdString(), n));
        EXPECT_FALSE(receiver.waitForAddress(good).isEmpty()) << c.what;
        EXPECT_EQ(receiver.received().size(), 1u) << c.what;
    }
}

TEST_F(OSCManagerLoop, BundlesAreUnpackedAndTooDeepNestingIsDropped)
{
    Bytes first = message("/b/1", 1);
    Bytes second = message("/b/2", 2);
    Bytes pair;
    putString(pair, "#bundle");
    put64(pair, 1);
    put32(pair, uint32_t(first.size()));
    pair.insert(pair.end(), first.begin(), first.end());
    put32(pair, uint32_t(second.size()));
    pair.insert(pair.end(), second.begin(), second.end());
    sendRaw(port, bundleAround(pair));
    const auto got = receiver.waitFor(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].value("address").toString(), "/b/1");
    EXPECT_EQ(got[1].value("address").toString(), "/b/2");

    Bytes eight = message("/eight", 8);
    for (int i = 0; i < 8; ++i)
        eight = bundleAround(eight);
    Bytes deep = message("/deep", 1);  // as deep as a datagram allows
    while (deep.size() + 20 < 60000)
        deep = bundleAround(deep);
    sendRaw(port, deep);
    sendRaw(port, bundleAround(eight));
    sendRaw(port, eight);
    EXPECT_FALSE(receiver.waitForAddress("/eight").isEmpty());
    const auto all = receiver.received();
    EXPECT_EQ(all.size(), 3u);  // the pair and one "/eight": nothing of the deeper two
}

TEST_F(OSCManagerLoop, UnusableOutputTargetsAreRefusedAndNothingIsSentWithoutAnOutput)
{
    manager.removeOutputWithName("Kavio");
    manager.sendOSCMessage(QVTOSCMessage("/lost/removed"));

    struct Case {
        const char* host;
        int port;
    } refused[] = {{"-", 0}, {"-", 1234}, {"", 1234}, {"127.0.0.1", 0}, {"127.0.0.1", -1},
                   {"127.0.0.1", 70000}, {"no-such-host.invalid", 1234}};
    for (const auto& c : refused) {
        ASSERT_TRUE(manager.createOutputWithName("Kavio", "127.0.0.1", port));
        // A refused target replaces the working output of that name: afterwards there is none.
        EXPECT_FALSE(manager.createOutputWithName("Kavio", c.host, c.port)) << c.host << ":" << c.port;
        manager.sendOSCMessage(QVTOSCMessage("/lost/refused"));
    }

    // Loopback datagrams queue in sending order, so anything lost would have come first.
    ASSERT_TRUE(manager.createOutputWithName("Kavio", "localhost", port));
    manager.sendOSCMessage(QVTOSCMessage("/kavio/pong"));
    ASSERT_FALSE(receiver.waitForAddress("/kavio/pong").isEmpty());
    const auto got = receiver.received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].value("address").toString(), "/kavio/pong");
}

TEST_F(OSCManagerLoop, APortInUseIsReportedAndFreedByRemovingItsInput)
{
    EXPECT_FALSE(manager.createInputWithName("Other", port));
    EXPECT_EQ(manager.portOfInputWithName("Other"), 0);
    EXPECT_FALSE(manager.createInputWithName("Other", 70000));

    manager.removeInputWithName("Kavio");
    EXPECT_EQ(manager.portOfInputWithName("Kavio"), 0);
    ASSERT_TRUE(manager.createInputWithName("Other", port));
    manager.sendOSCMessage(QVTOSCMessage("/still/here"));
    EXPECT_FALSE(receiver.waitForAddress("/still/here").isEmpty());
}

TEST_F(OSCManagerLoop, AnInputCanBeRemovedFromItsOwnReceivingThread)
{
    std::atomic<bool> handled{false};
    manager.oscKitNotificationCenter().addObserver(this, "QVTOSC-RECEIVED", nullptr, [&](const Notification& n) {
        if (n.userInfo.value("address") == "/kavio/off") {
            manager.removeInputWithName("Kavio");
            handled = true;
        }
    });
    manager.sendOSCMessage(QVTOSCMessage("/kavio/off"));
    for (int i = 0; i < 200 && !handled; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(handled);
    EXPECT_EQ(manager.portOfInputWithName("Kavio"), 0);
    manager.oscKitNotificationCenter().removeObserver(this);
}

TEST_F(OSCManagerLoop, InputsArePublishedAndDetectedClientsListed)
{
    EXPECT_EQ(zeroconf->browsedType(), "_osc._udp");
    ASSERT_EQ(zeroconf->published().size(), 1u);
    EXPECT_EQ(zeroconf->published()[0], FakeZeroconf::Entry("Kavio", "_osc._udp", port));

    int changes = 0;
    manager.oscKitNotificationCenter().addObserver(this, "QVTOSC_DETECTED_CLIENTS_CHANGED", nullptr,
                                                   [&](const Notification&) { ++changes; });
    zeroconf->announce({{"Kavio", "192.168.1.10", 51000}, {"Tablet", "192.168.1.20", 9000}});
    EXPECT_EQ(changes, 1);
    const QVariantList clients = manager.listOfDetectedOSCClients();
    ASSERT_EQ(clients.size(), 2);
    const QVariantList own = clients[0].toList();
    const QVariantList tablet = clients[1].toList();
    EXPECT_TRUE(own[1].toString().contains("Kavio:51000"));
    EXPECT_EQ(tablet[1].toString(), "Tablet:9000");
    EXPECT_EQ(tablet[2].toString(), "192.168.1.20");
    EXPECT_EQ(tablet[3].toInt(), 9000);

    zeroconf->announce({});
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(manager.listOfDetectedOSCClients().isEmpty());
    manager.oscKitNotificationCenter().removeObserver(this);

    manager.removeInputWithName("Kavio");
    EXPECT_TRUE(zeroconf->published().empty());
}
