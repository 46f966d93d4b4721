#include "ZelmoraProtocol.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace zelmora {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

std::vector<std::string_view> words(std::string_view text)
{
    std::vector<std::string_view> out;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && isBlank(text[at]))
            ++at;
        const std::size_t begin = at;
        while (at < text.size() && !isBlank(text[at]))
            ++at;
        if (at > begin)
            out.push_back(text.substr(begin, at - begin));
    }
    return out;
}

// Words joined by one space, lower case: "Clip   ID" and "clip id" name the same thing.
std::string normalName(std::string_view text)
{
    std::string out;
    for (const auto word : words(text)) {
        if (!out.empty())
            out += ' ';
        out += lower(word);
    }
    return out;
}

std::optional<std::uint64_t> unsignedValue(std::string_view text)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<bool> boolValue(std::string_view text)
{
    const std::string value = lower(text);
    if (value == "true")
        return true;
    if (value == "false")
        return false;
    return std::nullopt;
}

// [+|-] then one to four fields of one or two digits, separated by colons.
bool isTimecode(std::string_view text)
{
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
        text.remove_prefix(1);
    int fields = 0;
    while (true) {
        std::size_t digits = 0;
        while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
            ++digits;
        if (digits < 1 || digits > 2 || ++fields > 4)
            return false;
        text.remove_prefix(digits);
        if (text.empty())
            return true;
        if (text.front() != ':')
            return false;
        text.remove_prefix(1);
    }
}

Parsed failed(ReplyCode code) { return Parsed{std::nullopt, code}; }

struct CommandSpec {
    const char* name;
    Command command;
};
constexpr CommandSpec kCommands[] = {
    {"ping", Command::Ping},         {"device info", Command::DeviceInfo}, {"slot info", Command::SlotInfo},
    {"transport info", Command::TransportInfo}, {"clips count", Command::ClipsCount},
    {"clips get", Command::ClipsGet}, {"play", Command::Play},           {"stop", Command::Stop},
    {"goto", Command::Goto},         {"notify", Command::Notify},         {"quit", Command::Quit},
};

// Sets the request's field for one parameter; the error code when the name or value is refused.
ReplyCode applyParameter(Request& r, const std::string& name, std::string_view value)
{
    const auto setUnsigned = [&](std::optional<std::uint64_t>& field) {
        field = unsignedValue(value);
        return field ? ReplyCode::Ok : ReplyCode::InvalidValue;
    };
    const auto setBool = [&](std::optional<bool>& field) {
        field = boolValue(value);
        return field ? ReplyCode::Ok : ReplyCode::InvalidValue;
    };
    switch (r.command) {
    case Command::SlotInfo:
        if (name == "slot id")
            return setUnsigned(r.slotID);
        break;
    case Command::ClipsGet:
        if (name == "clip id")
            return setUnsigned(r.clipID);
        if (name == "count")
            return setUnsigned(r.count);
        break;
    case Command::Play:
        if (name == "single clip")
            return setBool(r.singleClip);
        if (name == "loop")
            return setBool(r.loop);
        if (name == "speed")
            return value == "100" ? ReplyCode::Ok : ReplyCode::InvalidValue;
        break;
    case Command::Goto:
        if (name == "clip id")
            return setUnsigned(r.clipID);
        if (name == "timecode") {
            if (!isTimecode(value))
                return ReplyCode::InvalidValue;
            r.timecode = std::string(value);
            return ReplyCode::Ok;
        }
        break;
    case Command::Notify:
        if (name == "transport")
            return setBool(r.notifyTransport);
        if (name == "slot")
            return setBool(r.notifySlot);
        if (name == "remote")
            return setBool(r.notifyRemote);
        if (name == "configuration")
            return setBool(r.notifyConfiguration);
        break;
    default:
        break;
    }
    return ReplyCode::UnsupportedParameter;
}

bool isPrintableLine(std::string_view line)
{
    return std::none_of(line.begin(), line.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t') || u == 0x7f;
    });
}

}  // namespace

Parsed parseCommand(std::string_view name, std::string_view parameters)
{
    const std::string command = normalName(name);
    const auto spec = std::find_if(std::begin(kCommands), std::end(kCommands),
                                   [&](const CommandSpec& s) { return command == s.name; });
    if (spec == std::end(kCommands))
        return failed(ReplyCode::SyntaxError);
    Request request;
    request.command = spec->command;

    // "a b: v c: w": name words up to one ending in a colon, then one value word.
    std::string parameterName;
    std::size_t count = 0;
    bool expectingValue = false;
    for (const auto word : words(parameters)) {
        if (expectingValue) {
            if (++count > kMaxParameters)
                return failed(ReplyCode::SyntaxError);
            if (const ReplyCode error = applyParameter(request, parameterName, word); error != ReplyCode::Ok)
                return failed(error);
            parameterName.clear();
            expectingValue = false;
            continue;
        }
        const bool last = word.back() == ':';
        if (!parameterName.empty())
            parameterName += ' ';
        parameterName += lower(last ? word.substr(0, word.size() - 1) : word);
        expectingValue = last;
    }
    if (!parameterName.empty())
        return failed(ReplyCode::SyntaxError);  // a name without its value
    if (request.command == Command::Goto && request.clipID.has_value() == request.timecode.has_value())
        return failed(ReplyCode::SyntaxError);  // exactly one destination
    return Parsed{request, ReplyCode::Ok};
}

Parsed parseLine(std::string_view line)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return parseCommand(line, {});
    return parseCommand(line.substr(0, colon), line.substr(colon + 1));
}

std::vector<Parsed> CommandReader::feed(std::string_view bytes)
{
    std::vector<Parsed> out;
    for (const char c : bytes) {
        if (c == '\n') {
            if (skipping_)
                skipping_ = false;
            else
                takeLine(out);
            line_.clear();
        } else if (skipping_) {
            continue;
        } else if (line_.size() >= maxLineLength_) {
            line_.clear();
            skipping_ = true;
            if (block_)
                block_->failed = true;
            else
                out.push_back(failed(ReplyCode::SyntaxError));
        } else {
            line_ += c;
        }
    }
    return out;
}

void CommandReader::takeLine(std::vector<Parsed>& out)
{
    std::string_view line(line_);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    const bool valid = isValidUTF8(line) && isPrintableLine(line);
    const bool blank = std::all_of(line.begin(), line.end(), isBlank);

    if (block_) {
        if (blank && valid) {
            out.push_back(block_->failed ? failed(ReplyCode::SyntaxError) : parseCommand(block_->name, block_->parameters));
            block_.reset();
        } else if (!valid || ++block_->lines > kMaxParameters || line.find(':') == std::string_view::npos) {
            block_->failed = true;
        } else {
            block_->parameters += ' ';
            block_->parameters += line;
        }
        return;
    }
    if (!valid) {
        out.push_back(failed(ReplyCode::SyntaxError));
        return;
    }
    if (blank)
        return;
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && std::all_of(line.begin() + std::ptrdiff_t(colon) + 1, line.end(), isBlank)) {
        block_ = Block{std::string(line.substr(0, colon)), {}, 0, false};
        return;
    }
    out.push_back(parseLine(line));
}

bool isValidUTF8(std::string_view bytes)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        std::size_t extra = 0;
        std::uint32_t value = 0;
        if (b < 0x80) {
            ++i;
            continue;
        }
        if (b >= 0xC2 && b <= 0xDF)
            extra = 1, value = b & 0x1F;
        else if (b >= 0xE0 && b <= 0xEF)
            extra = 2, value = b & 0x0F;
        else if (b >= 0xF0 && b <= 0xF4)
            extra = 3, value = b & 0x07;
        else
            return false;
        if (i + extra >= bytes.size())
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(bytes[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            value = value << 6 | (c & 0x3F);
        }
        if ((extra == 2 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
            (extra == 3 && (value < 0x10000 || value > 0x10FFFF)))
            return false;
        i += extra + 1;
    }
    return true;
}

std::string singleLine(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return out;
}

std::string_view textOf(ReplyCode code)
{
    switch (code) {
    case ReplyCode::SyntaxError: return "syntax error";
    case ReplyCode::UnsupportedParameter: return "unsupported parameter";
    case ReplyCode::InvalidValue: return "invalid value";
    case ReplyCode::OutOfRange: return "out of range";
    case ReplyCode::ConnectionRejected: return "connection rejected";
    case ReplyCode::Ok: return "ok";
    case ReplyCode::SlotInfo: return "slot info";
    case ReplyCode::DeviceInfo: return "device info";
    case ReplyCode::ClipsInfo: return "clips info";
    case ReplyCode::TransportInfo:
    case ReplyCode::AsyncTransportInfo: return "transport info";
    case ReplyCode::Notify: return "notify";
    case ReplyCode::ClipsCount: return "clips count";
    case ReplyCode::ConnectionInfo: return "connection info";
    }
    return "internal error";
}

std::string statusReply(ReplyCode code)
{
    return std::to_string(int(code)) + ' ' + std::string(textOf(code)) + "\r\n";
}

std::string blockReply(ReplyCode code, const Fields& fields, const std::vector<std::string>& lines)
{
    std::string out = std::to_string(int(code)) + ' ' + std::string(textOf(code)) + ":\r\n";
    for (const auto& [name, value] : fields)
        out += singleLine(name) + ": " + singleLine(value) + "\r\n";
    for (const auto& line : lines)
        out += singleLine(line) + "\r\n";
    return out + "\r\n";
}

std::string banner(std::string_view model)
{
    return blockReply(ReplyCode::ConnectionInfo, {{"protocol version", kProtocolVersion}, {"model", std::string(model)}});
}

}  // namespace zelmora
