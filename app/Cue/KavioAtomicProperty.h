#pragma once
// Storage for the cue's properties that other threads read while the main thread writes them.
//
// KavioSeqLocked<T> holds a small trivially copyable value (a media time, a size, the crop) so
// that a reader never sees half of one write. Readers take no lock and never wait for a writer
// to be scheduled: they copy the words and retry when a write overlapped (a sequence lock), so
// the render and clock threads may read them. Writers are serialised by a short spin; a write
// is a copy of a few words.
//
// KavioLockedValue<T> holds a value that owns memory (strings, records) behind a mutex; its
// getter answers a copy. Not for real-time threads.

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <type_traits>

template <typename T>
class KavioSeqLocked {
    static_assert(std::is_trivially_copyable_v<T>, "KavioSeqLocked holds plain values only");
    static constexpr std::size_t kWords = (sizeof(T) + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t);
    using Words = std::array<std::uint64_t, kWords>;

public:
    explicit KavioSeqLocked(const T& value = T{}) { store(value); }
    KavioSeqLocked(const KavioSeqLocked&) = delete;
    KavioSeqLocked& operator=(const KavioSeqLocked&) = delete;

    T load() const
    {
        Words words;
        std::uint32_t before = 0;
        std::uint32_t after = 0;
        do {
            before = sequence_.load(std::memory_order_acquire);
            // Acquire loads keep the second sequence read after the words.
            for (std::size_t i = 0; i < kWords; ++i)
                words[i] = words_[i].load(std::memory_order_acquire);
            after = sequence_.load(std::memory_order_relaxed);
        } while ((before & 1u) != 0 || before != after);
        T value{};
        std::memcpy(static_cast<void*>(&value), words.data(), sizeof(T));
        return value;
    }

    void store(const T& value)
    {
        Words words{};
        std::memcpy(words.data(), &value, sizeof(T));
        while (writing_.test_and_set(std::memory_order_acquire)) {
        }
        const std::uint32_t sequence = sequence_.load(std::memory_order_relaxed);
        sequence_.store(sequence + 1, std::memory_order_relaxed);
        // Release stores publish the odd sequence to any reader that sees a new word.
        for (std::size_t i = 0; i < kWords; ++i)
            words_[i].store(words[i], std::memory_order_release);
        sequence_.store(sequence + 2, std::memory_order_release);
        writing_.clear(std::memory_order_release);
    }

private:
    std::atomic<std::uint32_t> sequence_{0};
    std::atomic_flag writing_ = ATOMIC_FLAG_INIT;
    std::array<std::atomic<std::uint64_t>, kWords> words_{};
};

template <typename T>
class KavioLockedValue {
public:
    explicit KavioLockedValue(T value = T{}) : value_(std::move(value)) {}
    KavioLockedValue(const KavioLockedValue&) = delete;
    KavioLockedValue& operator=(const KavioLockedValue&) = delete;

    T load() const
    {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void store(T value)
    {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
    }

private:
    mutable std::mutex mutex_;
    T value_;
};

// KavioAtomicField<T> is a plain scalar member (a button's state) that another thread may read
// while the main thread writes it: it reads and writes like a T, copies like one, and every
// access is a single atomic load or store.
template <typename T>
class KavioAtomicField {
public:
    KavioAtomicField(T value = T{}) : value_(value) {}  // NOLINT: converts like the T it stands for
    KavioAtomicField(const KavioAtomicField& other) : value_(other.value_.load()) {}
    KavioAtomicField& operator=(const KavioAtomicField& other)
    {
        value_.store(other.value_.load());
        return *this;
    }
    KavioAtomicField& operator=(T value)
    {
        value_.store(value);
        return *this;
    }
    operator T() const { return value_.load(); }  // NOLINT: reads like the T it stands for

private:
    std::atomic<T> value_;
};
