#include "GCDAsyncUdpSocket_QVTLIGHTING.h"

#include "DispatchQueue.h"
#include "UdpTestPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

// Records every callback; waits are bounded.
class RecordingDelegate : public GCDAsyncUdpSocketDelegate {
public:
    struct Received {
        QByteArray data;
        QByteArray address;
    };

    void udpSocketDidSendDataWithTag(GCDAsyncUdpSocket_QVTLIGHTING*, long tag) override
    {
        record([&] { sent.push_back(tag); });
    }
    void udpSocketDidNotSendDataWithTag(GCDAsyncUdpSocket_QVTLIGHTING*, long tag,
                                        const GCDAsyncUdpSocketErrorInfo& error) override
    {
        record([&] { notSent.emplace_back(tag, error); });
    }
    void udpSocketDidReceiveData(GCDAsyncUdpSocket_QVTLIGHTING*, const QByteArray& data, const QByteArray& address,
                                 void* context) override
    {
        EXPECT_EQ(context, nullptr);
        record([&] { received.push_back({data, address}); });
    }
    void udpSocketDidClose(GCDAsyncUdpSocket_QVTLIGHTING*, const std::optional<GCDAsyncUdpSocketErrorInfo>& error) override
    {
        record([&] { closes.push_back(error); });
    }

    template <class Pred>
    bool waitFor(Pred pred, double seconds = 2.0)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::duration<double>(seconds), pred);
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<long> sent;
    std::vector<std::pair<long, GCDAsyncUdpSocketErrorInfo>> notSent;
    std::vector<Received> received;
    std::vector<std::optional<GCDAsyncUdpSocketErrorInfo>> closes;

private:
    template <class F>
    void record(F f)
    {
        {
            std::lock_guard lock(mutex);
            f();
        }
        changed.notify_all();
    }
};

class GCDAsyncUdpSocketTest : public ::testing::Test {
protected:
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<DispatchQueue> delegateQueue = std::make_shared<DispatchQueue>("test.delegate");
    std::unique_ptr<GCDAsyncUdpSocket_QVTLIGHTING> socket =
        std::make_unique<GCDAsyncUdpSocket_QVTLIGHTING>(delegate, delegateQueue);

    // Lets callbacks already queued on the delegate queue run.
    void settle() { delegateQueue->sync([] {}); }
};

}  // namespace

TEST_F(GCDAsyncUdpSocketTest, BindErrors)
{
    GCDAsyncUdpSocketErrorInfo error;
    EXPECT_FALSE(socket->bindToPort(0, QString(""), &error));
    EXPECT_EQ(error.domain, GCDAsyncUdpSocketErrorDomain);
    EXPECT_EQ(error.code, GCDAsyncUdpSocketBadParamError);
    EXPECT_EQ(error.localizedDescription,
              QStringLiteral("Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address."));

    error = {};
    EXPECT_FALSE(socket->bindToPort(0, QStringLiteral("203.0.113.77"), &error));
    EXPECT_EQ(error.code, GCDAsyncUdpSocketBadParamError);

    EXPECT_TRUE(socket->bindToPort(0, QStringLiteral("127.0.0.1"), nullptr));
    EXPECT_NE(socket->localPort(), 0);
    EXPECT_FALSE(socket->bindToPort(0, QStringLiteral("127.0.0.1"), &error));
    EXPECT_EQ(error.code, GCDAsyncUdpSocketBadConfigError);
    EXPECT_EQ(error.localizedDescription, QStringLiteral("Cannot bind a socket more than once."));

    socket->close();
    EXPECT_TRUE(socket->bindToPort(0, QStringLiteral("localhost"), &error)) << error.toString().toStdString();
}

TEST_F(GCDAsyncUdpSocketTest, InterfaceDescriptionsThatBind)
{
    for (const std::optional<QString>& description :
         {std::optional<QString>(), std::optional<QString>(QStringLiteral("lo")),
          std::optional<QString>(QStringLiteral("localhost")), std::optional<QString>(QStringLiteral("loopback")),
          std::optional<QString>(QStringLiteral("127.0.0.1"))}) {
        for (const bool broadcast : {false, true}) {
            GCDAsyncUdpSocket_QVTLIGHTING s(delegate, delegateQueue);
            s.setIPv6Enabled(false);
            s.enableBroadcast(broadcast, nullptr);
            GCDAsyncUdpSocketErrorInfo error;
            EXPECT_TRUE(s.bindToPort(0, description, &error))
                << description.value_or(QStringLiteral("(wildcard)")).toStdString() << ": " << error.toString().toStdString();
            ASSERT_TRUE(s.beginReceiving(nullptr));
            UdpTestPeer peer;
            peer.sendTo(s.localPort(), "hello");
            ASSERT_TRUE(delegate->waitFor([&] { return !delegate->received.empty(); }));
            std::lock_guard lock(delegate->mutex);
            delegate->received.clear();
        }
    }
}

// Each local interface's IPv4 address and broadcast address, as iproute2 reports them.
TEST(GCDAsyncUdpSocketInterfaces, InterfaceIPv4MatchesWhatIpReports)
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), {QStringLiteral("-j"), QStringLiteral("-4"), QStringLiteral("addr")});
    if (!ip.waitForFinished(30000) || ip.exitCode() != 0)
        GTEST_SKIP() << "ip (iproute2) cannot list the addresses here";
    int checked = 0;
    for (const QJsonValue& link : QJsonDocument::fromJson(ip.readAllStandardOutput()).array()) {
        const QString name = link[QStringLiteral("ifname")].toString();
        const QJsonArray addresses = link[QStringLiteral("addr_info")].toArray();
        if (addresses.isEmpty())
            continue;
        const QString address = addresses[0][QStringLiteral("local")].toString();
        const QString broadcast = addresses[0][QStringLiteral("broadcast")].toString();
        for (const QString& description : {name, address}) {
            const auto found = GCDAsyncUdpSocket_QVTLIGHTING::interfaceIPv4(description);
            ASSERT_TRUE(found.has_value()) << description.toStdString();
            EXPECT_EQ(found->address, address) << description.toStdString();
            EXPECT_EQ(found->broadcast, broadcast) << description.toStdString();
        }
        ++checked;
    }
    EXPECT_GT(checked, 0) << "loopback at least has an address";
    EXPECT_EQ(GCDAsyncUdpSocket_QVTLIGHTING::interfaceIPv4(QStringLiteral("localhost"))->address, QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(GCDAsyncUdpSocket_QVTLIGHTING::interfaceIPv4(QStringLiteral("no-such-interface")));
    EXPECT_FALSE(GCDAsyncUdpSocket_QVTLIGHTING::interfaceIPv4(QString()));
}

TEST_F(GCDAsyncUdpSocketTest, ReceivingNeedsSocketsAndOptionsNeedADelegateQueue)
{
    GCDAsyncUdpSocketErrorInfo error;
    EXPECT_FALSE(socket->beginReceiving(&error));
    EXPECT_EQ(error.code, GCDAsyncUdpSocketBadConfigError);
    EXPECT_EQ(error.localizedDescription,
              QStringLiteral("Must bind socket before you can receive data. You can do this explicitly via bind, or "
                             "implicitly via connect or by sending data."));

    GCDAsyncUdpSocket_QVTLIGHTING queueless(delegate, nullptr);
    EXPECT_FALSE(queueless.enableBroadcast(true, &error));
    EXPECT_EQ(error.localizedDescription,
              QStringLiteral("Attempting to use socket without a delegate queue. Set a delegate queue first."));

    GCDAsyncUdpSocket_QVTLIGHTING delegateless(std::weak_ptr<GCDAsyncUdpSocketDelegate>(), delegateQueue);
    EXPECT_FALSE(delegateless.bindToPort(0, std::nullopt, &error));
    EXPECT_EQ(error.localizedDescription,
              QStringLiteral("Attempting to use socket without a delegate. Set a delegate first."));
}

TEST_F(GCDAsyncUdpSocketTest, CloseCallsBackOnlyWhenSocketsExisted)
{
    socket->close();
    settle();
    EXPECT_TRUE(delegate->closes.empty());

    ASSERT_TRUE(socket->bindToPort(0, QStringLiteral("127.0.0.1"), nullptr));
    socket->close();
    ASSERT_TRUE(delegate->waitFor([&] { return !delegate->closes.empty(); }));
    settle();
    ASSERT_EQ(delegate->closes.size(), 1u);
    EXPECT_FALSE(delegate->closes[0].has_value());
}

TEST_F(GCDAsyncUdpSocketTest, SendsAndReceivesDatagramsInOrder)
{
    UdpTestPeer peer;
    socket->setIPv6Enabled(false);
    ASSERT_TRUE(socket->enableBroadcast(true, nullptr));
    ASSERT_TRUE(socket->enableReusePort(true, nullptr));
    ASSERT_TRUE(socket->bindToPort(0, QStringLiteral("127.0.0.1"), nullptr));
    ASSERT_TRUE(socket->beginReceiving(nullptr));
    ASSERT_TRUE(socket->beginReceiving(nullptr)) << "a second call is a no-op";
    const std::uint16_t port = socket->localPort();

    constexpr int kCount = 50;
    for (int i = 0; i < kCount; ++i)
        peer.sendTo(port, QByteArray::number(i));
    peer.sendTo(port, QByteArray());
    ASSERT_TRUE(delegate->waitFor([&] { return delegate->received.size() == kCount + 1; }));
    for (int i = 0; i < kCount; ++i)
        EXPECT_EQ(delegate->received[static_cast<std::size_t>(i)].data, QByteArray::number(i));
    EXPECT_TRUE(delegate->received.back().data.isEmpty()) << "an empty datagram is delivered, not a close";
    QString host;
    std::uint16_t fromPort = 0;
    EXPECT_TRUE(GCDAsyncUdpSocket_QVTLIGHTING::getHost(&host, &fromPort, delegate->received[0].address));
    EXPECT_EQ(host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(fromPort, peer.port());

    socket->sendData(QByteArray(), QStringLiteral("127.0.0.1"), peer.port(), -1, 1);
    socket->sendData("reply", QStringLiteral("127.0.0.1"), peer.port(), -1, 2);
    EXPECT_EQ(peer.receive(), QByteArray("reply"));
    ASSERT_TRUE(delegate->waitFor([&] { return !delegate->sent.empty(); }));
    settle();
    EXPECT_EQ(delegate->sent, std::vector<long>{2}) << "empty data makes no callback";
    EXPECT_TRUE(delegate->closes.empty());
}

TEST_F(GCDAsyncUdpSocketTest, FailedSendsAreReportedAndReceptionGoesOn)
{
    UdpTestPeer peer;
    socket->setIPv6Enabled(false);
    ASSERT_TRUE(socket->bindToPort(0, QStringLiteral("127.0.0.1"), nullptr));
    ASSERT_TRUE(socket->beginReceiving(nullptr));

    // IPv6 is off and the host is IPv6 only.
    socket->sendData("x", QStringLiteral("::1"), peer.port(), -1, 7);
    // Broadcast is not enabled, so the OS refuses this one.
    socket->sendData("x", QStringLiteral("255.255.255.255"), peer.port(), -1, 8);
    ASSERT_TRUE(delegate->waitFor([&] { return delegate->notSent.size() == 2; }));
    EXPECT_EQ(delegate->notSent[0].first, 7);
    EXPECT_EQ(delegate->notSent[0].second.code, GCDAsyncUdpSocketOtherError);
    EXPECT_EQ(delegate->notSent[0].second.localizedDescription,
              QStringLiteral("IPv6 has been disabled and DNS lookup found no IPv4 address(es)."));
    EXPECT_EQ(delegate->notSent[1].first, 8);
    EXPECT_EQ(delegate->notSent[1].second.domain, GCDAsyncUdpSocketPOSIXErrorDomain);

    peer.sendTo(socket->localPort(), "still open");
    ASSERT_TRUE(delegate->waitFor([&] { return !delegate->received.empty(); }));
    EXPECT_EQ(delegate->received[0].data, QByteArray("still open"));
    EXPECT_TRUE(delegate->closes.empty());
}

TEST_F(GCDAsyncUdpSocketTest, DestroyingWhileBusyIsClean)
{
    UdpTestPeer peer;
    ASSERT_TRUE(socket->bindToPort(0, QStringLiteral("127.0.0.1"), nullptr));
    ASSERT_TRUE(socket->beginReceiving(nullptr));
    for (int i = 0; i < 20; ++i) {
        peer.sendTo(socket->localPort(), "in");
        socket->sendData("out", QStringLiteral("localhost"), peer.port(), 0.5, i);
    }
    socket.reset();
    settle();
    EXPECT_LE(delegate->closes.size(), 1u);
}

TEST(GCDAsyncUdpSocketAddress, GetHostReadsOnlyWholeRecords)
{
    sockaddr_in a4{};
    a4.sin_family = AF_INET;
    a4.sin_port = htons(6454);
    inet_pton(AF_INET, "10.1.2.3", &a4.sin_addr);
    const QByteArray record(reinterpret_cast<const char*>(&a4), sizeof a4);

    QString host;
    std::uint16_t port = 0;
    EXPECT_TRUE(GCDAsyncUdpSocket_QVTLIGHTING::getHost(&host, &port, record));
    EXPECT_EQ(host, QStringLiteral("10.1.2.3"));
    EXPECT_EQ(port, 6454);

    EXPECT_FALSE(GCDAsyncUdpSocket_QVTLIGHTING::getHost(&host, &port, record.left(10)));
    EXPECT_TRUE(host.isNull());
    EXPECT_EQ(port, 0);
    EXPECT_FALSE(GCDAsyncUdpSocket_QVTLIGHTING::getHost(&host, &port, QByteArray()));
}
