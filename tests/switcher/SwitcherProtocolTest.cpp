#include "SwitcherProtocol.h"

#include <gtest/gtest.h>

using namespace switcherwire;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes reliable(const std::vector<Command>& commands)
{
    return encode(Header{kReliable, 0x8001, 0, 0, 7}, commands);
}

}  // namespace

TEST(SwitcherProtocol, GoodDatagramsReadBackAsWritten)
{
    const auto hello = parse(encodeHello(Header{0, 0x1234, 0, 0, 0}, kHelloConnect));
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->header.flags, kHello);
    EXPECT_EQ(hello->header.session, 0x1234);
    EXPECT_EQ(hello->hello, Bytes({kHelloConnect, 0, 0, 0, 0, 0, 0, 0}));

    const Header ack{kAck | kRequestResend, 0x8001, 0x7FFF, 42, 0};
    const auto parsedAck = parse(encode(ack));
    ASSERT_TRUE(parsedAck);
    EXPECT_EQ(parsedAck->header, ack);
    EXPECT_TRUE(parsedAck->commands.empty());

    const std::vector<Command> commands = {productNameCommand("Studio"), sourceOnBlockCommand(fourCC("PrgI"), {0, 3010}),
                                           emptyCommand(fourCC("InCm"))};
    const auto packet = parse(reliable(commands));
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->header.packetId, 7);
    EXPECT_EQ(packet->commands, commands);
    EXPECT_FALSE(packet->commandsCut);
}

TEST(SwitcherProtocol, MalformedDatagramsAreDroppedOrCutAtTheBadBlock)
{
    const Bytes good = reliable({mixEffectCountCommand(1), emptyCommand(fourCC("InCm"))});
    Bytes longer = good;
    longer.push_back(0);
    Bytes blockTooLong = good;
    blockTooLong[12 + 8 + 4 + 1] = 0xFF;  // the second block's length runs past the end
    Bytes blockTooShort = good;
    blockTooShort[12 + 8 + 4 + 1] = 4;  // shorter than a block header
    Bytes helloCut = encodeHello(Header{}, kHelloConnect);
    helloCut.resize(16);
    helloCut[1] = 16;
    struct Case {
        const char* what;
        Bytes bytes;
        bool dropped;
        size_t commands;
    };
    const std::vector<Case> cases = {
        {"empty", {}, true, 0},
        {"short of a header", Bytes(good.begin(), good.begin() + 11), true, 0},
        {"length field past the end", Bytes(good.begin(), good.end() - 1), true, 0},
        {"length field short of the end", longer, true, 0},
        {"hello without its payload", helloCut, true, 0},
        {"block running past the end", blockTooLong, false, 1},
        {"block shorter than its header", blockTooShort, false, 1},
        {"unknown block skipped by length", reliable({emptyCommand(fourCC("Zzzz")), mixEffectCountCommand(2)}), false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto datagram = parse(c.bytes);
        ASSERT_EQ(!datagram, c.dropped);
        if (datagram) {
            EXPECT_EQ(datagram->commands.size(), c.commands);
            EXPECT_EQ(datagram->commandsCut, c.what != std::string("unknown block skipped by length"));
        }
    }
    EXPECT_EQ(readMixEffectCount(parse(cases.back().bytes)->commands[1].payload), 2);
}

TEST(SwitcherProtocol, CommandPayloadsReadBackAndShortOnesAreRefused)
{
    const InputProperties camera{3010, "Media Player 1", "MP1", uint8_t(PortType::MediaPlayerFill)};
    EXPECT_EQ(readInputProperties(inputPropertiesCommand(camera).payload), camera);
    EXPECT_EQ(readProductName(productNameCommand("Studio 4K").payload), "Studio 4K");
    const auto version = readVersion(versionCommand({2, 30}).payload);
    ASSERT_TRUE(version);
    EXPECT_EQ(version->major, 2);
    EXPECT_EQ(version->minor, 30);
    const std::vector<Tally> tally = {{1, true, false}, {2, false, true}, {3, true, true}};
    EXPECT_EQ(readTally(tallyCommand(tally).payload), tally);
    EXPECT_EQ(readBlock(blockCommand(fourCC("DCut"), 0).payload), 0);

    // A long name filling its field is cut at the field; a zero byte ends it earlier.
    auto full = inputPropertiesCommand({1, std::string(30, 'x'), "ABCDEFG", 0});
    EXPECT_EQ(readInputProperties(full.payload)->longName, std::string(20, 'x'));
    EXPECT_EQ(readInputProperties(full.payload)->shortName, "ABCD");
    full.payload[5] = 0;
    EXPECT_EQ(readInputProperties(full.payload)->longName, "xxx");

    auto tallyOverrun = tallyCommand(tally);
    tallyOverrun.payload[1] = 4;  // four entries announced, three present
    EXPECT_FALSE(readTally(tallyOverrun.payload));
    EXPECT_FALSE(readVersion(Bytes(3)));
    EXPECT_FALSE(readProductName(Bytes(43)));
    EXPECT_FALSE(readMixEffectCount({}));
    EXPECT_FALSE(readInputProperties(Bytes(35)));
    EXPECT_FALSE(readSourceOnBlock(Bytes(3)));
    EXPECT_FALSE(readTally(Bytes(1)));
    EXPECT_FALSE(readBlock(Bytes(2)));

    EXPECT_EQ(portTypeCode(uint8_t(PortType::External)), fourCC("extn"));
    EXPECT_EQ(portTypeCode(uint8_t(PortType::MediaPlayerFill)), fourCC("mpfl"));
    EXPECT_EQ(portTypeCode(77), 0u);
    EXPECT_EQ(fourCC("sedi"), 0x73656469u);
}

TEST(SwitcherProtocol, OversizedPacketsAreNotWritten)
{
    EXPECT_TRUE(encode(Header{kReliable}, std::vector<Command>{Command{fourCC("Big!"), Bytes(kMaxDatagram)}}).empty());
}

TEST(SwitcherReliableLink, TakesPacketsInOrderAndAsksForGaps)
{
    ReliableLink link;
    EXPECT_EQ(link.receive(1), ReliableLink::Arrival::Next);
    EXPECT_EQ(link.receive(3), ReliableLink::Arrival::Gap);
    EXPECT_EQ(parse(link.resendRequestBytes())->header.resendId, 2);
    EXPECT_EQ(link.receive(1), ReliableLink::Arrival::Repeat);
    EXPECT_EQ(link.receive(2), ReliableLink::Arrival::Next);
    EXPECT_EQ(parse(link.ackBytes())->header.ackId, 2);

    // Ids wrap from the highest back to 1, and order holds across the wrap.
    EXPECT_EQ(nextPacketId(kMaxPacketId), 1);
    EXPECT_TRUE(isAfter(1, kMaxPacketId));
    EXPECT_FALSE(isAfter(kMaxPacketId, 1));
    EXPECT_FALSE(isAfter(5, 5));
}

TEST(SwitcherReliableLink, ResendsWhatStaysUnacknowledged)
{
    using namespace std::chrono_literals;
    ReliableLink link;
    link.setSession(0x8003);
    const auto start = ReliableLink::Clock::now();
    for (int i = 0; i < 3; ++i)
        ASSERT_FALSE(link.send({}, start).empty());
    EXPECT_TRUE(link.due(start + 100ms, 200ms).empty());
    link.acknowledged(1);
    const auto due = link.due(start + 250ms, 200ms);
    ASSERT_EQ(due.size(), 2u);
    const auto resent = parse(due[0]);
    EXPECT_EQ(resent->header.packetId, 2);
    EXPECT_EQ(resent->header.session, 0x8003);
    EXPECT_TRUE(resent->header.flags & kResent);
    EXPECT_TRUE(link.due(start + 300ms, 200ms).empty());
    link.resendRequested(3);
    EXPECT_EQ(link.due(start + 300ms, 200ms).size(), 1u);
    link.acknowledged(3);
    EXPECT_EQ(link.outstanding(), 0u);
}
