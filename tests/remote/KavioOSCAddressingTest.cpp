// The role prefixes of cue addresses and the reading of network arguments.

#include "Remote/KavioOSCArgument.h"
#include "Remote/KavioOSCCueAddressing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

QVariantMap withFirst(int type, const QVariant& value)
{
    return {{"address", "/x"}, {"0", QVariantMap{{"type", type}, {"val", value}}}};
}

}  // namespace

TEST(KavioOSCCueAddressing, RolePrefixesBecomeIndexes)
{
    const KavioOSCCueListState none{std::nullopt, 5, {}};
    const KavioOSCCueListState third{3, 5, {}};
    const KavioOSCCueListState last{5, 5, {}};
    const KavioOSCCueListState first{1, 5, {4, 2}};
    const KavioOSCCueListState empty{std::nullopt, 0, {}};
    struct Case {
        const char* address;
        KavioOSCCueListState state;
        QStringList expected;
    };
    const Case cases[] = {
        {"/kavio/current/opacity", third, {"/kavio/3/opacity"}},
        {"/kavio/current/opacity", none, {"/kavio/current/opacity"}},
        {"/kavio/next/play", last, {"/kavio/6/play"}},
        {"/kavio/next/play", none, {"/kavio/next/play"}},
        {"/kavio/previous/play", first, {"/kavio/0/play"}},
        {"/kavio/all/opacity", third, {"/kavio/1/opacity", "/kavio/2/opacity", "/kavio/3/opacity", "/kavio/4/opacity", "/kavio/5/opacity"}},
        {"/kavio/all/opacity", empty, {}},
        {"/kavio/selected/volume", third, {}},
        {"/kavio/selected/volume", first, {"/kavio/4/volume", "/kavio/2/volume"}},
        {"/kavio/play/now", third, {"/kavio/play/now"}},
        {"/kavio/A1/opacity", third, {"/kavio/A1/opacity"}},
        // Another root with a role word keeps its address.
        {"/other/current/opacity", third, {"/other/current/opacity"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(kavioRewrittenCueAddresses(QString::fromLatin1(c.address), c.state), c.expected) << c.address;
}

TEST(KavioOSCArgument, NetworkValuesCountOnlyWhenTheyReadAsNumbers)
{
    const KavioOSCArgument absent(QVariantMap{{"address", "/x"}});
    EXPECT_FALSE(absent.isPresent());
    EXPECT_FALSE(absent.number());

    struct Case {
        int type;
        QVariant value;
        std::optional<double> number;
        std::optional<long long> integer;
    };
    const Case cases[] = {
        {1, 0.75, 0.75, 0},
        {1, -2.5, -2.5, -2},
        {2, qlonglong(7), 7.0, 7},
        {3, QStringLiteral("3"), 3.0, 3},
        {3, QStringLiteral(" 12.5 "), 12.5, 12},
        {3, QStringLiteral("abc"), std::nullopt, std::nullopt},  // not 0: that would black out a cue
        {3, QString(), std::nullopt, std::nullopt},
        {1, std::numeric_limits<double>::quiet_NaN(), std::nullopt, std::nullopt},
        {1, std::numeric_limits<double>::infinity(), std::nullopt, std::nullopt},
        {1, 1e300, 1e300, 9200000000000000000LL},
    };
    for (const Case& c : cases) {
        const KavioOSCArgument argument(withFirst(c.type, c.value));
        EXPECT_TRUE(argument.isPresent());
        EXPECT_EQ(argument.type(), c.type);
        EXPECT_EQ(argument.number(), c.number) << c.value.toString().toStdString();
        EXPECT_EQ(argument.integer(), c.integer) << c.value.toString().toStdString();
    }
    EXPECT_EQ(KavioOSCArgument(withFirst(2, QStringLiteral("A1"))).text(), QStringLiteral("A1"));
    EXPECT_FALSE(KavioOSCArgument(withFirst(3, 3)).text());
}
