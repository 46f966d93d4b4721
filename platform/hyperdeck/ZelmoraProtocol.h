#pragma once
// The HyperDeck text protocol as the server speaks it: a pure command reader and reply formatter,
// apart from the sockets (ZelmoraServer), so both are tested and fuzzed without a network.
//
// Wire format (TCP, ASCII lines, UTF-8 allowed in values):
// - Lines end with LF or CR LF. A line longer than the reader's cap, a line that is not UTF-8,
//   or a line holding control characters other than tab is refused with "100 syntax error".
// - A command is one line "name" or "name: parameter: value parameter: value ...", or a block:
//   "name:" alone on its line, then one "parameter: value" per line, ended by an empty line.
//   Names and parameter names are matched without regard to case; a parameter name may hold
//   spaces ("clip id", "single clip"); a value is one word.
// - Replies: a status line "<code> <text>" ("200 ok", "100 syntax error"), or a block
//   "<code> <title>:" followed by "name: value" or free lines and an empty line. Every line of
//   a reply has its CR and LF (and other control characters) turned into spaces, so no value
//   can add lines. Asynchronous blocks have codes 5xx (the banner is 500).
//
// Commands, and the delegate questions (ZelmoraDelegate.h) each one asks:
//   ping                      → 200 ok
//   device info               → 204 device info: protocol version, model, slot count
//   slot info [slot id: n]    → 202 slot info: slot id (3), status "mounted", video format (8);
//                               another slot id than the delegate's → 109 out of range
//   transport info            → 208 transport info: status (1), speed (2), slot id (3),
//                               clip id (4), single clip (6), display timecode (5), timecode (5),
//                               video format (8), loop (7)
//   clips count               → 214 clips count: clip count (9)
//   clips get [clip id: n] [count: m]
//                             → 205 clips info: clip count, then the lines of (10) from clip n
//                               (1-based), at most m of them
//   play [single clip: b] [loop: b] [speed: 100]
//                             → single clip true (15) / false (16) first; then loop true: loop on
//                               the current cue (17) when single clip holds (given true, or else
//                               the current answer of 6), else loop the playlist (19); loop false:
//                               (18) when single clip holds, else (20); then start (11); 200 ok.
//                               Only normal speed plays: another speed is 102 invalid value.
//   stop                      → (12); 200 ok
//   goto: clip id: n          → (13) for 1 ≤ n ≤ (9); 109 out of range otherwise
//   goto: timecode: [+|-]hh:mm:ss:ff
//                             → (14) with the text as given (one to four fields of digits)
//   notify [transport: b] [slot: b] [remote: b] [configuration: b]
//                             → without parameters 209 notify: the four switches; with them 200
//                               ok. Only "transport" sends anything: 508 transport info: with the
//                               fields of transport info whose answers changed.
//   quit                      → 200 ok, then the server closes the connection.
// Errors: an unknown command or a malformed line 100 syntax error, an unknown parameter 101
// unsupported parameter, a bad value 102 invalid value; the server adds 109 out of range and
// 120 connection rejected (connections beyond its cap).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelmora {

inline constexpr std::uint16_t kDefaultPort = 9993;
inline constexpr const char* kProtocolVersion = "1.11";
inline constexpr std::size_t kDefaultMaxLineLength = 1024;
// Parameters one command may carry, in a line or a block.
inline constexpr std::size_t kMaxParameters = 16;

enum class ReplyCode : int {
    SyntaxError = 100,
    UnsupportedParameter = 101,
    InvalidValue = 102,
    OutOfRange = 109,
    ConnectionRejected = 120,
    Ok = 200,
    SlotInfo = 202,
    DeviceInfo = 204,
    ClipsInfo = 205,
    TransportInfo = 208,
    Notify = 209,
    ClipsCount = 214,
    ConnectionInfo = 500,
    AsyncTransportInfo = 508,
};

enum class Command { Ping, DeviceInfo, SlotInfo, TransportInfo, ClipsCount, ClipsGet, Play, Stop, Goto, Notify, Quit };

// One command, its parameters checked. Only the fields of its command are set.
struct Request {
    Command command = Command::Ping;
    std::optional<std::uint64_t> slotID;     // slot info
    std::optional<std::uint64_t> clipID;     // goto, clips get
    std::optional<std::uint64_t> count;      // clips get
    std::optional<std::string> timecode;     // goto: the text as given, sign included
    std::optional<bool> singleClip, loop;    // play
    std::optional<bool> notifyTransport, notifySlot, notifyRemote, notifyConfiguration;  // notify
};

// What one command line or block came to: a request, or the error to answer with.
struct Parsed {
    std::optional<Request> request;
    ReplyCode error = ReplyCode::Ok;
};

// Parses one complete command given as its name and its "parameter: value" words (the part of a
// line after "name:", or a block's lines joined by spaces). Pure.
Parsed parseCommand(std::string_view name, std::string_view parameters);
// Parses one command line (without its terminator). Pure.
Parsed parseLine(std::string_view line);

// Splits a byte stream into commands: bytes go in as they arrive, in pieces of any size; each
// complete command (line or block) comes out parsed, in order. A refused line comes out as
// SyntaxError; the rest of an overlong line is skipped up to its end. Not thread-safe (one per
// connection).
class CommandReader {
public:
    explicit CommandReader(std::size_t maxLineLength = kDefaultMaxLineLength) : maxLineLength_(maxLineLength) {}

    std::vector<Parsed> feed(std::string_view bytes);
    // Bytes of an unfinished line are held (a half line), or a block is open.
    bool isMidCommand() const { return !line_.empty() || skipping_ || block_.has_value(); }

private:
    void takeLine(std::vector<Parsed>& out);

    std::size_t maxLineLength_;
    std::string line_;
    bool skipping_ = false;  // inside an overlong line, up to its end
    // An open block: its command name and the parameter words so far; a refused line fails it,
    // and it then answers one syntax error at its end.
    struct Block {
        std::string name;
        std::string parameters;
        std::size_t lines = 0;
        bool failed = false;
    };
    std::optional<Block> block_;
};

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUTF8(std::string_view bytes);
// The text with CR, LF and every other control character turned into spaces.
std::string singleLine(std::string_view text);

// --- Replies (pure) -----------------------------------------------------------------------------
using Fields = std::vector<std::pair<std::string, std::string>>;

// The text of a code: "ok", "syntax error", ..., "transport info" (208 and 508).
std::string_view textOf(ReplyCode code);
// "<code> <text>\r\n".
std::string statusReply(ReplyCode code);
// "<code> <text>:\r\n", each field as "name: value\r\n", each free line, then "\r\n".
std::string blockReply(ReplyCode code, const Fields& fields, const std::vector<std::string>& lines = {});
// The banner a new connection gets: 500 connection info with the protocol version and model.
std::string banner(std::string_view model);

}  // namespace zelmora
