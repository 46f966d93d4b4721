#pragma once
// Named notifications with an object and a user-info map, delivered synchronously on the
// posting thread (or, for observers that ask for it, asynchronously on a queue).
//
// There is the process-wide defaultCenter(); components that talk on their own channel (the
// master clock, the MIDI manager, the lighting manager) own a private NotificationCenter.

#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class DispatchQueue;

struct Notification {
    QString name;
    void* object = nullptr;  // identity of the sender; never owned
    QVariantMap userInfo;
};

class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;
    using Token = std::uint64_t;  // 0 is never a valid token

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    static NotificationCenter& defaultCenter();

    // Registers a handler for notifications named `name` (empty: every name) posted with
    // `object` (nullptr: any object). `observer` is an owner tag for removeObserver(observer);
    // it may be nullptr. With a queue, the handler runs asynchronously there (for the main
    // queue: the observe-on-main variant); without one, synchronously inside post().
    Token addObserver(const void* observer, const QString& name, void* object, Handler handler,
                      DispatchQueue* queue = nullptr);

    // Removing is safe at any time, also from inside a handler during a post (itself or
    // another): a removed handler is not called again once removeObserver has returned,
    // except for a call already running on another thread at that moment.
    void removeObserver(Token token);
    void removeObserver(const void* observer);  // every registration of that owner
    void removeObserver(const void* observer, const QString& name, void* object);

    void post(const QString& name, void* object = nullptr, const QVariantMap& userInfo = {});
    void post(const Notification& notification);

    struct Entry;

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Entry>> entries_;
    Token nextToken_ = 1;
};
