#pragma once
// Watches the IPv4 addresses of every network interface (an rtnetlink socket) and calls back on
// the main thread when one is added or removed. Main thread.

#include <functional>
#include <memory>

class QSocketNotifier;

class KavioNetworkWatch {
public:
    KavioNetworkWatch();
    ~KavioNetworkWatch();
    KavioNetworkWatch(const KavioNetworkWatch&) = delete;
    KavioNetworkWatch& operator=(const KavioNetworkWatch&) = delete;

    // Opens the socket and starts watching; each failing step is logged as one line and the
    // answer is false (the program then runs without the watch).
    bool start(std::function<void()> changed);

private:
    void readChanges();

    int socket_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> changed_;
};
