#pragma once
// Switcher discovery: browses "_blackmagic._tcp" and "_switcher_ctrl._udp" and keeps the list of
// QVTAtemDeviceInfo records, one per IPv4 address of each accepted service, in arrival order
// (one switcher may stand in it several times). A service is accepted with a non-empty TXT
// "unique id" and a "class" that is absent, empty or "AtemSwitcher"; IPv6 addresses are never
// listed. A service that goes takes every record of its name with it, whatever its type.
// Each change posts VistrelNetworkDevicesChangedNotification on the default centre, on the main
// thread. The list is read and changed on the given queue only. The library keeps one browser
// for the process; tests make their own.

#include "QVTAtemDeviceInfo.h"
#include "Zeroconf.h"

#include <memory>
#include <vector>

class DispatchQueue;

class VistrelDeviceBrowser {
public:
    static constexpr const char* kServiceTypes[] = {"_blackmagic._tcp", "_switcher_ctrl._udp"};

    VistrelDeviceBrowser(std::shared_ptr<Zeroconf> zeroconf, DispatchQueue& queue);
    ~VistrelDeviceBrowser();
    VistrelDeviceBrowser(const VistrelDeviceBrowser&) = delete;
    VistrelDeviceBrowser& operator=(const VistrelDeviceBrowser&) = delete;

    // A copy of the list; waits for the queue.
    std::vector<std::shared_ptr<QVTAtemDeviceInfo>> devices() const;
    // The list itself, from a task on the queue.
    const std::vector<std::shared_ptr<QVTAtemDeviceInfo>>& devicesOnQueue() const;
    // At most one record per unique id, the earliest; waits for the queue.
    std::vector<std::shared_ptr<QVTAtemDeviceInfo>> networkDevices() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};
