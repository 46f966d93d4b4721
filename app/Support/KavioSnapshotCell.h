#pragma once
// A value that many threads read while another replaces it whole: the real-time threads read it
// without taking a lock and without waiting, writers never hand a reader freed memory.
//
// load() copies the value inside a short read section (two atomic counter updates around the
// copy); store() swaps in a fresh copy and waits until every reader that may still copy the old
// one has left its section, then frees the old one on the writer's thread. Readers are counted
// in two halves by a parity bit that each store flips, so a steady stream of new readers never
// keeps a writer waiting: only readers that entered before the swap are waited for.
//
// Made for values whose copy neither locks nor allocates (a std::shared_ptr, a std::weak_ptr, an
// implicitly shared QString); then load() is safe on the clock, render and audio threads.
// store() may be called from any thread but a real-time one (it allocates and may yield).

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

template <typename T>
class KavioSnapshotCell {
public:
    explicit KavioSnapshotCell(T value = T{}) : current_(new T(std::move(value))) {}
    ~KavioSnapshotCell() { delete current_.load(); }
    KavioSnapshotCell(const KavioSnapshotCell&) = delete;
    KavioSnapshotCell& operator=(const KavioSnapshotCell&) = delete;

    T load() const
    {
        for (;;) {
            const unsigned epoch = epoch_.load();
            auto& readers = readers_[epoch & 1u];
            readers.fetch_add(1);
            // Counted in the half every later store waits for; a store that flipped in between
            // may already have waited for this half, so count again in the new one.
            if (epoch_.load() == epoch) {
                T value = *current_.load();
                readers.fetch_sub(1);
                return value;
            }
            readers.fetch_sub(1);
        }
    }

    void store(T value)
    {
        std::unique_ptr<T> old;
        {
            std::lock_guard lock(writer_);
            old.reset(current_.exchange(new T(std::move(value))));
            // A reader that enters after the flip finds the new value; wait for the earlier ones.
            const unsigned half = epoch_.fetch_add(1u) & 1u;
            while (readers_[half].load() != 0)
                std::this_thread::yield();
        }
        // `old` goes here, outside the writers' lock: its destructor may run arbitrary code.
    }

private:
    std::atomic<T*> current_;
    std::atomic<unsigned> epoch_{0};
    mutable std::atomic<long> readers_[2] = {0, 0};
    std::mutex writer_;
};
