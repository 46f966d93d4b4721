#pragma once
// Labelled serial work queues, in the style the rest of the program is written in.
//
// A DispatchQueue runs its tasks one at a time, in submission order, on its own thread.
// DispatchQueue::main() runs its tasks on the main (Qt GUI) thread: through the Qt event
// loop when a QCoreApplication exists, or when a test pumps it with runMainUntil().

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class DispatchQueue {
public:
    using Task = std::function<void()>;

    // Starts the queue's thread, named after the label (cut to the 15 characters Linux keeps).
    explicit DispatchQueue(std::string label);
    // Runs what is already queued, then ends the thread. Delayed tasks not yet due are dropped.
    // Called from a task of this very queue, the thread is detached and ends after that task.
    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    // The queue of the main thread: the thread that created the QCoreApplication, or without
    // one, the thread that loaded the program.
    static DispatchQueue& main();
    // The queue whose task is running on the calling thread; main() on the main thread outside
    // any other queue's task; nullptr on other threads.
    static DispatchQueue* current();
    static bool isMainThread();

    const std::string& label() const;

    // Queues the task and returns at once. Safe from any thread, including the queue's own.
    void async(Task task);
    // Runs the task on the queue and waits for it. Runs inline when the caller already runs on
    // this queue, so a queue never deadlocks on itself.
    void sync(const Task& task);
    // Queues the task once the delay has passed (measured on the monotonic clock).
    void asyncAfter(std::chrono::nanoseconds delay, Task task);
    void asyncAfter(double seconds, Task task);
    // True when the calling thread is running this queue's task (for main(): the main thread).
    bool isCurrent() const;

    // Queue-specific values: a pointer stored per key on a queue, read back by code that runs on
    // it. Neither key nor value is owned.
    void setSpecific(const void* key, void* value);
    void* specific(const void* key) const;
    // The current queue's value for the key, nullptr when none or when not on a queue.
    static void* getSpecific(const void* key);

    // For code without a running Qt event loop (tests, the program before its loop starts):
    // runs main-queue tasks on the calling main thread until done() answers true or the time
    // runs out. Answers done()'s last value. Also processes Qt events when an application exists.
    static bool runMainUntil(const std::function<bool()>& done, double timeoutSeconds);
    // Runs the main-queue tasks that are ready now; answers how many ran. Main thread only.
    static int drainMain();

    struct Impl;

private:
    struct MainTag {};
    explicit DispatchQueue(MainTag);
    std::shared_ptr<Impl> impl_;
};

// A repeating timer whose handler runs on a queue. The first firing comes one interval after
// start(). cancel() (or destruction) stops further firings; a firing already running finishes.
class DispatchTimer {
public:
    DispatchTimer(DispatchQueue& queue, std::chrono::nanoseconds interval, DispatchQueue::Task handler);
    ~DispatchTimer();
    DispatchTimer(const DispatchTimer&) = delete;
    DispatchTimer& operator=(const DispatchTimer&) = delete;

    void start();
    void cancel();
    bool isRunning() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};
