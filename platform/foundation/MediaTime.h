#pragma once
// A media time: the rational value/timescale time with flags and epoch that players, items and
// cue records use (the original platform's CMTime), with its arithmetic.
//
// seconds = value / timescale. The flags say what kind of time it is:
//   kValid 1, kHasBeenRounded 2, kPositiveInfinity 4, kNegativeInfinity 8, kIndefinite 16.
// A time without kValid is invalid (MediaTime() is the invalid time, all fields zero). A valid
// time with one of the three special flags is non-numeric; a valid time with none of them and a
// positive timescale is numeric. The epoch tells apart equal times on different passes of a loop;
// it is 0 almost everywhere.
//
// Arithmetic is exact on the rational values: add and subtract of two times at different
// timescales give the least common multiple timescale when it fits in 32 bits, and otherwise
// kMaxTimescale with rounding (half away from zero); a value that overflows 64 bits halves the
// timescale until it fits, and becomes +/- infinity when even timescale 1 overflows. Any rounding
// sets kHasBeenRounded; so does a rounded operand. The rules for invalid, infinite and
// indefinite operands and for epochs are those of the platform's documentation, stated at
// add() and subtract().
//
// Times inside cues are kept at timescale kCueTimescale (600).
//
// Record form: 24 bytes, little-endian, exactly as the platform keeps a CMTime in memory:
//   value (int64) | timescale (int32) | flags (uint32) | epoch (int64)
// written and read field by field. This is how cue records store "_intime", "_outtime" and
// "_thumbtime".
//
// A plain value type: no state, any thread.

#include <QByteArray>

#include <cstdint>
#include <string>

class MediaTime {
public:
    enum Flags : std::uint32_t {
        kValid = 1u << 0,
        kHasBeenRounded = 1u << 1,
        kPositiveInfinity = 1u << 2,
        kNegativeInfinity = 1u << 3,
        kIndefinite = 1u << 4,
        kImpliedValueFlagsMask = kPositiveInfinity | kNegativeInfinity | kIndefinite,
    };

    // The platform's rounding methods, with its codes.
    enum class RoundingMethod : std::uint32_t {
        RoundHalfAwayFromZero = 1,
        RoundTowardZero = 2,
        RoundAwayFromZero = 3,
        QuickTime = 4,  // toward zero to a coarser timescale, away from zero to a finer one;
                        // never rounds a negative value up to 0
        RoundTowardPositiveInfinity = 5,
        RoundTowardNegativeInfinity = 6,
        Default = RoundHalfAwayFromZero,
    };

    static constexpr std::int32_t kMaxTimescale = 0x7fffffff;
    static constexpr std::int32_t kCueTimescale = 600;
    static constexpr int kRecordSize = 24;

    std::int64_t value = 0;
    std::int32_t timescale = 0;
    std::uint32_t flags = 0;
    std::int64_t epoch = 0;

    // The invalid time.
    constexpr MediaTime() = default;
    constexpr MediaTime(std::int64_t value_, std::int32_t timescale_, std::uint32_t flags_,
                        std::int64_t epoch_)
        : value(value_), timescale(timescale_), flags(flags_), epoch(epoch_)
    {
    }

    // A valid time value/timescale in epoch 0 (CMTimeMake). A timescale <= 0 gives an invalid time.
    static MediaTime make(std::int64_t value, std::int32_t timescale);
    static MediaTime makeWithEpoch(std::int64_t value, std::int32_t timescale, std::int64_t epoch);
    // The nearest time at `preferredTimescale` (CMTimeMakeWithSeconds): rounded half away from
    // zero, kHasBeenRounded when it does not convert back to exactly `seconds`; the timescale
    // is halved while the value would overflow, +/- infinity when it still does at 1. NaN or a
    // timescale <= 0 give the invalid time; +/- infinity the infinite times.
    static MediaTime makeWithSeconds(double seconds, std::int32_t preferredTimescale);

    static constexpr MediaTime invalid() { return MediaTime(); }
    static constexpr MediaTime zero() { return MediaTime(0, 1, kValid, 0); }
    static constexpr MediaTime positiveInfinity() { return MediaTime(0, 0, kValid | kPositiveInfinity, 0); }
    static constexpr MediaTime negativeInfinity() { return MediaTime(0, 0, kValid | kNegativeInfinity, 0); }
    static constexpr MediaTime indefinite() { return MediaTime(0, 0, kValid | kIndefinite, 0); }

    bool isValid() const { return (flags & kValid) != 0; }
    bool isPositiveInfinity() const { return isValid() && (flags & kPositiveInfinity) != 0; }
    bool isNegativeInfinity() const { return isValid() && (flags & kNegativeInfinity) != 0; }
    bool isIndefinite() const { return isValid() && (flags & kIndefinite) != 0; }
    bool isInfinite() const { return isPositiveInfinity() || isNegativeInfinity(); }
    // Valid, not infinite, not indefinite, and with a positive timescale.
    bool isNumeric() const { return isValid() && (flags & kImpliedValueFlagsMask) == 0 && timescale > 0; }
    bool hasBeenRounded() const { return (flags & kHasBeenRounded) != 0; }

    // value / timescale (CMTimeGetSeconds): NaN for invalid and indefinite times, +/- infinity
    // for the infinite ones. The epoch is not part of the result.
    double seconds() const;

    // The same time at another timescale (CMTimeConvertScale); non-numeric times stay as they
    // are. kHasBeenRounded when the value had to be rounded; infinity when it overflows.
    MediaTime convertScale(std::int32_t newTimescale,
                           RoundingMethod method = RoundingMethod::Default) const;

    // -1, 0 or 1 (CMTimeCompare). Order: negative infinity < numeric times < indefinite <
    // positive infinity < invalid; invalid times equal each other, as do two indefinite times.
    // Numeric times compare by epoch first, then by exact rational value (1/2 == 300/600).
    static int compare(const MediaTime& a, const MediaTime& b);

    // a + b (CMTimeAdd). Invalid if either is invalid; +inf + -inf is invalid; one infinite
    // operand gives that infinity; else indefinite if either is indefinite. Epochs: different
    // non-zero epochs give invalid; the same non-zero epoch gives epoch 0 (as documented); a
    // zero epoch takes the other operand's.
    static MediaTime add(const MediaTime& a, const MediaTime& b);
    // a - b (CMTimeSubtract). Invalid if either is invalid; +inf - +inf and -inf - -inf are
    // invalid; +inf - x is +inf, x - +inf is -inf, and so on; else indefinite if either is
    // indefinite. Epochs: the same epoch gives epoch 0 (a duration); b in epoch 0 keeps a's
    // epoch; any other pair of epochs gives invalid.
    static MediaTime subtract(const MediaTime& a, const MediaTime& b);

    static MediaTime minimum(const MediaTime& a, const MediaTime& b);
    static MediaTime maximum(const MediaTime& a, const MediaTime& b);
    // The absolute value; -inf becomes +inf; other non-numeric times are unchanged.
    MediaTime absoluteValue() const;

    // The 24-byte record form. fromData() gives the invalid time for data of another length.
    QByteArray toData() const;
    static MediaTime fromData(const QByteArray& data);

    // For logs and test messages: "{value/timescale = seconds, flags, epoch}".
    std::string description() const;

    // Equality and order by compare(): 1/2 == 300/600, like the platform's own operators.
    // Use isIdentical() to compare the four fields.
    static bool isIdentical(const MediaTime& a, const MediaTime& b)
    {
        return a.value == b.value && a.timescale == b.timescale && a.flags == b.flags &&
               a.epoch == b.epoch;
    }
    friend bool operator==(const MediaTime& a, const MediaTime& b) { return compare(a, b) == 0; }
    friend bool operator!=(const MediaTime& a, const MediaTime& b) { return compare(a, b) != 0; }
    friend bool operator<(const MediaTime& a, const MediaTime& b) { return compare(a, b) < 0; }
    friend bool operator>(const MediaTime& a, const MediaTime& b) { return compare(a, b) > 0; }
    friend bool operator<=(const MediaTime& a, const MediaTime& b) { return compare(a, b) <= 0; }
    friend bool operator>=(const MediaTime& a, const MediaTime& b) { return compare(a, b) >= 0; }
    friend MediaTime operator+(const MediaTime& a, const MediaTime& b) { return add(a, b); }
    friend MediaTime operator-(const MediaTime& a, const MediaTime& b) { return subtract(a, b); }
};
