// The HyperDeck command reader and reply formatter, without sockets.

#include "ZelmoraProtocol.h"

#include <gtest/gtest.h>

using namespace zelmora;

namespace {

// A request reduced to text, so a table can say what each line must come to.
std::string describe(const Parsed& p)
{
    if (!p.request)
        return "error " + std::to_string(int(p.error));
    const Request& r = *p.request;
    std::string out = std::to_string(int(r.command));
    const auto add = [&](const char* name, const auto& field) {
        if (!field)
            return;
        out += std::string(" ") + name + "=";
        if constexpr (std::is_same_v<std::decay_t<decltype(*field)>, std::string>)
            out += *field;
        else
            out += std::to_string(*field);
    };
    add("slot", r.slotID);
    add("clip", r.clipID);
    add("count", r.count);
    add("tc", r.timecode);
    add("single", r.singleClip);
    add("loop", r.loop);
    add("transport", r.notifyTransport);
    add("slotn", r.notifySlot);
    add("remote", r.notifyRemote);
    add("config", r.notifyConfiguration);
    return out;
}

std::vector<std::string> readAll(CommandReader& reader, std::string_view bytes)
{
    std::vector<std::string> out;
    for (const auto& p : reader.feed(bytes))
        out.push_back(describe(p));
    return out;
}

}  // namespace

TEST(ZelmoraProtocol, LinesParseIntoCheckedRequests)
{
    const auto c = [](Command command) { return std::to_string(int(command)); };
    const struct {
        const char* line;
        std::string expected;
    } cases[] = {
        {"ping", c(Command::Ping)},
        {"  Transport   Info ", c(Command::TransportInfo)},
        {"device info", c(Command::DeviceInfo)},
        {"clips count", c(Command::ClipsCount)},
        {"clips get", c(Command::ClipsGet)},
        {"clips get: clip id: 2 count: 3", c(Command::ClipsGet) + " clip=2 count=3"},
        {"slot info: slot id: 1", c(Command::SlotInfo) + " slot=1"},
        {"stop", c(Command::Stop)},
        {"quit", c(Command::Quit)},
        {"play", c(Command::Play)},
        {"play: single clip: TRUE loop: false speed: 100", c(Command::Play) + " single=1 loop=0"},
        {"goto: clip id: 3", c(Command::Goto) + " clip=3"},
        {"goto: timecode: -00:00:30:00", c(Command::Goto) + " tc=-00:00:30:00"},
        {"goto: timecode: +5", c(Command::Goto) + " tc=+5"},
        {"goto: timecode: 01:02:03:04", c(Command::Goto) + " tc=01:02:03:04"},
        {"notify", c(Command::Notify)},
        {"notify: transport: true slot: false remote: true configuration: false",
         c(Command::Notify) + " transport=1 slotn=0 remote=1 config=0"},
        // Refused.
        {"record", "error 100"},
        {"", "error 100"},
        {"play: speed:", "error 100"},
        {"play: loop", "error 100"},
        {"goto", "error 100"},
        {"goto: clip id: 1 timecode: 00:00:01:00", "error 100"},
        {"ping: now: 1", "error 101"},
        {"play: speed: 50", "error 102"},
        {"play: loop: maybe", "error 102"},
        {"goto: clip id: -1", "error 102"},
        {"goto: clip id: 99999999999999999999", "error 102"},
        {"goto: timecode: 00:00:00:00:00", "error 102"},
        {"goto: timecode: 1:2a", "error 102"},
        {"goto: timecode: +", "error 102"},
        {"goto: timecode: 100:00", "error 102"},
        {"notify: transport: yes", "error 102"},
    };
    for (const auto& t : cases)
        EXPECT_EQ(describe(parseLine(t.line)), t.expected) << t.line;
}

TEST(ZelmoraProtocol, ReaderJoinsPiecesAndReadsBlocks)
{
    CommandReader reader;
    // A line arriving a byte at a time is one command, once its end is there.
    for (const char c : std::string("transport inf"))
        EXPECT_TRUE(reader.feed(std::string(1, c)).empty());
    EXPECT_TRUE(reader.isMidCommand());
    EXPECT_EQ(readAll(reader, "o\r\nping\n\n"), (std::vector<std::string>{"3", "0"}));
    EXPECT_FALSE(reader.isMidCommand());

    // A block: the name alone, its parameters one a line, an empty line.
    EXPECT_TRUE(reader.feed("goto:\r\nclip id: 2\r\n").empty());
    EXPECT_TRUE(reader.isMidCommand());
    EXPECT_EQ(readAll(reader, "\r\nstop\r\n"), (std::vector<std::string>{"8 clip=2", "7"}));
    // A bad parameter line spoils its block: one error at its end, nothing acted on.
    EXPECT_EQ(readAll(reader, "play:\nloop: true\nnonsense\n\nping\n"), (std::vector<std::string>{"error 100", "0"}));
}

TEST(ZelmoraProtocol, ReaderRefusesOverlongAndNonUTF8LinesAndGoesOn)
{
    CommandReader reader(32);
    const std::string overlong = "transport info" + std::string(40, ' ');
    // Refused once, its rest skipped up to its end, the next line read.
    EXPECT_EQ(readAll(reader, overlong), (std::vector<std::string>{"error 100"}));
    EXPECT_EQ(readAll(reader, std::string(100, 'x') + "\nping\n"), (std::vector<std::string>{"0"}));
    // A line of exactly the cap still reads.
    EXPECT_EQ(readAll(reader, "ping" + std::string(28, ' ') + "\n"), (std::vector<std::string>{"0"}));

    const char* bad[] = {"ping\xff\n", "ping \xc3\n", "ping\xc0\xaf\n", "ping\xed\xa0\x80\n", "pi\x01ng\n", "pi\rng\n"};
    for (const char* line : bad)
        EXPECT_EQ(readAll(reader, line), (std::vector<std::string>{"error 100"})) << line;
    EXPECT_TRUE(isValidUTF8("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xac"));
    EXPECT_FALSE(isValidUTF8("\xf4\x90\x80\x80"));
}

TEST(ZelmoraProtocol, RepliesAreWholeLinesAndValuesCannotAddLines)
{
    EXPECT_EQ(statusReply(ReplyCode::Ok), "200 ok\r\n");
    EXPECT_EQ(statusReply(ReplyCode::SyntaxError), "100 syntax error\r\n");
    EXPECT_EQ(statusReply(ReplyCode::ConnectionRejected), "120 connection rejected\r\n");
    EXPECT_EQ(banner("Kavio"), "500 connection info:\r\nprotocol version: 1.11\r\nmodel: Kavio\r\n\r\n");
    EXPECT_EQ(blockReply(ReplyCode::AsyncTransportInfo, {{"status", "play"}}), "508 transport info:\r\nstatus: play\r\n\r\n");
    EXPECT_EQ(blockReply(ReplyCode::ClipsInfo, {{"clip count", "1"}}, {"1: Act\r\n200 ok\n 00:00:00:00 00:00:10:00"}),
              "205 clips info:\r\nclip count: 1\r\n1: Act  200 ok  00:00:00:00 00:00:10:00\r\n\r\n");
}
