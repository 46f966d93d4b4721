#include "SwitcherSession.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <random>

using namespace switcherwire;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kNoAnswer = fourCC("cfnr");
constexpr uint32_t kIncompatible = fourCC("cfif");
constexpr uint32_t kCorrupt = fourCC("cfcd");
constexpr uint32_t kStateFailed = fourCC("cfss");
constexpr uint32_t kStateTimedOut = fourCC("cfst");
constexpr auto kPollInterval = std::chrono::milliseconds(20);

}  // namespace

struct SwitcherSession::Core {
    enum class Phase { Handshake, Dump, Connected, Ended };

    int fd = -1;
    int wake = -1;
    Timing timing;
    mutable std::mutex mutex;
    std::condition_variable phaseChanged;
    Phase phase = Phase::Handshake;
    uint32_t failure = 0;
    bool closed = false;
    uint16_t helloSession = 0;
    ReliableLink link;
    Clock::time_point started, dumpStarted, lastHeard, lastHello;
    Handlers handlers;
    bool haveVersion = false;
    bool haveProductName = false;
    std::string productName;
    int mixEffectBlocks = -1;
    std::vector<uint16_t> order;
    std::map<uint16_t, Input> inputs;
    std::optional<uint16_t> preview;

    using Events = std::vector<std::function<void()>>;

    ~Core()
    {
        if (fd >= 0)
            ::close(fd);
        if (wake >= 0)
            ::close(wake);
    }

    void sendBytes(const std::vector<uint8_t>& bytes) const
    {
        if (!bytes.empty())
            (void)::send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT);
    }

    // Caller holds the mutex.
    void end(uint32_t reason)
    {
        if (phase == Phase::Ended)
            return;
        failure = reason;
        phase = Phase::Ended;
        phaseChanged.notify_all();
    }

    void run()
    {
        std::vector<uint8_t> buffer(2048);
        for (;;) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
            (void)::poll(fds, 2, int(kPollInterval.count()));
            Events events;
            {
                std::lock_guard lock(mutex);
                if (closed)
                    return;
                for (;;) {
                    const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n < 0)
                        break;  // drained, or an ICMP error of an unanswered send
                    receive(std::span<const uint8_t>(buffer.data(), size_t(n)), events);
                }
                tick(Clock::now(), events);
            }
            for (const auto& event : events)
                event();
            std::lock_guard lock(mutex);
            if (phase == Phase::Ended || closed)
                return;
        }
    }

    // Caller holds the mutex.
    void tick(Clock::time_point now, Events& events)
    {
        switch (phase) {
        case Phase::Handshake:
            if (now - started >= timing.noAnswer) {
                end(kNoAnswer);
            } else if (now - lastHello >= timing.helloInterval) {
                sendBytes(encodeHello(Header{0, helloSession, 0, 0, 0}, kHelloConnect));
                lastHello = now;
            }
            return;
        case Phase::Dump:
            if (now - dumpStarted >= timing.stateDump) {
                end(kStateTimedOut);
                return;
            }
            break;
        case Phase::Connected:
            if (now - lastHeard >= timing.silence) {
                end(0);
                if (handlers.disconnected)
                    events.push_back(handlers.disconnected);
                return;
            }
            if (link.outstanding() == 0 && now - link.lastSent() >= timing.keepAlive)
                sendBytes(link.send({}, now));
            break;
        case Phase::Ended:
            return;
        }
        for (const auto& bytes : link.due(now, timing.resendAfter))
            sendBytes(bytes);
    }

    // Caller holds the mutex.
    void receive(std::span<const uint8_t> bytes, Events& events)
    {
        const auto datagram = parse(bytes);
        if (!datagram || phase == Phase::Ended)
            return;
        const Header& header = datagram->header;
        if (header.flags & kHello) {
            if (header.session != helloSession || datagram->hello[0] != kHelloAccepted)
                return;
            // The answer, perhaps again because our acknowledgement was lost.
            sendBytes(encode(Header{kAck, helloSession, 0, 0, 0}));
            if (phase == Phase::Handshake) {
                phase = Phase::Dump;
                dumpStarted = lastHeard = Clock::now();
            }
            return;
        }
        if (phase == Phase::Handshake)
            return;
        if (phase == Phase::Dump && link.session() == 0 && (header.flags & kReliable) && header.packetId == 1)
            link.setSession(header.session);
        if (header.session != link.session() || link.session() == 0)
            return;
        lastHeard = Clock::now();
        if (header.flags & kAck)
            link.acknowledged(header.ackId);
        if (header.flags & kRequestResend)
            link.resendRequested(header.resendId);
        if (!(header.flags & kReliable))
            return;
        switch (link.receive(header.packetId)) {
        case ReliableLink::Arrival::Gap:
            sendBytes(link.resendRequestBytes());
            return;
        case ReliableLink::Arrival::Repeat:
            sendBytes(link.ackBytes());
            return;
        case ReliableLink::Arrival::Next:
            sendBytes(link.ackBytes());
            break;
        }
        for (const Command& command : datagram->commands) {
            apply(command, events);
            if (phase == Phase::Ended)
                return;
        }
    }

    // Caller holds the mutex. A malformed command ends the attempt while the state is read and is
    // skipped afterwards.
    void apply(const Command& command, Events& events)
    {
        const bool dump = phase == Phase::Dump;
        const auto malformed = [&] {
            if (dump)
                end(kCorrupt);
        };
        switch (command.name) {
        case fourCC("_ver"):
            if (const auto version = readVersion(command.payload)) {
                haveVersion = true;
                if (version->major != kProtocolMajor)
                    end(kIncompatible);
            } else {
                malformed();
            }
            return;
        case fourCC("_pin"):
            if (const auto name = readProductName(command.payload)) {
                productName = *name;
                haveProductName = true;
            } else {
                malformed();
            }
            return;
        case fourCC("_top"):
            if (const auto count = readMixEffectCount(command.payload))
                mixEffectBlocks = *count;
            else
                malformed();
            return;
        case fourCC("InPr"):
            if (const auto properties = readInputProperties(command.payload)) {
                if (!inputs.contains(properties->id))
                    order.push_back(properties->id);
                inputs[properties->id].properties = *properties;
            } else {
                malformed();
            }
            return;
        case fourCC("PrvI"):
            if (const auto source = readSourceOnBlock(command.payload)) {
                if (source->block == 0)
                    preview = source->input;
            } else {
                malformed();
            }
            return;
        case fourCC("TlSr"):
            if (const auto tally = readTally(command.payload)) {
                for (const Tally& entry : *tally) {
                    const auto it = inputs.find(entry.input);
                    if (it == inputs.end())
                        continue;
                    const bool changed = it->second.program != entry.program;
                    it->second.program = entry.program;
                    it->second.preview = entry.preview;
                    if (changed && !dump && handlers.programTallyChanged)
                        events.push_back([handler = handlers.programTallyChanged, id = entry.input] { handler(id); });
                }
            } else {
                malformed();
            }
            return;
        case fourCC("InCm"):
            if (!dump)
                return;
            if (!haveVersion || !haveProductName || mixEffectBlocks < 0) {
                end(kStateFailed);
                return;
            }
            phase = Phase::Connected;
            phaseChanged.notify_all();
            return;
        default:
            return;  // what we do not follow ("PrgI" included: tally says what is on program)
        }
    }

    void send(const Command& command)
    {
        std::lock_guard lock(mutex);
        if (phase == Phase::Connected)
            sendBytes(link.send(std::span<const Command>(&command, 1), Clock::now()));
    }
};

SwitcherSession::SwitcherSession(std::shared_ptr<Core> core) : core_(std::move(core))
{
    thread_ = std::thread([core = core_] { core->run(); });
}

std::shared_ptr<SwitcherSession> SwitcherSession::connect(const std::string& host, uint16_t port, const Timing& timing,
                                                          uint32_t* failure)
{
    *failure = kNoAnswer;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (host.empty() || ::inet_pton(AF_INET, host.c_str(), &to.sin_addr) != 1)
        return nullptr;
    auto core = std::make_shared<Core>();
    core->fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    core->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // A connected socket: the system drops datagrams of any other host or port.
    if (core->fd < 0 || core->wake < 0 || ::connect(core->fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0)
        return nullptr;
    core->timing = timing;
    core->helloSession = uint16_t(std::random_device()() % 0x7FFF + 1);
    core->started = Clock::now();
    core->lastHello = core->started - timing.helloInterval;
    auto session = std::make_shared<SwitcherSession>(core);
    std::unique_lock lock(core->mutex);
    core->phaseChanged.wait(lock, [&] { return core->phase == Core::Phase::Connected || core->phase == Core::Phase::Ended; });
    if (core->phase == Core::Phase::Connected) {
        *failure = 0;
        return session;
    }
    *failure = core->failure;
    lock.unlock();
    session->close();
    return nullptr;
}

SwitcherSession::~SwitcherSession()
{
    close();
}

void SwitcherSession::setHandlers(Handlers handlers)
{
    std::lock_guard lock(core_->mutex);
    core_->handlers = std::move(handlers);
}

void SwitcherSession::close()
{
    {
        std::lock_guard lock(core_->mutex);
        core_->closed = true;
        core_->handlers = {};
    }
    const uint64_t one = 1;
    (void)::write(core_->wake, &one, sizeof one);
    if (!thread_.joinable())
        return;
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();
    else
        thread_.join();
}

std::string SwitcherSession::productName() const
{
    std::lock_guard lock(core_->mutex);
    return core_->productName;
}

int SwitcherSession::mixEffectBlocks() const
{
    std::lock_guard lock(core_->mutex);
    return core_->mixEffectBlocks;
}

std::vector<SwitcherSession::Input> SwitcherSession::inputs() const
{
    std::lock_guard lock(core_->mutex);
    std::vector<Input> out;
    for (const uint16_t id : core_->order)
        out.push_back(core_->inputs.at(id));
    return out;
}

std::optional<SwitcherSession::Input> SwitcherSession::input(uint16_t id) const
{
    std::lock_guard lock(core_->mutex);
    const auto it = core_->inputs.find(id);
    return it == core_->inputs.end() ? std::nullopt : std::optional<Input>(it->second);
}

std::optional<uint16_t> SwitcherSession::previewInput() const
{
    std::lock_guard lock(core_->mutex);
    return core_->preview;
}

void SwitcherSession::setPreviewInput(uint16_t input)
{
    core_->send(sourceOnBlockCommand(fourCC("CPvI"), SourceOnBlock{0, input}));
}

void SwitcherSession::performCut()
{
    core_->send(blockCommand(fourCC("DCut"), 0));
}

void SwitcherSession::performAuto()
{
    core_->send(blockCommand(fourCC("DAut"), 0));
}
