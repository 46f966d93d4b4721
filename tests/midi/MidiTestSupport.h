#pragma once
// What the MIDI tests share: a recorder of everything a manager posts, safe to fill from the
// MIDI input thread while the test thread reads it.

#include "QVTMIDIManager.h"

#include "DispatchQueue.h"
#include "NotificationCenter.h"

#include <mutex>
#include <thread>
#include <vector>

class PostedRecorder {
public:
    struct Posted {
        QString name;
        void* object = nullptr;
        QVariantMap userInfo;
        std::thread::id thread;
    };

    explicit PostedRecorder(QVTMIDIManager& manager) : center_(manager.midiKitNotificationCenter()) {
        token_ = center_->addObserver(this, QString(), nullptr, [this](const Notification& n) {
            std::lock_guard lock(mutex_);
            posted_.push_back({n.name, n.object, n.userInfo, std::this_thread::get_id()});
        });
    }
    ~PostedRecorder() { center_->removeObserver(token_); }

    std::vector<Posted> all() const {
        std::lock_guard lock(mutex_);
        return posted_;
    }
    std::vector<Posted> named(const QString& name, void* object = nullptr) const {
        std::vector<Posted> matching;
        for (const Posted& p : all())
            if (p.name == name && (!object || p.object == object)) matching.push_back(p);
        return matching;
    }
    std::size_t count(const QString& name, void* object = nullptr) const { return named(name, object).size(); }
    void clear() {
        std::lock_guard lock(mutex_);
        posted_.clear();
    }
    // Pumps the main queue (where set-up changes are delivered) until the condition holds.
    static bool waitFor(const std::function<bool()>& done, double seconds = 5.0) {
        return DispatchQueue::runMainUntil(done, seconds);
    }

private:
    std::shared_ptr<NotificationCenter> center_;
    NotificationCenter::Token token_ = 0;
    mutable std::mutex mutex_;
    std::vector<Posted> posted_;
};

// A manager started the way the program starts it ("Kavio", then its "To Kavio"), with a
// recorder that listens from before the start.
struct StartedManager {
    explicit StartedManager(std::shared_ptr<MidiBackend> backend)
        : manager(QVTMIDIManager::createWithBackend(std::move(backend))) {
        if (!manager) return;
        recorder = std::make_unique<PostedRecorder>(*manager);
        manager->startManagerWithName("Kavio");
        manager->createDefaultVirtualReceiver();
    }

    std::unique_ptr<QVTMIDIManager> manager;
    std::unique_ptr<PostedRecorder> recorder;  // declared last: stops listening first
};
