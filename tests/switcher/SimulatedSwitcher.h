#pragma once
// A switcher speaking the control protocol on 127.0.0.1 (a free port), for the tests: the
// handshake and the state dump (product name, six inputs with a media player, program 1,
// preview 2, tally), set-preview, cut and auto (program and preview swap, new tally), and the
// faults the client must survive: loss of every n-th datagram each way, silence, another
// protocol version, a dump that never ends, malformed state, a dump without the product name.

#include "SwitcherProtocol.h"

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SimulatedSwitcher {
public:
    enum class Fault { None, WrongVersion, IncompleteDump, CorruptData, NoMixEffectBlock, NoProductName };

    SimulatedSwitcher();
    ~SimulatedSwitcher();
    SimulatedSwitcher(const SimulatedSwitcher&) = delete;
    SimulatedSwitcher& operator=(const SimulatedSwitcher&) = delete;

    uint16_t port() const { return port_; }
    // "127.0.0.1:<port>", as the switcher interface takes it.
    std::string address() const;

    // Drops every n-th datagram received and every n-th sent (0: none).
    void setLossEvery(int n);
    // Silent: answers nothing and sends nothing (a switcher switched off); false brings it back.
    void setSilent(bool silent);
    // For the next handshakes.
    void setFault(Fault fault);
    // The operator puts `input` on program: the old program goes to preview; tally follows.
    void takeToProgram(uint16_t input);

    uint16_t program() const;
    uint16_t preview() const;
    // The commands received, in order: "CPvI <id>", "DCut", "DAut".
    std::vector<std::string> commands() const;
    // Sessions whose handshake completed.
    int sessions() const;

    static const std::vector<switcherwire::InputProperties>& inputs();

private:
    void run();
    void handle(std::span<const uint8_t> bytes, const sockaddr_in& from);
    void sendState();
    void sendReliable(const std::vector<switcherwire::Command>& commands);
    void sendRaw(const std::vector<uint8_t>& bytes);
    void apply(const switcherwire::Command& command);
    void swap();

    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    int lossEvery_ = 0;
    int received_ = 0, sent_ = 0;
    bool silent_ = false;
    Fault fault_ = Fault::None;
    sockaddr_in client_{};
    uint16_t helloSession_ = 0;
    uint16_t nextSession_ = 0x8000;
    bool answered_ = false;  // hello answered, its acknowledgement awaited
    std::chrono::steady_clock::time_point answeredAt_;
    bool connected_ = false;
    switcherwire::ReliableLink link_;
    uint16_t program_ = 1, preview_ = 2;
    std::vector<std::string> commands_;
    int sessions_ = 0;
};
