#pragma once
// The computer's sleep and idle, through the login manager on the system bus: tells when the
// computer is about to sleep and when it woke, and holds an idle inhibitor ("rendering") so the
// screen neither blanks nor sleeps while the show renders. Without a system bus or a login
// manager both are skipped, with one log line each. Main thread.

#include <functional>
#include <memory>

class KavioSleepWatch {
public:
    KavioSleepWatch();
    ~KavioSleepWatch();
    KavioSleepWatch(const KavioSleepWatch&) = delete;
    KavioSleepWatch& operator=(const KavioSleepWatch&) = delete;

    // Calls `willSleep` before the computer sleeps and `didWake` after; false when not watched.
    bool start(std::function<void()> willSleep, std::function<void()> didWake);
    // Takes the idle inhibitor; false when it cannot be had.
    bool beginActivity();
    // Lets the inhibitor go.
    void endActivity();
    bool holdsActivity() const;

private:
    struct Private;
    std::unique_ptr<Private> d_;
};
