#pragma once
// One control session with a switcher over UDP (SwitcherProtocol.h), on a thread of its own:
// the handshake and the state dump, acknowledgements, resends and keep-alives, then the state
// kept current as the switcher reports it. Internal to the switcher interface (BMDSwitcherAPI).

#include "SwitcherProtocol.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class SwitcherSession {
public:
    struct Timing {
        std::chrono::milliseconds helloInterval{200};
        std::chrono::milliseconds noAnswer{2000};      // no handshake answer → 'cfnr'
        std::chrono::milliseconds stateDump{5000};     // dump not complete → 'cfst'
        std::chrono::milliseconds resendAfter{200};
        std::chrono::milliseconds keepAlive{500};
        std::chrono::milliseconds silence{5000};       // nothing heard → disconnected
    };
    struct Input {
        switcherwire::InputProperties properties;
        bool program = false, preview = false;
    };
    // Run on the session's thread, never while it holds its lock.
    struct Handlers {
        std::function<void()> disconnected;                    // once, when the switcher falls silent
        std::function<void(uint16_t input)> programTallyChanged;
    };

    // Connects to `host` (IPv4 text) on `port`: blocks until the state dump is complete, then
    // answers the running session; otherwise null with the failure code ('cfnr' no answer,
    // 'cfif' another protocol version, 'cfcd' malformed state, 'cfss' state incomplete at its
    // end, 'cfst' the dump did not end in time).
    static std::shared_ptr<SwitcherSession> connect(const std::string& host, uint16_t port, const Timing& timing,
                                                    uint32_t* failure);
    ~SwitcherSession();
    SwitcherSession(const SwitcherSession&) = delete;
    SwitcherSession& operator=(const SwitcherSession&) = delete;

    void setHandlers(Handlers handlers);
    // Ends the thread; no handler runs once it returns (called on the thread itself, the thread
    // ends after the running handler).
    void close();

    // The state as last reported. Any thread.
    std::string productName() const;
    int mixEffectBlocks() const;
    std::vector<Input> inputs() const;  // in the order the switcher listed them
    std::optional<Input> input(uint16_t id) const;
    std::optional<uint16_t> previewInput() const;

    // Commands for mix-effect block 0, sent reliably. Any thread.
    void setPreviewInput(uint16_t input);
    void performCut();
    void performAuto();

    struct Core;
    explicit SwitcherSession(std::shared_ptr<Core> core);

private:
    std::shared_ptr<Core> core_;  // shared with the thread, which may outlive a close() on itself
    std::thread thread_;
};
