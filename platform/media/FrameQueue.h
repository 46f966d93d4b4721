#pragma once
// The queue of frames a source keeps ahead of playback, with its seek bookkeeping and its worker
// loop, shared by VideoFrameSource and HapFrameSource (for their own state only; no public
// header includes it). A source derives its state from FrameQueue, says when the worker should
// read further and how it seeks and reads, and converts item times to the ticks used here: the
// stream's time base, the file's start offset included.
//
// `mutex` guards the shared fields. Functions marked "under the lock" expect the caller to hold
// it and those marked "worker" run on the worker thread; all others take the lock themselves and
// may be called from any thread.

#include "MediaError.h"
#include "MediaTime.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

template <class FrameRef>
class FrameQueue {
public:
    struct Seek {
        MediaTime time;
        std::function<void(bool)> completion;
    };

    virtual ~FrameQueue() = default;

    static void complete(std::optional<Seek>& seek, bool finished) {
        if (seek && seek->completion) seek->completion(finished);
    }

    // Worker: the thread's body. Carries out seeks and otherwise reads ahead while wantsMore().
    void runWorker() {
        for (;;) {
            std::optional<Seek> seek;
            uint64_t gen;
            {
                std::unique_lock lock(mutex);
                workerWake.wait(
                    lock, [this] { return stop || pendingSeek || (positioned && wantsMore()); });
                if (stop) return;
                seek.swap(pendingSeek);
                gen = generation;
            }
            if (seek)
                performSeek(std::move(*seek), gen);
            else
                readAhead(gen);
        }
    }

    // Drops the queue at once and hands the seek to the worker, replacing a pending one.
    void requestSeek(const MediaTime& time, std::function<void(bool)> completion) {
        std::optional<Seek> replaced;
        {
            std::lock_guard lock(mutex);
            ++generation;
            replaced.swap(pendingSeek);
            pendingSeek = Seek{time, std::move(completion)};
            seekActive = true;
            positioned = false;
            queue.clear();
            resetReadAhead(false);
            ended = false;
            lastHandedSerial = 0;
        }
        workerWake.notify_all();
        frameReady.notify_all();
        complete(replaced, false);
    }

    void cancelPendingSeeks() {
        std::optional<Seek> cancelled;
        {
            std::lock_guard lock(mutex);
            if (!seekActive) return;
            ++generation;
            seekActive = false;
            cancelled.swap(pendingSeek);
        }
        frameReady.notify_all();
        complete(cancelled, false);
    }

    // Ends the worker's loop and every other loop of the source that watches `stop`. The source
    // joins its threads, then completes the returned seek (if any) with false.
    [[nodiscard]] std::optional<Seek> requestStop() {
        std::optional<Seek> pending;
        {
            std::lock_guard lock(mutex);
            stop = true;
            ++generation;
            pending.swap(pendingSeek);
        }
        workerWake.notify_all();
        frameReady.notify_all();
        return pending;
    }

    bool hasNewFrameAt(int64_t t) const {
        std::lock_guard lock(mutex);
        const long index = indexFor(t);
        return index >= 0 && queue[size_t(index)].serial != lastHandedSerial;
    }

    FrameRef copyFrameAt(int64_t t, MediaTime* displayTime) {
        FrameRef frame;
        {
            std::lock_guard lock(mutex);
            const long index = indexFor(t);
            if (index < 0) return nullptr;
            releaseBefore(index);
            lastHandedSerial = queue.front().serial;
            frame = queue.front().frame;
        }
        workerWake.notify_all();
        if (displayTime) *displayTime = frame->presentationTime();
        return frame;
    }

    bool waitFor(int64_t t, double timeoutSeconds) {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(timeoutSeconds));
        std::unique_lock lock(mutex);
        for (;;) {
            if (stop) return false;
            if (positioned) {
                long index = indexFor(t);
                if (index > 0) {
                    releaseBefore(index);
                    workerWake.notify_all();
                    index = 0;
                }
                if (isExact(index, t)) return true;
                // The reader has taken the frames up to and past `t` already (a read-ahead
                // ring does): nothing at `t` is left to come, and the reader holds it.
                if (index < 0 && readPast(t)) return true;
                if (ended) return false;
            } else if (!seekActive) {
                return false;  // a cancelled seek: nothing comes until the next one
            }
            if (frameReady.wait_until(lock, deadline) == std::cv_status::timeout)
                return positioned && isExact(indexFor(t), t);
        }
    }

    bool isAtEnd() const {
        std::lock_guard lock(mutex);
        return positioned && ended;
    }

    MediaError error() const {
        std::lock_guard lock(mutex);
        return fatal;
    }

protected:
    struct Queued {
        int64_t pts;  // ticks
        uint64_t serial;
        FrameRef frame;
    };

    // What a seek found: the frame showing at its time and the one after, either may be missing.
    struct Found {
        FrameRef frame;
        int64_t pts = 0;
    };

    // Under the lock, positioned: the worker should read another frame.
    virtual bool wantsMore() const = 0;
    // Worker: goes to `seek.time` and ends with finishSeek(), or completes the seek with false
    // when isCurrent(gen) turns false on the way.
    virtual void performSeek(Seek seek, uint64_t gen) = 0;
    // Worker: reads one frame further for the queue, unless `gen` is no longer current.
    virtual void readAhead(uint64_t gen) = 0;
    // Under the lock, when a seek is requested (trackEnded false) and when it lands: drops what
    // the source holds beyond the queue and notes whether the track has ended.
    virtual void resetReadAhead(bool /*trackEnded*/) {}

    bool isCurrent(uint64_t gen) const {
        std::lock_guard lock(mutex);
        return generation == gen && !stop;
    }

    // Worker: queues what the seek found unless a later seek or a cancel replaced it meanwhile
    // (the newer one owns the queue then), and runs its completion.
    void finishSeek(Seek seek, uint64_t gen, Found shown, Found next, bool holdsEarlier,
                    bool trackEnded) {
        bool finished = false;
        {
            std::lock_guard lock(mutex);
            if (generation == gen && !stop) {
                queue.clear();
                resetReadAhead(trackEnded);
                if (shown.frame) queue.push_back({shown.pts, nextSerial++, std::move(shown.frame)});
                if (next.frame) queue.push_back({next.pts, nextSerial++, std::move(next.frame)});
                frontHoldsEarlier = holdsEarlier;
                ended = trackEnded;
                positioned = true;
                seekActive = false;
                frameReady.notify_all();
                finished = true;
            }
        }
        if (seek.completion) seek.completion(finished);
    }

    // Under the lock: queues a frame read ahead; a missing one, or one not after the last queued
    // (a repeated or out-of-order timestamp), is left out.
    void appendInOrder(int64_t pts, FrameRef frame) {
        if (frame && (queue.empty() || pts > queue.back().pts))
            queue.push_back({pts, nextSerial++, std::move(frame)});
    }

    mutable std::mutex mutex;
    std::condition_variable workerWake;
    std::condition_variable frameReady;
    std::deque<Queued> queue;
    bool frontHoldsEarlier = true;  // the queue's first frame also shows before its own time
    bool positioned = true;         // the queue follows a finished seek (or the start)
    bool ended = false;             // no frame comes after the queue's last
    bool stop = false;
    bool seekActive = false;  // pending or being carried out
    uint64_t generation = 0;  // changes with every seek and cancel
    std::optional<Seek> pendingSeek;
    uint64_t nextSerial = 1;
    uint64_t lastHandedSerial = 0;
    MediaError fatal;

private:
    // Under the lock: the queued frame showing at `t`, -1 for none.
    long indexFor(int64_t t) const {
        if (!positioned || queue.empty()) return -1;
        long found = -1;
        for (size_t i = 0; i < queue.size() && queue[i].pts <= t; ++i) found = long(i);
        if (found < 0 && frontHoldsEarlier) found = 0;
        return found;
    }

    // Under the lock: the frame at `index` shows at `t` for sure, as no frame can still be queued
    // between the two.
    bool isExact(long index, int64_t t) const {
        if (index < 0) return false;
        return size_t(index) + 1 < queue.size() || ended || t < queue[size_t(index)].pts;
    }

    // Under the lock: the reader released the frame showing at `t` by reading a later one.
    bool readPast(int64_t t) const {
        return lastHandedSerial != 0 && !frontHoldsEarlier && !queue.empty() && queue.front().pts > t;
    }

    // Under the lock.
    void releaseBefore(long index) {
        if (index > 0) {
            queue.erase(queue.begin(), queue.begin() + index);
            frontHoldsEarlier = false;
        }
    }
};
