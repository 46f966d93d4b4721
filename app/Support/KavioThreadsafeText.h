#pragma once
// A short text one thread writes every frame while others read it, without locks or allocation
// on the writer's side: a fixed buffer guarded by a sequence counter. A write that finds another
// writer at work is dropped (the writer's next frame writes again), and a comparison made while a
// write is under way answers "not equal" rather than waiting. The clock thread writes the main
// time display through it.

#include <QString>

#include <array>
#include <atomic>

class KavioThreadsafeText {
public:
    // Longer texts are cut to this many UTF-16 units ("-00:00:00:00" has 12).
    static constexpr int kMaxLength = 31;

    // Any thread; neither blocks nor allocates.
    void store(const QString& text);
    bool equals(const QString& text) const;
    // Any thread; retries while a write is under way.
    QString load() const;

private:
    mutable std::atomic<unsigned> sequence_{0};  // odd while a write is under way
    std::atomic_flag writing_;
    std::array<std::atomic<char16_t>, kMaxLength> units_{};
    std::atomic<int> length_{0};
};
