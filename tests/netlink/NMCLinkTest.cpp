#include "FakeZeroconf.h"
#include "NMCPacket.h"
#include "QVTNMCMaster.h"
#include "QVTNMCSlave.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

TEST(NMCPacketCodec, RoundTripsAndRefusesTimesThatAreNotFourFields)
{
    const struct {
        uint8_t command;
        const char* time;
        uint8_t fps;
        uint8_t cue;
        Bytes bytes;
    } cases[] = {
        {2, "00:00:05:00", 25, 0, {'K', 'N', 'L', 1, 2, 0, 0, 5, 0, 25, 0, 0}},
        {110, "00:00:20:00", 30, 4, {'K', 'N', 'L', 1, 110, 0, 0, 20, 0, 30, 4, 0}},
        {100, "1:2:3:4", 24, 255, {'K', 'N', 'L', 1, 100, 1, 2, 3, 4, 24, 255, 0}},
        {160, "00:00:00:00", 30, 0, {'K', 'N', 'L', 1, 160, 0, 0, 0, 0, 30, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.time);
        const auto packet = NMC_Packet::fromTimeText(c.command, c.time, c.fps, c.cue);
        ASSERT_TRUE(packet);
        const auto bytes = packet->toBytes();
        EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), c.bytes);
        const auto back = NMC_Packet::fromBytes(bytes);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->command, c.command);
        EXPECT_EQ(back->fps, c.fps);
        EXPECT_EQ(back->cue, c.cue);
        EXPECT_EQ(back->timeString(), packet->timeString());
    }
    for (const char* bad : {"", "00:00:05", "00:00:05:00:00", "a:b:c:d", "00:00:256:00", "00:00:05:00 ", "-1:0:0:0",
                            "00::05:00"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(NMC_Packet::fromTimeText(2, bad, 25, 0));
    }
}

namespace {

// Collects the packets a slave delivers.
class PacketSink : public QVTNMCSlaveDelegate {
public:
    void handleNMCData(std::span<const uint8_t> data) override
    {
        std::lock_guard lock(mutex_);
        packets_.emplace_back(data.begin(), data.end());
        changed_.notify_all();
    }
    // Waits (generously) until `count` packets arrived; answers them.
    std::vector<Bytes> waitFor(size_t count)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(30), [&] { return packets_.size() >= count; });
        return packets_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Bytes> packets_;
};

bool waitUntil(const std::function<bool()>& condition)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

Bytes commandBytes(uint8_t command, const char* time, uint8_t fps, uint8_t cue)
{
    const auto bytes = NMC_Packet::fromTimeText(command, time, fps, cue)->toBytes();
    return {bytes.begin(), bytes.end()};
}

}  // namespace

TEST(NMCLink, TheMasterPublishesItselfAndSendsToItsSubscribedSlave)
{
    auto zeroconf = std::make_shared<FakeZeroconf>();
    QVTNMCMaster master("Kavio", 0, zeroconf);
    ASSERT_TRUE(master.isListening());
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    ASSERT_EQ(zeroconf->published().size(), 1u);
    EXPECT_EQ(zeroconf->published()[0],
              FakeZeroconf::Entry(QStringLiteral("Kavio : ") + host, "_nmc._udp.", master.port()));
    EXPECT_EQ(master.serviceName(), std::string("Kavio : ") + host);

    // No slave yet: a command goes nowhere but is well formed.
    EXPECT_TRUE(master.sendCommand(2, "00:00:01:00", 25, 0));
    EXPECT_FALSE(master.sendCommand(2, "00:00:01", 25, 0));

    PacketSink sink;
    QVTNMCSlave slave("127.0.0.1", master.port());
    slave.setDelegate(&sink);
    ASSERT_TRUE(waitUntil([&] { return master.subscriberCount() == 1; }));

    // A stray sender aiming at the slave's port is ignored, however well formed its packet.
    const int stray = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(slave.localPort());
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    const Bytes forged = commandBytes(160, "00:00:00:00", 30, 0);
    ::sendto(stray, forged.data(), forged.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(stray);

    EXPECT_FALSE(master.sendCommand(10, "bad", 25, 0));
    ASSERT_TRUE(master.sendCommand(10, "00:00:10:15", 30, 0));
    ASSERT_TRUE(master.sendCommand(130, "00:00:00:00", 25, 7));
    const auto packets = sink.waitFor(2);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0], commandBytes(10, "00:00:10:15", 30, 0));
    EXPECT_EQ(packets[1], commandBytes(130, "00:00:00:00", 25, 7));

    // Dropped with the master: the zeroconf entry goes too.
    slave.setDelegate(nullptr);
}

TEST(NMCLink, ASlaveOfAHostThatIsNoAddressReceivesNothing)
{
    QVTNMCSlave slave("not an address", 1);
    EXPECT_EQ(slave.localPort(), 0);
    EXPECT_EQ(slave.host(), "not an address");
}

TEST(NMCLink, AWithdrawnMasterLeavesZeroconf)
{
    auto zeroconf = std::make_shared<FakeZeroconf>();
    {
        QVTNMCMaster master("Kavio", 0, zeroconf);
        EXPECT_EQ(zeroconf->published().size(), 1u);
    }
    EXPECT_TRUE(zeroconf->published().empty());
}

TEST(NMCLink, ASlaveSubscribesAndDropsShortAndForeignDatagramsOfItsMaster)
{
    // A hand-made master: a plain socket the test reads and writes.
    const int master = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    ASSERT_EQ(::bind(master, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ::getsockname(master, reinterpret_cast<sockaddr*>(&address), &length);
    const timeval timeout{30, 0};
    ::setsockopt(master, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    PacketSink sink;
    QVTNMCSlave slave("127.0.0.1", ntohs(address.sin_port));
    slave.setDelegate(&sink);

    uint8_t subscribe[16];
    sockaddr_in from{};
    length = sizeof from;
    const ssize_t n = ::recvfrom(master, subscribe, sizeof subscribe, 0, reinterpret_cast<sockaddr*>(&from), &length);
    ASSERT_EQ(n, ssize_t(nmclink::kSubscribe.size()));
    EXPECT_TRUE(std::equal(nmclink::kSubscribe.begin(), nmclink::kSubscribe.end(), subscribe));
    EXPECT_EQ(ntohs(from.sin_port), slave.localPort());

    const Bytes valid = commandBytes(1, "00:00:20:00", 30, 0);
    Bytes otherMagic = valid;
    otherMagic[0] = 'X';
    Bytes longer = valid;
    longer.push_back(0xEE);
    for (const Bytes& datagram : {Bytes(valid.begin(), valid.end() - 1), otherMagic, longer}) {
        ::sendto(master, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
    }
    // The longer one is delivered as its first twelve bytes.
    const auto packets = sink.waitFor(1);
    ::close(master);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0], valid);
    slave.setDelegate(nullptr);
}
