#include "MediaTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::uint32_t V = MediaTime::kValid;
constexpr std::uint32_t R = MediaTime::kValid | MediaTime::kHasBeenRounded;

MediaTime t(std::int64_t value, std::int32_t timescale, std::uint32_t flags = V, std::int64_t epoch = 0)
{
    return MediaTime(value, timescale, flags, epoch);
}

void expectIdentical(const MediaTime& actual, const MediaTime& expected)
{
    EXPECT_TRUE(MediaTime::isIdentical(actual, expected))
        << actual.description() << " expected " << expected.description();
}

TEST(MediaTime, RecordIs24BytesLittleEndianFieldByField)
{
    const MediaTime time(0x0102030405060708LL, 600, MediaTime::kValid | MediaTime::kHasBeenRounded, -2);
    const QByteArray data = time.toData();
    const QByteArray expected("\x08\x07\x06\x05\x04\x03\x02\x01"   // value
                              "\x58\x02\x00\x00"                   // timescale 600
                              "\x03\x00\x00\x00"                   // flags
                              "\xfe\xff\xff\xff\xff\xff\xff\xff",  // epoch -2
                              24);
    EXPECT_EQ(data, expected);
    expectIdentical(MediaTime::fromData(data), time);
    expectIdentical(MediaTime::fromData(MediaTime::positiveInfinity().toData()), MediaTime::positiveInfinity());

    for (int size : {0, 16, 23, 25, 32}) {
        SCOPED_TRACE(size);
        EXPECT_FALSE(MediaTime::fromData(QByteArray(size, '\x01')).isValid());
    }
}

TEST(MediaTime, SecondsConversion)
{
    EXPECT_EQ(t(300, MediaTime::kCueTimescale).seconds(), 0.5);
    EXPECT_EQ(t(-1200, 600, V, 5).seconds(), -2.0);
    EXPECT_TRUE(std::isnan(MediaTime::invalid().seconds()));
    EXPECT_TRUE(std::isnan(MediaTime::indefinite().seconds()));
    EXPECT_TRUE(std::isnan(t(5, 0).seconds()));  // valid flag but no timescale: not a number
    EXPECT_EQ(MediaTime::positiveInfinity().seconds(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(MediaTime::negativeInfinity().seconds(), -std::numeric_limits<double>::infinity());
    EXPECT_FALSE(MediaTime::make(1, 0).isValid());
}

TEST(MediaTime, MakeWithSeconds)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double seconds;
        std::int32_t timescale;
        MediaTime expected;
    } cases[] = {
        {0.5, 600, t(300, 600)},
        {0.0, 600, t(0, 600)},
        {1.0 / 3.0, 600, t(200, 600, R)},
        {2.0005, 600, t(1200, 600, R)},        // 1200.3
        {-0.0025, 600, t(-2, 600, R)},         // -1.5: half away from zero
        {0.0025, 600, t(2, 600, R)},
        {-1.5, 1, t(-2, 1, R)},
        {2.5, 1, t(3, 1, R)},
        {0.1, 10, t(1, 10, R)},                // 0.1 is not exactly a tenth
        {1e17, 600, t(7500000000000000000LL, 75)},  // 600 -> 300 -> 150 -> 75
        {1e300, 600, MediaTime::positiveInfinity()},
        {-1e300, 600, MediaTime::negativeInfinity()},
        {inf, 600, MediaTime::positiveInfinity()},
        {-inf, 600, MediaTime::negativeInfinity()},
        {nan, 600, MediaTime::invalid()},
        {1.0, 0, MediaTime::invalid()},
        {1.0, -600, MediaTime::invalid()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        expectIdentical(MediaTime::makeWithSeconds(c.seconds, c.timescale), c.expected);
    }
}

TEST(MediaTime, CompareOrdersKindsAndExactValues)
{
    const MediaTime order[] = {MediaTime::negativeInfinity(), t(-1, 1), t(1, 3), t(1, 2, V, 0),
                               t(0, 1, V, 1),  // a later epoch comes after any earlier time
                               MediaTime::indefinite(), MediaTime::positiveInfinity(),
                               MediaTime::invalid()};
    for (std::size_t i = 0; i < std::size(order); ++i) {
        for (std::size_t j = 0; j < std::size(order); ++j) {
            SCOPED_TRACE(order[i].description() + " vs " + order[j].description());
            EXPECT_EQ(MediaTime::compare(order[i], order[j]), i < j ? -1 : i > j ? 1 : 0);
        }
    }
    EXPECT_EQ(MediaTime::compare(t(1, 2), t(300, 600)), 0);
    EXPECT_TRUE(t(1, 2) == t(300, 600));
    EXPECT_FALSE(MediaTime::isIdentical(t(1, 2), t(300, 600)));
    EXPECT_EQ(MediaTime::compare(t(kMax, 1), t(kMax, 2)), 1);  // no overflow in the cross product
    EXPECT_EQ(MediaTime::compare(MediaTime(0, 0, 0, 0), MediaTime(5, 600, 0, 3)), 0);  // invalid == invalid
    expectIdentical(MediaTime::minimum(t(1, 2), t(1, 3)), t(1, 3));
    expectIdentical(MediaTime::maximum(t(1, 2), MediaTime::indefinite()), MediaTime::indefinite());
}

TEST(MediaTime, AddIsExactAtTheCommonTimescale)
{
    const struct {
        const char* name;
        MediaTime a, b, expected;
    } cases[] = {
        {"same timescale", t(300, 600), t(150, 600), t(450, 600)},
        {"lcm", t(1, 600), t(1, 1000), t(8, 3000)},
        {"lcm audio", t(1, 600), t(1, 44100), t(149, 88200)},
        {"lcm too large", t(1, 2147483647), t(1, 2147483646), t(2, MediaTime::kMaxTimescale, R)},
        {"overflow halves", t(kMax, 600), t(kMax, 600), t(kMax, 300)},
        {"overflow at 1", t(kMax, 1), t(1, 1), MediaTime::positiveInfinity()},
        {"negative overflow", t(-kMax, 1), t(-2, 1), MediaTime::negativeInfinity()},
        {"rounded operand", t(1, 600, R), t(1, 600), t(2, 600, R)},
        {"invalid", MediaTime::invalid(), t(1, 1), MediaTime::invalid()},
        {"+inf + -inf", MediaTime::positiveInfinity(), MediaTime::negativeInfinity(), MediaTime::invalid()},
        {"+inf + +inf", MediaTime::positiveInfinity(), MediaTime::positiveInfinity(), MediaTime::positiveInfinity()},
        {"x + -inf", t(1, 1), MediaTime::negativeInfinity(), MediaTime::negativeInfinity()},
        {"inf beats indefinite", MediaTime::indefinite(), MediaTime::positiveInfinity(), MediaTime::positiveInfinity()},
        {"indefinite", MediaTime::indefinite(), t(1, 1), MediaTime::indefinite()},
        {"different epochs", t(1, 1, V, 1), t(1, 1, V, 2), MediaTime::invalid()},
        {"same epoch", t(1, 1, V, 3), t(1, 1, V, 3), t(2, 1, V, 0)},
        {"duration to epoch", t(1, 1, V, 3), t(1, 1, V, 0), t(2, 1, V, 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectIdentical(MediaTime::add(c.a, c.b), c.expected);
        expectIdentical(c.b + c.a, c.expected);
    }
}

TEST(MediaTime, Subtract)
{
    const struct {
        const char* name;
        MediaTime a, b, expected;
    } cases[] = {
        {"lcm", t(1, 2), t(1, 3), t(1, 6)},
        {"negative result", t(300, 600), t(2, 1), t(-900, 600)},
        {"+inf - +inf", MediaTime::positiveInfinity(), MediaTime::positiveInfinity(), MediaTime::invalid()},
        {"-inf - -inf", MediaTime::negativeInfinity(), MediaTime::negativeInfinity(), MediaTime::invalid()},
        {"+inf - -inf", MediaTime::positiveInfinity(), MediaTime::negativeInfinity(), MediaTime::positiveInfinity()},
        {"-inf - +inf", MediaTime::negativeInfinity(), MediaTime::positiveInfinity(), MediaTime::negativeInfinity()},
        {"x - +inf", t(1, 1), MediaTime::positiveInfinity(), MediaTime::negativeInfinity()},
        {"x - -inf", t(1, 1), MediaTime::negativeInfinity(), MediaTime::positiveInfinity()},
        {"indefinite", t(1, 1), MediaTime::indefinite(), MediaTime::indefinite()},
        {"invalid", t(1, 1), MediaTime::invalid(), MediaTime::invalid()},
        {"same epoch is a duration", t(5, 1, V, 4), t(2, 1, V, 4), t(3, 1, V, 0)},
        {"minus a duration", t(5, 1, V, 4), t(2, 1), t(3, 1, V, 4)},
        {"duration minus a time", t(5, 1), t(2, 1, V, 4), MediaTime::invalid()},
        {"overflow", t(-kMax, 1), t(2, 1), MediaTime::negativeInfinity()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectIdentical(MediaTime::subtract(c.a, c.b), c.expected);
        expectIdentical(c.a - c.b, c.expected);
    }
}

TEST(MediaTime, ConvertScaleAndAbsoluteValue)
{
    using RM = MediaTime::RoundingMethod;
    expectIdentical(t(1, 3).convertScale(600), t(200, 600));
    expectIdentical(t(1, 7).convertScale(600), t(86, 600, R));
    expectIdentical(t(1, 7).convertScale(600, RM::RoundTowardZero), t(85, 600, R));
    expectIdentical(t(-1, 7).convertScale(600, RM::RoundTowardNegativeInfinity), t(-86, 600, R));
    expectIdentical(t(1, 7).convertScale(600, RM::QuickTime), t(86, 600, R));   // to a finer scale
    expectIdentical(t(-1, 600).convertScale(7, RM::QuickTime), t(-1, 7, R));    // never to 0
    expectIdentical(t(kMax, 1).convertScale(600), MediaTime::positiveInfinity());
    expectIdentical(MediaTime::indefinite().convertScale(600), MediaTime::indefinite());

    expectIdentical(t(-300, 600).absoluteValue(), t(300, 600));
    expectIdentical(t(std::numeric_limits<std::int64_t>::min(), 2).absoluteValue(), t(std::int64_t(1) << 62, 1));
    expectIdentical(MediaTime::negativeInfinity().absoluteValue(), MediaTime::positiveInfinity());
}

}  // namespace
