#include "DispatchQueue.h"
#include "Support/KavioAddons.h"
#include "Support/KavioDoublesNearlyEqual.h"
#include "NotificationCenter.h"
#include "Support/PointConversion.h"

#include <gtest/gtest.h>

#include <QWidget>

#include <atomic>
#include <cmath>

TEST(KavioAddons, MainQueueTestOnMainThreadMainQueueAndBackgroundQueue)
{
    EXPECT_TRUE(KavioAddons::isMainQueue());
    EXPECT_TRUE(KavioAddons::isMainQueueOrIsMainThread());

    std::atomic<bool> inMainBlock{false}, done{false};
    DispatchQueue background("com.test.addons");
    bool onBackground = true;
    background.sync([&] { onBackground = KavioAddons::isMainQueueOrIsMainThread(); });
    EXPECT_FALSE(onBackground);
    background.async([&] {
        DispatchQueue::main().async([&] {
            inMainBlock = KavioAddons::isMainQueueOrIsMainThread() && KavioAddons::isMainQueue();
            done = true;
        });
    });
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return done.load(); }, 5.0));
    EXPECT_TRUE(inMainBlock);
}

TEST(KavioAddons, HexValueOfColours)
{
    struct Case {
        KavioColor color;
        const char* hex;
    };
    const Case cases[] = {
        {{1.0, 0.5, 0.0, 0.5}, "ff7f007f"},
        {{1.0, 1.0, 1.0, 1.0}, "ffffffff"},
        {{0.0, 0.0, 0.0, 0.0}, "00000000"},
        {{0.1, 0.2, 0.3, 1.0}, "19334cff"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KavioAddons::hexValue(c.color), c.hex);
    }
    EXPECT_EQ(KavioAddons::hexValue(QColor()), " ");  // no RGB form
    EXPECT_EQ(KavioAddons::hexValue(QColor(Qt::white)), "ffffffff");
}

TEST(KavioAddons, ColorWithHexColorString)
{
    struct Case {
        QString text;
        KavioColor expected;
    };
    const Case cases[] = {
        {"ff8000", {1.0, 128 / 255.0, 0.0, 1.0}},
        {"0x00ff00", {0.0, 1.0, 0.0, 1.0}},
        {"#ff8000", {0.0, 0.0, 0.0, 1.0}},
        {QString(), {0.0, 0.0, 0.0, 1.0}},
        {"", {0.0, 0.0, 0.0, 1.0}},
        {"ff80zz", {0.0, 0xff / 255.0, 0x80 / 255.0, 1.0}},
        // hexValue's eight digits move each byte up one place: green lands in red.
        {"ff7f007f", {0x7f / 255.0, 0.0, 0x7f / 255.0, 1.0}},
        {"123456789abc", {1.0, 1.0, 1.0, 1.0}},  // past 32 bits: the largest number
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KavioAddons::colorWithHexColorString(c.text), c.expected) << c.text.toStdString();
    }
}

TEST(KavioAddons, TintKeepsTransparency)
{
    QImage icon(4, 1, QImage::Format_ARGB32);
    icon.setPixel(0, 0, qRgba(0, 0, 0, 0));
    icon.setPixel(1, 0, qRgba(0, 0, 255, 255));
    icon.setPixel(2, 0, qRgba(0, 255, 0, 255));
    icon.setPixel(3, 0, qRgba(0, 0, 0, 0));
    const QImage tinted = KavioAddons::tintImageWithColor(icon, Qt::red).convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(tinted.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(tinted.pixel(3, 0)), 0);
    EXPECT_EQ(tinted.pixel(1, 0), qRgba(255, 0, 0, 255));
    EXPECT_EQ(tinted.pixel(2, 0), qRgba(255, 0, 0, 255));
    EXPECT_EQ(qAlpha(icon.pixel(1, 0)), 255);  // the original is untouched
    EXPECT_EQ(icon.pixel(1, 0), qRgba(0, 0, 255, 255));
}

TEST(PointConversion, FlipAndConvert)
{
    const QRectF screen(0, 0, 1920, 1080);
    EXPECT_EQ(PointConversion::flipPoint(screen, {10, 0}), QPointF(10, 1080));
    EXPECT_EQ(PointConversion::flipPoint(screen, {10, 1080}), QPointF(10, 0));
    const QRectF second(-1920, 100, 1920, 1080);
    EXPECT_EQ(PointConversion::convertPointToScreenCoordinates(second, {-1000, 300}), QPointF(920, 200));
}

TEST(KavioDoublesNearlyEqual, ToleranceAndNaN)
{
    EXPECT_TRUE(KavioDoublesNearlyEqual(1.0, 1.0005, 0.001));
    EXPECT_TRUE(KavioDoublesNearlyEqual(1.0, 1.001, 0.001));
    EXPECT_FALSE(KavioDoublesNearlyEqual(1.0, 1.002, 0.001));
    EXPECT_FALSE(KavioDoublesNearlyEqual(NAN, 1.0, 0.001));
    EXPECT_FALSE(KavioDoublesNearlyEqual(1.0, NAN, 0.001));
    EXPECT_FALSE(KavioDoublesNearlyEqual(NAN, NAN, 1e9));
}

TEST(KavioAddons, NotifyIfClickedPostsTheViewAsObject)
{
    int viewTag = 0;
    QWidget* view = reinterpret_cast<QWidget*>(&viewTag);  // only its identity is posted
    void* received = nullptr;
    auto token = NotificationCenter::defaultCenter().addObserver(
        nullptr, "KavioViewSelected", nullptr, [&](const Notification& n) { received = n.object; });
    KavioAddons::notifyIfClicked(view);
    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(received, view);
}
