#include "DispatchQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unordered_map>

namespace {

using Clock = std::chrono::steady_clock;

// The thread that loaded the program; stands for the main thread until a QCoreApplication exists.
const std::thread::id g_loadThread = std::this_thread::get_id();

thread_local DispatchQueue* t_currentQueue = nullptr;

struct CurrentQueueScope {
    DispatchQueue* saved;
    explicit CurrentQueueScope(DispatchQueue* q) : saved(t_currentQueue) { t_currentQueue = q; }
    ~CurrentQueueScope() { t_currentQueue = saved; }
};

}  // namespace

struct DispatchQueue::Impl : std::enable_shared_from_this<DispatchQueue::Impl> {
    std::string label;
    DispatchQueue* owner = nullptr;
    bool isMain = false;

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<Task> ready;
    bool stopping = false;
    // Started by the first task: many queues (one per cue) never get one.
    std::thread thread;
    std::unordered_map<const void*, void*> specifics;

    // Only for the main queue: whether a Qt event that drains the queue is already posted.
    std::atomic<bool> drainPosted{false};

    void enqueue(Task task);
    void run();
    Task takeReady();
};

namespace {

// One thread holds every delayed task and hands each to its queue when due, so queues (the
// main one included) need no timers of their own.
class DelayedTasks {
public:
    static DelayedTasks& shared()
    {
        static DelayedTasks instance;
        return instance;
    }

    void schedule(Clock::time_point due, std::weak_ptr<DispatchQueue::Impl> queue, DispatchQueue::Task task)
    {
        {
            std::lock_guard lock(mutex_);
            if (!thread_.joinable()) {
                thread_ = std::thread([this] { run(); });
            }
            tasks_.emplace(due, Item{std::move(queue), std::move(task)});
        }
        wake_.notify_one();
    }

    ~DelayedTasks()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    struct Item {
        std::weak_ptr<DispatchQueue::Impl> queue;
        DispatchQueue::Task task;
    };

    void run()
    {
        pthread_setname_np(pthread_self(), "dispatch-timers");
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            if (tasks_.empty()) {
                wake_.wait(lock);
                continue;
            }
            auto first = tasks_.begin();
            if (Clock::now() < first->first) {
                wake_.wait_until(lock, first->first);
                continue;
            }
            Item item = std::move(first->second);
            tasks_.erase(first);
            lock.unlock();
            if (auto queue = item.queue.lock()) {
                queue->enqueue(std::move(item.task));
            }
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<Clock::time_point, Item> tasks_;
    std::thread thread_;
    bool stopping_ = false;
};

}  // namespace

void DispatchQueue::Impl::enqueue(Task task)
{
    {
        std::lock_guard lock(mutex);
        ready.push_back(std::move(task));
        // Woken under the lock: once it is released the queue may run this task, finish and
        // be destroyed before a later notify could reach it.
        if (!isMain) {
            // The thread shares ownership, so a queue destroyed by its own task stays valid
            // until the thread ends.
            if (!thread.joinable() && !stopping)
                thread = std::thread([impl = shared_from_this()] { impl->run(); });
            wake.notify_one();
            return;
        }
    }
    wake.notify_all();  // a thread waiting in runMainUntil
    auto* app = QCoreApplication::instance();
    if (app && !drainPosted.exchange(true)) {
        QMetaObject::invokeMethod(app, [] { DispatchQueue::drainMain(); }, Qt::QueuedConnection);
    }
}

DispatchQueue::Task DispatchQueue::Impl::takeReady()
{
    std::lock_guard lock(mutex);
    if (ready.empty()) {
        return {};
    }
    Task task = std::move(ready.front());
    ready.pop_front();
    return task;
}

void DispatchQueue::Impl::run()
{
    pthread_setname_np(pthread_self(), label.substr(0, 15).c_str());
    CurrentQueueScope scope(owner);
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || !ready.empty(); });
        if (ready.empty()) {
            return;  // stopping, and everything queued has run
        }
        Task task = std::move(ready.front());
        ready.pop_front();
        lock.unlock();
        task();
        task = nullptr;  // release captures outside the lock
        lock.lock();
    }
}

DispatchQueue::DispatchQueue(std::string label) : impl_(std::make_shared<Impl>())
{
    impl_->label = std::move(label);
    impl_->owner = this;
}

DispatchQueue::DispatchQueue(MainTag) : impl_(std::make_shared<Impl>())
{
    impl_->label = "com.apple.main-thread";
    impl_->owner = this;
    impl_->isMain = true;
}

DispatchQueue::~DispatchQueue()
{
    if (impl_->isMain) {
        return;
    }
    std::thread thread;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
        thread.swap(impl_->thread);
    }
    impl_->wake.notify_one();
    if (!thread.joinable())
        return;
    if (std::this_thread::get_id() == thread.get_id()) {
        // Destroyed by its own task: the thread ends after that task.
        thread.detach();
    } else {
        thread.join();
    }
}

DispatchQueue& DispatchQueue::main()
{
    // Never destroyed: tasks may be posted to it while the process exits.
    static DispatchQueue* mainQueue = new DispatchQueue(MainTag{});
    return *mainQueue;
}

bool DispatchQueue::isMainThread()
{
    if (auto* app = QCoreApplication::instance()) {
        return QThread::currentThread() == app->thread();
    }
    return std::this_thread::get_id() == g_loadThread;
}

DispatchQueue* DispatchQueue::current()
{
    if (t_currentQueue) {
        return t_currentQueue;
    }
    return isMainThread() ? &main() : nullptr;
}

const std::string& DispatchQueue::label() const
{
    return impl_->label;
}

void DispatchQueue::async(Task task)
{
    impl_->enqueue(std::move(task));
}

void DispatchQueue::sync(const Task& task)
{
    if (isCurrent()) {
        task();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    async([&] {
        task();
        std::lock_guard lock(doneMutex);
        done = true;
        doneSignal.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneSignal.wait(lock, [&] { return done; });
}

void DispatchQueue::asyncAfter(std::chrono::nanoseconds delay, Task task)
{
    if (delay <= std::chrono::nanoseconds::zero()) {
        async(std::move(task));
        return;
    }
    DelayedTasks::shared().schedule(Clock::now() + delay, impl_, std::move(task));
}

void DispatchQueue::asyncAfter(double seconds, Task task)
{
    asyncAfter(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds)),
               std::move(task));
}

bool DispatchQueue::isCurrent() const
{
    return current() == this;
}

void DispatchQueue::setSpecific(const void* key, void* value)
{
    std::lock_guard lock(impl_->mutex);
    if (value) {
        impl_->specifics[key] = value;
    } else {
        impl_->specifics.erase(key);
    }
}

void* DispatchQueue::specific(const void* key) const
{
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->specifics.find(key);
    return it == impl_->specifics.end() ? nullptr : it->second;
}

void* DispatchQueue::getSpecific(const void* key)
{
    DispatchQueue* queue = current();
    return queue ? queue->specific(key) : nullptr;
}

int DispatchQueue::drainMain()
{
    Impl& impl = *main().impl_;
    impl.drainPosted = false;
    CurrentQueueScope scope(&main());
    int count = 0;
    // Only what is queued now: a task that queues another must not starve the event loop.
    size_t pending;
    {
        std::lock_guard lock(impl.mutex);
        pending = impl.ready.size();
    }
    while (pending-- > 0) {
        Task task = impl.takeReady();
        if (!task) {
            break;
        }
        task();
        ++count;
    }
    return count;
}

bool DispatchQueue::runMainUntil(const std::function<bool()>& done, double timeoutSeconds)
{
    Impl& impl = *main().impl_;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(timeoutSeconds));
    for (;;) {
        drainMain();
        if (QCoreApplication::instance()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        if (done()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return done();
        }
        std::unique_lock lock(impl.mutex);
        impl.wake.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(5)),
                             [&] { return !impl.ready.empty(); });
    }
}

struct DispatchTimer::State {
    DispatchQueue* queue;
    std::chrono::nanoseconds interval;
    DispatchQueue::Task handler;
    std::mutex mutex;
    uint64_t generation = 0;  // bumped by start and cancel; stale firings compare unequal
    bool running = false;
};

namespace {

void scheduleNextFiring(const std::shared_ptr<DispatchTimer::State>& state, uint64_t generation,
                        Clock::time_point due)
{
    std::weak_ptr<DispatchTimer::State> weak = state;
    state->queue->asyncAfter(due - Clock::now(), [weak, generation, due] {
        auto s = weak.lock();
        if (!s) {
            return;
        }
        {
            std::lock_guard lock(s->mutex);
            if (!s->running || s->generation != generation) {
                return;
            }
        }
        s->handler();
        // Fixed grid: a late firing does not push the following ones back.
        auto next = due + s->interval;
        const auto now = Clock::now();
        if (next < now) {
            next = now;
        }
        scheduleNextFiring(s, generation, next);
    });
}

}  // namespace

DispatchTimer::DispatchTimer(DispatchQueue& queue, std::chrono::nanoseconds interval, DispatchQueue::Task handler)
    : state_(std::make_shared<State>())
{
    state_->queue = &queue;
    state_->interval = interval;
    state_->handler = std::move(handler);
}

DispatchTimer::~DispatchTimer()
{
    cancel();
}

void DispatchTimer::start()
{
    uint64_t generation;
    {
        std::lock_guard lock(state_->mutex);
        state_->running = true;
        generation = ++state_->generation;
    }
    scheduleNextFiring(state_, generation, Clock::now() + state_->interval);
}

void DispatchTimer::cancel()
{
    std::lock_guard lock(state_->mutex);
    state_->running = false;
    ++state_->generation;
}

bool DispatchTimer::isRunning() const
{
    std::lock_guard lock(state_->mutex);
    return state_->running;
}
