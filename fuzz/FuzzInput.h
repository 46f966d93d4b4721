#pragma once
// Reads a fuzz input as a sequence of small fields, for targets whose input is more than one
// blob. Past the end, numbers read as zero and blobs as empty, so every input means something.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool atEnd() const { return at_ >= size_; }

    std::uint8_t byte() { return atEnd() ? 0 : data_[at_++]; }
    std::uint16_t u16()
    {
        const std::uint16_t high = byte();
        return std::uint16_t(high << 8 | byte());
    }

    // The next `n` bytes, or as many as are left.
    std::span<const std::uint8_t> take(std::size_t n)
    {
        n = std::min(n, size_ - at_);
        const std::span<const std::uint8_t> out(data_ + at_, n);
        at_ += n;
        return out;
    }
    std::span<const std::uint8_t> rest() { return take(size_ - at_); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Ends the process the way a sanitizer report does, for a broken promise no sanitizer sees.
[[noreturn]] inline void brokenPromise() { __builtin_trap(); }

}  // namespace fuzz
