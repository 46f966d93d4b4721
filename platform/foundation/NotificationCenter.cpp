#include "NotificationCenter.h"

#include "DispatchQueue.h"

#include <algorithm>
#include <atomic>

struct NotificationCenter::Entry {
    Token token;
    const void* observer;
    QString name;
    void* object;
    Handler handler;
    DispatchQueue* queue;
    std::atomic<bool> removed{false};

    bool matches(const Notification& n) const
    {
        return (name.isEmpty() || name == n.name) && (!object || object == n.object);
    }
};

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter()
{
    // Never destroyed: observers may still post while static objects are torn down.
    static NotificationCenter* center = new NotificationCenter;
    return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(const void* observer, const QString& name, void* object,
                                                          Handler handler, DispatchQueue* queue)
{
    auto entry = std::make_shared<Entry>();
    entry->observer = observer;
    entry->name = name;
    entry->object = object;
    entry->handler = std::move(handler);
    entry->queue = queue;
    std::lock_guard lock(mutex_);
    entry->token = nextToken_++;
    entries_.push_back(entry);
    return entry->token;
}

template <typename Pred>
static void removeWhere(std::mutex& mutex, std::vector<std::shared_ptr<NotificationCenter::Entry>>& entries,
                        Pred pred)
{
    std::lock_guard lock(mutex);
    auto it = std::remove_if(entries.begin(), entries.end(), [&](const auto& e) {
        if (!pred(*e)) {
            return false;
        }
        e->removed = true;
        return true;
    });
    entries.erase(it, entries.end());
}

void NotificationCenter::removeObserver(Token token)
{
    removeWhere(mutex_, entries_, [token](const Entry& e) { return e.token == token; });
}

void NotificationCenter::removeObserver(const void* observer)
{
    if (!observer) {
        return;
    }
    removeWhere(mutex_, entries_, [observer](const Entry& e) { return e.observer == observer; });
}

void NotificationCenter::removeObserver(const void* observer, const QString& name, void* object)
{
    removeWhere(mutex_, entries_, [&](const Entry& e) {
        return e.observer == observer && (name.isEmpty() || e.name == name) && (!object || e.object == object);
    });
}

void NotificationCenter::post(const QString& name, void* object, const QVariantMap& userInfo)
{
    post(Notification{name, object, userInfo});
}

void NotificationCenter::post(const Notification& notification)
{
    // Deliver from a snapshot, so handlers may add or remove observers while we iterate.
    std::vector<std::shared_ptr<Entry>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& e : entries_) {
            if (e->matches(notification)) {
                targets.push_back(e);
            }
        }
    }
    for (const auto& e : targets) {
        if (e->removed) {
            continue;
        }
        if (e->queue) {
            e->queue->async([e, notification] {
                if (!e->removed) {
                    e->handler(notification);
                }
            });
        } else {
            e->handler(notification);
        }
    }
}
