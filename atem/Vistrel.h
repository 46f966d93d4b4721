#pragma once
// The switcher library: finds switchers on the network (zeroconf), connects one listener to one
// switcher (found by its unique id, at a typed address, or on USB), reports its inputs with
// their tally, program-tally changes and lost connections to a delegate, and sends cut and auto
// transitions to the first mix-effect block.
//
// Threads: the library's serial queue "VistrelQueue" runs every connection attempt, keeps the
// device list and is the only place the switcher's objects are used (clean-up after a lost
// connection, tally reads, transitions, the preview query), so none is used while another
// thread clears it. connectedToDevice, connectionFailed and statusChangedForInput come from
// that queue; the delegate moves work where it needs it. Retries run on the main queue's timer.

#include "QVTAtemDeviceInfo.h"
#include "QVTAtemInput.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <memory>
#include <optional>
#include <vector>

class DispatchQueue;
class IBMDSwitcher;
class IBMDSwitcherDiscovery;
class IBMDSwitcherMixEffectBlock;
class VistrelBMDSwitcherCallback;
class Zeroconf;

extern const QString VistrelErrorDomain;                          // "com.dalvek.Vistrel"
extern const QString VistrelNetworkDevicesChangedNotification;    // its own name, default centre
extern const double VistrelVersionNumber;                         // 1.0
extern const char VistrelVersionString[];                         // "@(#)PROGRAM:Vistrel  PROJECT:Vistrel-1\n"

// A new discovery object of the switcher interface (one reference, the caller releases it), or
// null when the interface is not available.
extern "C" IBMDSwitcherDiscovery* CreateBMDSwitcherDiscoveryInstance();
// Replaces where discovery objects come from (tests: a loader answering null stands for a
// missing switcher interface). Null restores the built-in one.
void VistrelSetDiscoveryLoader(std::function<IBMDSwitcherDiscovery*()> loader);

struct VistrelError {
    QString domain;   // VistrelErrorDomain
    long code = 0;
    QString localizedDescription;
};

class VistrelDelegate {
public:
    virtual ~VistrelDelegate() = default;
    virtual void connectedToDevice(const std::shared_ptr<QVTAtemDeviceInfo>& device) = 0;
    virtual void connectionFailed(const VistrelError& error) = 0;
    virtual void statusChangedForInput(const std::shared_ptr<QVTAtemInput>& input,
                                       const std::shared_ptr<QVTAtemDeviceInfo>& device) = 0;
};

class Vistrel : public std::enable_shared_from_this<Vistrel> {
public:
    // Each stores the delegate weakly, makes its switcher callback, queues a first attempt and
    // follows VistrelNetworkDevicesChangedNotification with a new attempt.
    // By the switcher's unique id (null: the switcher on USB):
    static std::shared_ptr<Vistrel> initNetworkListenerWithDelegate(std::weak_ptr<VistrelDelegate> delegate,
                                                                    const QString& deviceID);
    // At a typed address (used as given, even empty):
    static std::shared_ptr<Vistrel> initNetworkListenerWithDelegateIP(std::weak_ptr<VistrelDelegate> delegate,
                                                                      const QString& deviceIP);
    static std::shared_ptr<Vistrel> initUSBListenerWithDelegate(std::weak_ptr<VistrelDelegate> delegate);
    ~Vistrel();
    Vistrel(const Vistrel&) = delete;
    Vistrel& operator=(const Vistrel&) = delete;

    // Queues a connection attempt; nothing happens while connected. Any thread.
    void connectIfNeeded();
    // The owner calls it before dropping the listener: clears the delegate, then on the queue
    // (waiting for an attempt under way) marks the listener removed, so attempts still queued do
    // nothing, lets go of the switcher and gives up the callback; stops following the list.
    void removeResources();
    // The switcher fell silent: on the queue, reports it, lets go of the switcher and tries again.
    void didDisconnect();

    // The first mix-effect block's preview input; -1 without a block or when it cannot be read.
    // Waits for the queue.
    int64_t getPreviewInput();
    // Preview `input`, then cut or auto; queued, nothing without a block.
    void performCutToInput(const std::shared_ptr<QVTAtemInput>& input);
    void performAutoToInput(const std::shared_ptr<QVTAtemInput>& input);

    std::optional<QString> deviceID() const;
    std::optional<QString> manualIP() const;
    // The switcher connected to, with its inputs; null while not connected.
    std::shared_ptr<QVTAtemDeviceInfo> deviceInfo() const;

    // At most one record per unique id, the earliest in the device list; order undefined.
    static std::vector<std::shared_ptr<QVTAtemDeviceInfo>> networkDevices();
    // Whether a discovery object can be had.
    static bool isAtemDriverInstalled();
    // "VistrelQueue".
    static DispatchQueue& queue();
    // The zeroconf the library browses with, before its first use (tests give a fake).
    static void setZeroconf(std::shared_ptr<Zeroconf> zeroconf);

    Vistrel() = default;

private:
    static std::shared_ptr<Vistrel> make(std::weak_ptr<VistrelDelegate> delegate, std::optional<QString> deviceID,
                                          std::optional<QString> manualIP);
    void attempt();  // on the queue
    void clearSwitcherDevice();  // on the queue
    void report(const QString& text);
    void scheduleRetry();
    void transition(const std::shared_ptr<QVTAtemInput>& input, bool cut);
    std::shared_ptr<VistrelDelegate> delegate() const;

    mutable std::mutex mutex_;  // guards the delegate, the ids and deviceInfo
    std::weak_ptr<VistrelDelegate> delegate_;
    std::optional<QString> deviceID_, manualIP_;
    std::shared_ptr<QVTAtemDeviceInfo> deviceInfo_;
    // On the queue only:
    IBMDSwitcher* switcherDevice_ = nullptr;
    IBMDSwitcherMixEffectBlock* mixEffectBlock_ = nullptr;
    std::shared_ptr<QVTAtemDeviceInfo> heldRecord_;  // whose inputs hold switcher objects
    VistrelBMDSwitcherCallback* bmdSwitcherCallback_ = nullptr;
    std::atomic<bool> removed_{false};  // set at once by removeResources, so queued attempts do nothing
    // Main queue only: a retry timer is pending (one per listener).
    bool retryPending_ = false;
    uint64_t observer_ = 0;
};

// String helpers of the library.
// Null data gives the empty string; otherwise the bytes up to the first zero byte read as UTF-8;
// nullopt when they are not UTF-8.
std::optional<QString> stringWithUnterminatedData(const QByteArray* data);
// The four bytes of a code, most significant first, up to the first zero byte, read as UTF-8;
// nullopt when they are not UTF-8.
std::optional<QString> stringWithFourCC(uint32_t code);
