#include "ArtNetPacket.h"

#include <gtest/gtest.h>

#include <climits>
#include <utility>
#include <vector>

using namespace ArtNet;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

QByteArray header(int opLo, int opHi)
{
    return QByteArray("Art-Net", 8) + bytes({opLo, opHi});
}

QByteArray artDmx(int subUni, int net, int declaredLength, const QByteArray& data)
{
    return header(0x00, 0x50) + bytes({0, 14, 7, 0, subUni, net, declaredLength >> 8, declaredLength & 0xFF}) + data;
}

std::vector<std::pair<int, int>> changes(const QByteArray& slotValues, std::array<std::uint8_t, kDmxSlots>& cache)
{
    std::vector<std::pair<int, int>> out;
    applyDmxSlots(slotValues, cache, [&](int slot, int value) { out.emplace_back(slot, value); });
    return out;
}

}  // namespace

TEST(ArtNetPacket, OpCodeNeedsElevenBytesAndTheExactId)
{
    struct Case {
        const char* name;
        QByteArray datagram;
        std::optional<std::uint16_t> expected;
    };
    QByteArray bang = header(0x00, 0x20) + bytes({0});
    bang[7] = '!';
    const std::vector<Case> cases = {
        {"empty", {}, std::nullopt},
        {"ten bytes", header(0x00, 0x20), std::nullopt},
        {"eleven bytes", header(0x00, 0x20) + bytes({0}), 0x2000},
        {"bang instead of zero", bang, std::nullopt},
        {"other protocol", QByteArray("Art-Not", 8) + bytes({0, 0x50, 0}), std::nullopt},
        {"unknown opcode read little-endian", header(0x34, 0x12) + bytes({0}), 0x1234},
    };
    for (const auto& c : cases)
        EXPECT_EQ(opCodeOf(c.datagram), c.expected) << c.name;
}

TEST(ArtNetPacket, ArtDmxSlotsAreBoundedByLengthData512)
{
    struct Case {
        const char* name;
        QByteArray datagram;
        std::optional<int> slotCount;
    };
    const std::vector<Case> cases = {
        {"shorter than the header", artDmx(0, 0, 4, {}).left(17), std::nullopt},
        {"length zero", artDmx(0, 0, 0, QByteArray(8, 'x')), 0},
        {"length four", artDmx(0, 0, 4, QByteArray(8, 'x')), 4},
        {"odd length", artDmx(0, 0, 3, QByteArray(8, 'x')), 3},
        {"length 600, 530 present", artDmx(0, 0, 600, QByteArray(530, 'x')), 512},
        {"length 512, 20 present", artDmx(0, 0, 512, QByteArray(20, 'x')), 20},
        {"length 65535, nothing present", artDmx(0, 0, 0xFFFF, {}), 0},
    };
    for (const auto& c : cases) {
        const auto dmx = parseArtDmx(c.datagram);
        ASSERT_EQ(dmx.has_value(), c.slotCount.has_value()) << c.name;
        if (dmx) {
            EXPECT_EQ(dmx->slotValues.size(), *c.slotCount) << c.name;
        }
    }
    const auto dmx = parseArtDmx(artDmx(0x12, 0x34, 0x0102, {}));
    EXPECT_EQ(dmx->subUni, 0x12);
    EXPECT_EQ(dmx->net, 0x34);
    EXPECT_EQ(dmx->length, 0x0102);
}

TEST(ArtNetPacket, OnlyChangedSlotsAreReportedInOrder)
{
    std::array<std::uint8_t, kDmxSlots> cache{};
    EXPECT_TRUE(changes(QByteArray(512, '\0'), cache).empty());
    const QByteArray slotValues = bytes({10, 0, 0, 255});
    EXPECT_EQ(changes(slotValues, cache), (std::vector<std::pair<int, int>>{{1, 10}, {4, 255}}));
    EXPECT_TRUE(changes(slotValues, cache).empty());
    EXPECT_EQ(changes(bytes({10, 0, 7}), cache), (std::vector<std::pair<int, int>>{{3, 7}}));
    EXPECT_EQ(cache[3], 255) << "slots beyond the packet keep their last value";
    EXPECT_EQ(changes(QByteArray(600, '\1'), cache).size(), 512u);
}

TEST(ArtNetPacket, ArtPollIsFourteenExactBytes)
{
    EXPECT_EQ(artPollPacket(), QByteArray("Art-Net", 8) + bytes({0x00, 0x20, 0, 14, 0, 0xFF}));
}

TEST(ArtNetPacket, ArtPollReplyGoldenBytes)
{
    ArtNet_Packet_ArtPollReply reply;
    // The Port-Address the node listens to, here 1:2:3, is the one it advertises.
    assembleArtPollReply(reply, QStringLiteral("192.168.7.20"), QStringLiteral("Kavio"), 5112, 1, 0x23);

    QByteArray expected(kArtPollReplySize, '\0');
    expected.replace(0, 10, header(0x00, 0x21));
    expected.replace(10, 4, bytes({192, 168, 7, 20}));
    expected.replace(14, 6, bytes({0x36, 0x19, 0, 14, 1, 2}));
    expected[20] = 0x13;
    expected[21] = static_cast<char>(0xF8);
    expected.replace(26, 5, "Kavio");
    expected.replace(44, 5, "Kavio");
    expected[173] = 1;
    expected[174] = static_cast<char>(0x80);
    expected[190] = 0x23;
    EXPECT_EQ(reply.encode().toHex(' '), expected.toHex(' '));
}

TEST(ArtNetPacket, ArtPollReplyAdvertisesThePortAddressListenedTo)
{
    const struct {
        std::uint8_t net, subUni;
        std::uint8_t netSwitch, subSwitch, swOut;
    } cases[] = {{0, 0, 0, 0, 0}, {0, 0x01, 0, 0, 1}, {1, 0x23, 1, 2, 0x23}, {0x7F, 0xFF, 0x7F, 0x0F, 0xFF}, {0xFF, 0x40, 0x7F, 4, 0x40}};
    for (const auto& c : cases) {
        ArtNet_Packet_ArtPollReply reply;
        assembleArtPollReply(reply, QStringLiteral("2.0.0.7"), QStringLiteral("Kavio"), 0, c.net, c.subUni);
        const auto read = ArtNet_Packet_ArtPollReply::decode(reply.encode());
        EXPECT_EQ(read.NetSwitch, c.netSwitch) << int(c.net) << "/" << int(c.subUni);
        EXPECT_EQ(read.SubSwitch, c.subSwitch) << int(c.net) << "/" << int(c.subUni);
        EXPECT_EQ(read.SwOut[0], c.swOut) << int(c.net) << "/" << int(c.subUni);
    }
}

TEST(ArtNetPacket, ArtPollReplyNamesAreCutAndTerminated)
{
    ArtNet_Packet_ArtPollReply reply;
    assembleArtPollReply(reply, QStringLiteral("10.0.0.1"), QString(100, QLatin1Char('n')), 0, 0, 0);
    const QByteArray encoded = reply.encode();
    EXPECT_EQ(encoded.mid(26, 18), QByteArray(17, 'n') + bytes({0}));
    EXPECT_EQ(encoded.mid(44, 64), QByteArray(63, 'n') + bytes({0}));
    EXPECT_EQ(encoded[108], '\0');

    // An interface name instead of an address must not fail; the address is then zeros.
    ArtNet_Packet_ArtPollReply byName;
    assembleArtPollReply(byName, QStringLiteral("eth0"), QStringLiteral("x"), 0x1FFFF, 0, 0);
    EXPECT_EQ(byName.IPAddress, (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
    EXPECT_EQ(byName.OemHi, 0xFF);
    EXPECT_EQ(byName.OemLo, 0xFF);
}

TEST(ArtNetPacket, ArtPollReplyNamesAreCutAtACharacterBoundary)
{
    // 16 ASCII bytes, then a 2-byte character that would straddle the 17-byte short name; and
    // 3-byte characters, 21 of which fill 63 bytes exactly, 22 of which straddle the long name.
    const struct {
        QString name;
        QByteArray shortName;
        QByteArray longName;
    } cases[] = {
        {QString(16, QLatin1Char('a')) + QStringLiteral("\u00e9"), QByteArray(16, 'a'), QByteArray(16, 'a') + "\xc3\xa9"},
        {QString(15, QLatin1Char('a')) + QStringLiteral("\u00e9"), QByteArray(15, 'a') + "\xc3\xa9", QByteArray(15, 'a') + "\xc3\xa9"},
        {QString(22, QChar(0x20AC)), QString(5, QChar(0x20AC)).toUtf8(), QString(21, QChar(0x20AC)).toUtf8()},
        {QString(16, QLatin1Char('a')) + QString::fromUcs4(U"\U0001F3AD"), QByteArray(16, 'a'), QByteArray(16, 'a') + "\xf0\x9f\x8e\xad"},
    };
    for (const auto& c : cases) {
        ArtNet_Packet_ArtPollReply reply;
        assembleArtPollReply(reply, QStringLiteral("10.0.0.1"), c.name, 0, 0, 0);
        const QByteArray encoded = reply.encode();
        const QByteArray shortName = encoded.mid(26, 18);
        const QByteArray longName = encoded.mid(44, 64);
        EXPECT_EQ(shortName.left(shortName.indexOf('\0')), c.shortName) << c.name.toStdString();
        EXPECT_EQ(longName.left(longName.indexOf('\0')), c.longName) << c.name.toStdString();
        EXPECT_EQ(QString::fromUtf8(shortName.left(shortName.indexOf('\0'))).toUtf8(), c.shortName) << "valid UTF-8";
    }
}

TEST(ArtNetPacket, PollRepliesGiveTheirDmxOutputPorts)
{
    auto reply = [](const char* name, int numPorts, std::array<std::uint8_t, 4> types, std::array<std::uint8_t, 4> swOut) {
        ArtNet_Packet_ArtPollReply r;
        assembleArtPollReply(r, QStringLiteral("10.0.0.9"), QString::fromUtf8(name), 0, 0, 0);
        r.SubSwitch = 3;
        r.NumPortsLo = static_cast<std::uint8_t>(numPorts);
        r.PortTypes = types;
        r.SwOut = swOut;
        return ArtNet_Packet_ArtPollReply::decode(r.encode());
    };
    // Ports that can input too (0xC0) are outputs all the same; input-only ports (0x40) are not.
    const auto ports = outputPortsOfPollReply(reply("Desk", 3, {0x80, 0x40, 0xC0, 0x80}, {0x21, 0x05, 0x07, 0}), "Kavio");
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].longName, QStringLiteral("Desk"));
    EXPECT_EQ(ports[0].ipAddress, QStringLiteral("10.0.0.9"));
    EXPECT_EQ(ports[0].subSwitch, 3);
    EXPECT_EQ(ports[0].universe, 1);
    EXPECT_EQ(ports[1].universe, 7);

    EXPECT_TRUE(outputPortsOfPollReply(reply("Desk", 0, {0x80, 0, 0, 0}, {}), "Kavio").empty());
    EXPECT_TRUE(outputPortsOfPollReply(reply("Kavio", 1, {0x80, 0, 0, 0}, {}), "Kavio").empty());
    EXPECT_EQ(outputPortsOfPollReply(reply("Desk", 200, {0x80, 0x80, 0x80, 0x80}, {1, 2, 3, 4}), "Kavio").size(), 4u);
}

TEST(ArtNetPacket, ShortOrMangledPollRepliesReadAsZero)
{
    const auto empty = ArtNet_Packet_ArtPollReply::decode({});
    EXPECT_EQ(empty.NumPortsLo, 0);
    EXPECT_TRUE(outputPortsOfPollReply(empty, "Kavio").empty());

    QByteArray truncated = header(0x00, 0x21) + bytes({1, 2, 3, 4});
    EXPECT_EQ(ArtNet_Packet_ArtPollReply::decode(truncated).IPAddress, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));

    ArtNet_Packet_ArtPollReply bad;
    bad.LongName = {0xC3, 0x28, 0xFF, 0xFE};  // not UTF-8, and no terminating zero needed
    bad.LongName.back() = 'z';
    bad.NumPortsLo = 1;
    bad.PortTypes[0] = 0x80;
    EXPECT_EQ(outputPortsOfPollReply(bad, "Kavio").size(), 1u);
}

TEST(ArtNetPacket, DirectedBroadcastOfSlash24)
{
    const std::vector<std::pair<QString, QString>> cases = {
        {QStringLiteral("192.168.7.20"), QStringLiteral("192.168.7.255")},
        {QStringLiteral("10.1.2.3"), QStringLiteral("10.1.2.255")},
        {QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("en0"), QStringLiteral("127.0.0.1")},
        {QString(), QStringLiteral("127.0.0.1")},
        {QStringLiteral(""), QStringLiteral("127.0.0.1")},
        {QStringLiteral("fe80::1"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("1.2.3.4.5"), QStringLiteral("127.0.0.1")},
    };
    for (const auto& [host, expected] : cases)
        EXPECT_EQ(directBroadcastAddressForHost(host), expected) << host.toStdString();
}

TEST(ArtNetPacket, LeadingIntValue)
{
    EXPECT_EQ(leadingIntValue(QStringLiteral(" 42abc")), 42);
    EXPECT_EQ(leadingIntValue(QStringLiteral("-7")), -7);
    EXPECT_EQ(leadingIntValue(QStringLiteral("x1")), 0);
    EXPECT_EQ(leadingIntValue(QStringLiteral("99999999999999999999")), INT_MAX);
}
