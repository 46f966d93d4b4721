#include "SimulatedSwitcher.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

using namespace switcherwire;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kResendAfter = std::chrono::milliseconds(200);
constexpr auto kKeepAlive = std::chrono::milliseconds(500);

}  // namespace

const std::vector<InputProperties>& SimulatedSwitcher::inputs()
{
    static const std::vector<InputProperties> list = {
        {1, "Camera 1", "CAM1", uint8_t(PortType::External)},
        {2, "Camera 2", "CAM2", uint8_t(PortType::External)},
        {3, "Camera 3", "CAM3", uint8_t(PortType::External)},
        {4, "Camera 4", "CAM4", uint8_t(PortType::External)},
        {1000, "Color Bars", "BARS", uint8_t(PortType::ColorBars)},
        {3010, "Media Player 1", "MP1", uint8_t(PortType::MediaPlayerFill)},
    };
    return list;
}

SimulatedSwitcher::SimulatedSwitcher()
{
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof local;
    if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size) == 0)
        port_ = ntohs(local.sin_port);
    thread_ = std::thread([this] { run(); });
}

SimulatedSwitcher::~SimulatedSwitcher()
{
    stop_ = true;
    thread_.join();
    ::close(fd_);
}

std::string SimulatedSwitcher::address() const
{
    return "127.0.0.1:" + std::to_string(port_);
}

void SimulatedSwitcher::setLossEvery(int n)
{
    std::lock_guard lock(mutex_);
    lossEvery_ = n;
}

void SimulatedSwitcher::setSilent(bool silent)
{
    std::lock_guard lock(mutex_);
    silent_ = silent;
    if (silent)
        connected_ = answered_ = false;
}

void SimulatedSwitcher::setFault(Fault fault)
{
    std::lock_guard lock(mutex_);
    fault_ = fault;
}

void SimulatedSwitcher::takeToProgram(uint16_t input)
{
    std::lock_guard lock(mutex_);
    preview_ = program_;
    program_ = input;
    if (connected_)
        sendState();
}

uint16_t SimulatedSwitcher::program() const
{
    std::lock_guard lock(mutex_);
    return program_;
}

uint16_t SimulatedSwitcher::preview() const
{
    std::lock_guard lock(mutex_);
    return preview_;
}

std::vector<std::string> SimulatedSwitcher::commands() const
{
    std::lock_guard lock(mutex_);
    return commands_;
}

int SimulatedSwitcher::sessions() const
{
    std::lock_guard lock(mutex_);
    return sessions_;
}

void SimulatedSwitcher::run()
{
    std::vector<uint8_t> buffer(2048);
    while (!stop_) {
        pollfd fds{fd_, POLLIN, 0};
        (void)::poll(&fds, 1, 10);
        std::lock_guard lock(mutex_);
        for (;;) {
            sockaddr_in from{};
            socklen_t size = sizeof from;
            const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                         reinterpret_cast<sockaddr*>(&from), &size);
            if (n < 0)
                break;
            if (lossEvery_ > 0 && ++received_ % lossEvery_ == 0)
                continue;
            if (!silent_)
                handle(std::span<const uint8_t>(buffer.data(), size_t(n)), from);
        }
        if (silent_)
            continue;
        const auto now = Clock::now();
        if (answered_ && now - answeredAt_ >= kResendAfter) {
            sendRaw(encodeHello(Header{0, helloSession_, 0, 0, 0}, kHelloAccepted));
            answeredAt_ = now;
        }
        if (!connected_)
            continue;
        for (const auto& bytes : link_.due(now, kResendAfter))
            sendRaw(bytes);
        if (link_.outstanding() == 0 && now - link_.lastSent() >= kKeepAlive)
            sendReliable({});
    }
}

void SimulatedSwitcher::handle(std::span<const uint8_t> bytes, const sockaddr_in& from)
{
    const auto datagram = parse(bytes);
    if (!datagram)
        return;
    const Header& header = datagram->header;
    if (header.flags & kHello) {
        if (datagram->hello[0] != kHelloConnect)
            return;
        // A new client, or the same one again after a loss of our answer.
        if (header.session != helloSession_ || connected_) {
            helloSession_ = header.session;
            ++nextSession_;
            connected_ = false;
        }
        client_ = from;
        answered_ = true;
        answeredAt_ = Clock::now();
        link_ = ReliableLink();
        link_.setSession(nextSession_);
        sendRaw(encodeHello(Header{0, helloSession_, 0, 0, 0}, kHelloAccepted));
        return;
    }
    if (answered_ && header.session == helloSession_ && (header.flags & kAck)) {
        answered_ = false;
        connected_ = true;
        ++sessions_;
        std::vector<Command> head;
        head.push_back(versionCommand({uint16_t(fault_ == Fault::WrongVersion ? 1 : kProtocolMajor), 30}));
        if (fault_ != Fault::NoProductName)
            head.push_back(productNameCommand("Simulated Switcher 4K"));
        head.push_back(mixEffectCountCommand(fault_ == Fault::NoMixEffectBlock ? 0 : 1));
        sendReliable(head);
        std::vector<Command> properties;
        for (const InputProperties& input : inputs())
            properties.push_back(inputPropertiesCommand(input));
        if (fault_ == Fault::CorruptData)
            properties.front().payload.resize(10);
        sendReliable(properties);
        sendState();
        if (fault_ != Fault::IncompleteDump)
            sendReliable({emptyCommand(fourCC("InCm"))});
        return;
    }
    if (!connected_ || header.session != link_.session())
        return;
    if (header.flags & kAck)
        link_.acknowledged(header.ackId);
    if (header.flags & kRequestResend)
        link_.resendRequested(header.resendId);
    if (!(header.flags & kReliable))
        return;
    switch (link_.receive(header.packetId)) {
    case ReliableLink::Arrival::Gap:
        sendRaw(link_.resendRequestBytes());
        return;
    case ReliableLink::Arrival::Repeat:
        sendRaw(link_.ackBytes());
        return;
    case ReliableLink::Arrival::Next:
        sendRaw(link_.ackBytes());
        for (const Command& command : datagram->commands)
            apply(command);
        return;
    }
}

void SimulatedSwitcher::apply(const Command& command)
{
    if (command.name == fourCC("CPvI")) {
        if (const auto source = readSourceOnBlock(command.payload)) {
            commands_.push_back("CPvI " + std::to_string(source->input));
            preview_ = source->input;
            sendState();
        }
    } else if (command.name == fourCC("DCut") || command.name == fourCC("DAut")) {
        commands_.push_back(command.name == fourCC("DCut") ? "DCut" : "DAut");
        swap();
    }
}

void SimulatedSwitcher::swap()
{
    std::swap(program_, preview_);
    sendState();
}

void SimulatedSwitcher::sendState()
{
    std::vector<Tally> tally;
    for (const InputProperties& input : inputs())
        tally.push_back({input.id, input.id == program_, input.id == preview_});
    sendReliable({sourceOnBlockCommand(fourCC("PrgI"), {0, program_}), sourceOnBlockCommand(fourCC("PrvI"), {0, preview_}),
                  tallyCommand(tally)});
}

void SimulatedSwitcher::sendReliable(const std::vector<Command>& commands)
{
    sendRaw(link_.send(commands, Clock::now()));
}

void SimulatedSwitcher::sendRaw(const std::vector<uint8_t>& bytes)
{
    if (bytes.empty() || (lossEvery_ > 0 && ++sent_ % lossEvery_ == 0))
        return;
    (void)::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&client_), sizeof client_);
}
