#include "MediaTime.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace {

using Int128 = __int128;

constexpr Int128 kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr Int128 kInt64Max = std::numeric_limits<std::int64_t>::max();

bool fitsInt64(Int128 v) { return v >= kInt64Min && v <= kInt64Max; }

Int128 abs128(Int128 v) { return v < 0 ? -v : v; }

std::int64_t gcd64(std::int64_t a, std::int64_t b)
{
    while (b != 0) {
        const std::int64_t t = a % b;
        a = b;
        b = t;
    }
    return a < 0 ? -a : a;
}

// n / d rounded by `method` (d > 0). `finer` says whether the conversion goes to a finer
// timescale (only the QuickTime method looks at it). `exact` tells whether no rounding happened.
Int128 divRound(Int128 n, Int128 d, MediaTime::RoundingMethod method, bool finer, bool* exact)
{
    using RM = MediaTime::RoundingMethod;
    const Int128 q = n / d;  // toward zero
    const Int128 r = n % d;
    *exact = r == 0;
    if (r == 0) return q;
    const Int128 away = n < 0 ? q - 1 : q + 1;
    switch (method) {
    case RM::RoundHalfAwayFromZero:
        return 2 * abs128(r) >= d ? away : q;
    case RM::RoundTowardZero:
        return q;
    case RM::RoundAwayFromZero:
        return away;
    case RM::QuickTime: {
        if (finer) return away;
        // Toward zero, but a negative value never becomes 0: the smallest negative time instead.
        return (q == 0 && n < 0) ? Int128(-1) : q;
    }
    case RM::RoundTowardPositiveInfinity:
        return n > 0 ? q + 1 : q;
    case RM::RoundTowardNegativeInfinity:
        return n < 0 ? q - 1 : q;
    }
    return 2 * abs128(r) >= d ? away : q;
}

enum class Kind { Invalid, NegativeInfinity, Numeric, Indefinite, PositiveInfinity };

Kind kindOf(const MediaTime& t)
{
    if (!t.isValid()) return Kind::Invalid;
    if (t.flags & MediaTime::kPositiveInfinity) return Kind::PositiveInfinity;
    if (t.flags & MediaTime::kNegativeInfinity) return Kind::NegativeInfinity;
    if (t.flags & MediaTime::kIndefinite) return Kind::Indefinite;
    if (t.timescale <= 0) return Kind::Invalid;
    return Kind::Numeric;
}

// Order of the kinds in compare(): -inf < numeric < indefinite < +inf < invalid.
int rank(Kind k)
{
    switch (k) {
    case Kind::NegativeInfinity: return 0;
    case Kind::Numeric: return 1;
    case Kind::Indefinite: return 2;
    case Kind::PositiveInfinity: return 3;
    case Kind::Invalid: return 4;
    }
    return 4;
}

// The kind of -t.
Kind negated(Kind k)
{
    if (k == Kind::PositiveInfinity) return Kind::NegativeInfinity;
    if (k == Kind::NegativeInfinity) return Kind::PositiveInfinity;
    return k;
}

// a + b when either is not numeric: invalid wins, then infinity (opposite infinities give
// invalid), then indefinite. Nothing when both are numeric.
std::optional<MediaTime> nonNumericSum(Kind a, Kind b)
{
    auto infinity = [](Kind k) {
        return k == Kind::PositiveInfinity ? MediaTime::positiveInfinity() : MediaTime::negativeInfinity();
    };
    const bool infA = a == Kind::PositiveInfinity || a == Kind::NegativeInfinity;
    const bool infB = b == Kind::PositiveInfinity || b == Kind::NegativeInfinity;
    if (a == Kind::Invalid || b == Kind::Invalid) return MediaTime::invalid();
    if (infA && infB) return a == b ? infinity(a) : MediaTime::invalid();
    if (infA) return infinity(a);
    if (infB) return infinity(b);
    if (a == Kind::Indefinite || b == Kind::Indefinite) return MediaTime::indefinite();
    return std::nullopt;
}

// The time num/den seconds at `timescale`, rounded half away from zero; while the value
// overflows, the timescale is halved; at timescale 1 an overflow gives +/- infinity.
MediaTime fromRational(Int128 num, Int128 den, std::int32_t timescale, bool rounded,
                       std::int64_t epoch)
{
    for (;;) {
        bool exact = true;
        const Int128 v = divRound(num * timescale, den, MediaTime::RoundingMethod::Default,
                                  false, &exact);
        if (fitsInt64(v)) {
            const std::uint32_t flags =
                MediaTime::kValid | ((rounded || !exact) ? MediaTime::kHasBeenRounded : 0u);
            return MediaTime(static_cast<std::int64_t>(v), timescale, flags, epoch);
        }
        if (timescale == 1)
            return num > 0 ? MediaTime::positiveInfinity() : MediaTime::negativeInfinity();
        timescale /= 2;
    }
}

// The result timescale of add and subtract: the common one, else the least common multiple
// when it fits, else kMaxTimescale.
std::int32_t resultTimescale(std::int32_t a, std::int32_t b)
{
    if (a == b) return a;
    const Int128 lcm = Int128(a / gcd64(a, b)) * b;
    return lcm <= MediaTime::kMaxTimescale ? static_cast<std::int32_t>(lcm) : MediaTime::kMaxTimescale;
}

// a + sign * b for two numeric times whose epochs have been checked.
MediaTime addNumeric(const MediaTime& a, const MediaTime& b, int sign, std::int64_t epoch)
{
    const Int128 num = Int128(a.value) * b.timescale + Int128(sign) * Int128(b.value) * a.timescale;
    const Int128 den = Int128(a.timescale) * b.timescale;
    return fromRational(num, den, resultTimescale(a.timescale, b.timescale),
                        a.hasBeenRounded() || b.hasBeenRounded(), epoch);
}

int bitLength(Int128 v)
{
    v = abs128(v);
    int n = 0;
    while (v != 0) {
        v >>= 1;
        ++n;
    }
    return n;
}

void putLE(QByteArray& out, std::uint64_t v, int width)
{
    for (int i = 0; i < width; ++i) out.append(static_cast<char>((v >> (8 * i)) & 0xff));
}

std::uint64_t getLE(const QByteArray& in, int pos, int width)
{
    std::uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint8_t>(in.at(pos + i));
    return v;
}

}  // namespace

MediaTime MediaTime::make(std::int64_t value, std::int32_t timescale)
{
    return makeWithEpoch(value, timescale, 0);
}

MediaTime MediaTime::makeWithEpoch(std::int64_t value, std::int32_t timescale, std::int64_t epoch)
{
    if (timescale <= 0) return invalid();
    return MediaTime(value, timescale, kValid, epoch);
}

MediaTime MediaTime::makeWithSeconds(double seconds, std::int32_t preferredTimescale)
{
    if (std::isnan(seconds) || preferredTimescale <= 0) return invalid();
    if (std::isinf(seconds)) return seconds > 0 ? positiveInfinity() : negativeInfinity();

    // seconds = mantissa * 2^shift exactly, with a 53-bit integer mantissa.
    int exponent = 0;
    const double fraction = std::frexp(seconds, &exponent);
    const auto mantissa = static_cast<std::int64_t>(std::ldexp(fraction, 53));
    const int shift = exponent - 53;

    std::int32_t timescale = preferredTimescale;
    for (;;) {
        const Int128 num = Int128(mantissa) * timescale;  // below 2^85
        Int128 value = 0;
        bool exact = true;
        bool overflow = false;
        if (shift >= 0) {
            if (num != 0 && bitLength(num) + shift > 126) overflow = true;
            else value = num << shift;
        } else if (-shift >= 100) {
            value = 0;  // |seconds * timescale| < 2^-15
            exact = num == 0;
        } else {
            value = divRound(num, Int128(1) << (-shift), RoundingMethod::Default, false, &exact);
        }
        if (!overflow && fitsInt64(value)) {
            return MediaTime(static_cast<std::int64_t>(value), timescale,
                             kValid | (exact ? 0u : kHasBeenRounded), 0);
        }
        if (timescale == 1) return seconds > 0 ? positiveInfinity() : negativeInfinity();
        timescale /= 2;
    }
}

double MediaTime::seconds() const
{
    switch (kindOf(*this)) {
    case Kind::Numeric: return static_cast<double>(value) / static_cast<double>(timescale);
    case Kind::PositiveInfinity: return std::numeric_limits<double>::infinity();
    case Kind::NegativeInfinity: return -std::numeric_limits<double>::infinity();
    case Kind::Invalid:
    case Kind::Indefinite: break;
    }
    return std::numeric_limits<double>::quiet_NaN();
}

MediaTime MediaTime::convertScale(std::int32_t newTimescale, RoundingMethod method) const
{
    if (kindOf(*this) != Kind::Numeric) return *this;
    if (newTimescale <= 0) return invalid();
    if (newTimescale == timescale) return *this;
    bool exact = true;
    const Int128 v = divRound(Int128(value) * newTimescale, Int128(timescale), method,
                              newTimescale > timescale, &exact);
    if (!fitsInt64(v)) return v > 0 ? positiveInfinity() : negativeInfinity();
    const std::uint32_t newFlags = kValid | ((hasBeenRounded() || !exact) ? kHasBeenRounded : 0u);
    return MediaTime(static_cast<std::int64_t>(v), newTimescale, newFlags, epoch);
}

int MediaTime::compare(const MediaTime& a, const MediaTime& b)
{
    const Kind ka = kindOf(a);
    const Kind kb = kindOf(b);
    if (ka != Kind::Numeric || kb != Kind::Numeric) {
        const int ra = rank(ka);
        const int rb = rank(kb);
        return ra < rb ? -1 : ra > rb ? 1 : 0;
    }
    if (a.epoch != b.epoch) return a.epoch < b.epoch ? -1 : 1;
    const Int128 l = Int128(a.value) * b.timescale;
    const Int128 r = Int128(b.value) * a.timescale;
    return l < r ? -1 : l > r ? 1 : 0;
}

MediaTime MediaTime::add(const MediaTime& a, const MediaTime& b)
{
    if (const auto special = nonNumericSum(kindOf(a), kindOf(b))) return *special;
    std::int64_t epoch = 0;
    if (a.epoch == b.epoch) epoch = 0;
    else if (a.epoch == 0) epoch = b.epoch;
    else if (b.epoch == 0) epoch = a.epoch;
    else return invalid();
    return addNumeric(a, b, +1, epoch);
}

MediaTime MediaTime::subtract(const MediaTime& a, const MediaTime& b)
{
    if (const auto special = nonNumericSum(kindOf(a), negated(kindOf(b)))) return *special;
    std::int64_t epoch = 0;
    if (a.epoch == b.epoch) epoch = 0;
    else if (b.epoch == 0) epoch = a.epoch;
    else return invalid();
    return addNumeric(a, b, -1, epoch);
}

MediaTime MediaTime::minimum(const MediaTime& a, const MediaTime& b)
{
    return compare(a, b) <= 0 ? a : b;
}

MediaTime MediaTime::maximum(const MediaTime& a, const MediaTime& b)
{
    return compare(a, b) >= 0 ? a : b;
}

MediaTime MediaTime::absoluteValue() const
{
    switch (kindOf(*this)) {
    case Kind::NegativeInfinity: return positiveInfinity();
    case Kind::Numeric:
        if (value >= 0) return *this;
        return fromRational(-Int128(value), Int128(timescale), timescale, hasBeenRounded(), epoch);
    default: return *this;
    }
}

QByteArray MediaTime::toData() const
{
    QByteArray out;
    out.reserve(kRecordSize);
    putLE(out, static_cast<std::uint64_t>(value), 8);
    putLE(out, static_cast<std::uint32_t>(timescale), 4);
    putLE(out, flags, 4);
    putLE(out, static_cast<std::uint64_t>(epoch), 8);
    return out;
}

MediaTime MediaTime::fromData(const QByteArray& data)
{
    if (data.size() != kRecordSize) return invalid();
    MediaTime t;
    t.value = static_cast<std::int64_t>(getLE(data, 0, 8));
    t.timescale = static_cast<std::int32_t>(static_cast<std::uint32_t>(getLE(data, 8, 4)));
    t.flags = static_cast<std::uint32_t>(getLE(data, 12, 4));
    t.epoch = static_cast<std::int64_t>(getLE(data, 16, 8));
    return t;
}

std::string MediaTime::description() const
{
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "{%lld/%d = %.6f, flags 0x%x, epoch %lld}",
                  static_cast<long long>(value), timescale, seconds(), flags,
                  static_cast<long long>(epoch));
    return buffer;
}
