#pragma once
// Collects the "QVTOSC-RECEIVED" user infos of a manager, with bounded waits.

#include "QVTOSCManager.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

class OSCTestReceiver {
public:
    explicit OSCTestReceiver(QVTOSCManager& manager) : center_(manager.oscKitNotificationCenter())
    {
        token_ = center_.addObserver(this, kQVTOSCReceivedNotification, nullptr,
                                     [this](const Notification& n) {
                                         std::lock_guard lock(mutex_);
                                         received_.push_back(n.userInfo);
                                         changed_.notify_all();
                                     });
    }
    ~OSCTestReceiver() { center_.removeObserver(token_); }

    // Waits until `count` messages have arrived (at most two seconds); answers what arrived.
    std::vector<QVariantMap> waitFor(size_t count)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(2), [&] { return received_.size() >= count; });
        return received_;
    }
    // Waits for the message with that address (at most two seconds); empty map when none came.
    QVariantMap waitForAddress(const QString& address)
    {
        std::unique_lock lock(mutex_);
        QVariantMap found;
        changed_.wait_for(lock, std::chrono::seconds(2), [&] {
            for (const auto& info : received_) {
                if (info.value(kQVTOSCAddressKey) == address) {
                    found = info;
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    std::vector<QVariantMap> received()
    {
        std::lock_guard lock(mutex_);
        return received_;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        received_.clear();
    }

private:
    NotificationCenter& center_;
    NotificationCenter::Token token_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<QVariantMap> received_;
};
