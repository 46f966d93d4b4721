#include "Support/KavioThreadsafeText.h"

#include <algorithm>

void KavioThreadsafeText::store(const QString& text)
{
    // Another writer at work: its text stands; the next frame writes again. Nobody waits.
    if (writing_.test_and_set(std::memory_order_acquire))
        return;
    const int length = int(std::min<qsizetype>(text.size(), kMaxLength));
    sequence_.fetch_add(1, std::memory_order_acq_rel);
    for (int i = 0; i < length; ++i)
        units_[i].store(text.at(i).unicode(), std::memory_order_relaxed);
    length_.store(length, std::memory_order_relaxed);
    sequence_.fetch_add(1, std::memory_order_release);
    writing_.clear(std::memory_order_release);
}

bool KavioThreadsafeText::equals(const QString& text) const
{
    // One look: a write under way answers "not equal" rather than waiting for the writer.
    const qsizetype wanted = std::min<qsizetype>(text.size(), kMaxLength);
    const unsigned before = sequence_.load(std::memory_order_acquire);
    if (before & 1u)
        return false;
    bool equal = length_.load(std::memory_order_relaxed) == wanted;
    for (qsizetype i = 0; equal && i < wanted; ++i)
        equal = units_[i].load(std::memory_order_relaxed) == text.at(i).unicode();
    std::atomic_thread_fence(std::memory_order_acquire);
    return equal && sequence_.load(std::memory_order_relaxed) == before;
}

QString KavioThreadsafeText::load() const
{
    std::array<char16_t, kMaxLength> copy{};
    for (;;) {
        const unsigned before = sequence_.load(std::memory_order_acquire);
        if (before & 1u)
            continue;
        const int length = length_.load(std::memory_order_relaxed);
        for (int i = 0; i < length; ++i)
            copy[i] = units_[i].load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (sequence_.load(std::memory_order_relaxed) == before)
            return QString(reinterpret_cast<const QChar*>(copy.data()), length);
    }
}
