// The waveform strip's drawing: channel lines, dimmed areas, status texts and boxes.

#include "ViewsTestSupport.h"

#include "Views/KavioWaveformView.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

const QColor kLine = QColor::fromRgbF(0.1f, 0.1f, 0.1f);

struct StripFixture {
    KavioWaveformView strip;
    explicit StripFixture(int width = 400, int height = 100)
    {
        strip.resize(width, height);
        ViewsTest::darkPanel(strip, 0.12);
        strip.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&strip));
    }
    QImage picture() { return strip.grab().toImage(); }
    // Rows holding a full-width channel line, counted at x = 200.
    QList<int> lineRows()
    {
        const QImage image = picture();
        QList<int> rows;
        for (int y = 0; y < image.height(); ++y)
            if (ViewsTest::near(ViewsTest::pixel(image, 200, y), kLine, 0.01)
                && ViewsTest::near(ViewsTest::pixel(image, 50, y), kLine, 0.01))
                rows << y;
        return rows;
    }
};

QImage waveform()
{
    QImage image(100, 50, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor::fromRgbF(0.4f, 0.8f, 0.4f));
    return image;
}

TEST(KavioWaveformView, ChannelLinesFromTheBottomEdge)
{
    const struct {
        int channels;
        QList<int> rows;
    } cases[] = {{0, {}}, {1, {99}}, {2, {49, 99}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.channels);
        StripFixture f;
        f.strip.setImage(waveform());
        f.strip.setDisplayMax(390);  // nothing dimmed
        f.strip.setChannels(c.channels);
        EXPECT_EQ(f.lineRows(), c.rows);
    }
}

TEST(KavioWaveformView, OutsideTheInAndOutPointsIsDimmed)
{
    StripFixture f;
    f.strip.setImage(waveform());
    f.strip.setDisplayMin(50);
    f.strip.setDisplayMax(300);
    const QImage image = f.picture();
    const QColor inside = ViewsTest::pixel(image, 200, 20);
    const QColor left = ViewsTest::pixel(image, 40, 20);
    const QColor right = ViewsTest::pixel(image, 350, 20);
    EXPECT_GT(inside.greenF(), 0.7);
    EXPECT_LT(left.greenF(), 0.3);
    EXPECT_LT(right.greenF(), 0.3);
    ViewsTest::saveScreenshot(f.strip, QStringLiteral("waveform-strip-range"));
}

TEST(KavioWaveformView, StatusTextsAndBoxes)
{
    const QColor boxGrey = QColor::fromRgbF(0.18f, 0.18f, 0.18f);
    {
        StripFixture f;
        f.strip.setWaveformIsBuilding(true);
        const QImage image = f.picture();
        bool boxed = false;
        for (int x = 12; x < 200 && !boxed; ++x)
            boxed = ViewsTest::near(ViewsTest::pixel(image, x, 50), boxGrey, 0.01);
        EXPECT_TRUE(boxed);
        ViewsTest::saveScreenshot(f.strip, QStringLiteral("waveform-strip-building"));
    }
    {
        StripFixture f;
        f.strip.setShowsWarning(true);
        f.strip.setWarningText(QStringLiteral("This file is unreadable \n or went offline."));
        f.strip.update();
        ViewsTest::saveScreenshot(f.strip, QStringLiteral("waveform-strip-warning"));
        // The yellow text shows somewhere in the middle band.
        const QImage image = f.picture();
        bool yellow = false;
        for (int x = 0; x < image.width() && !yellow; ++x)
            for (int y = 30; y < 70 && !yellow; ++y)
                yellow = ViewsTest::pixel(image, x, y).redF() > 0.8 && ViewsTest::pixel(image, x, y).blueF() < 0.3;
        EXPECT_TRUE(yellow);
    }
    {
        // A text wider than the strip is left out; its box is still drawn.
        StripFixture f(120);
        f.strip.setShowsWarning(true);
        f.strip.setWarningType(10);
        f.strip.setWarningText(QStringLiteral("No audio while paused. Start playback to play audio."));
        f.strip.setImage(waveform());
        const QImage image = f.picture();
        bool green = false;
        for (int x = 0; x < image.width() && !green; ++x)
            for (int y = 0; y < image.height() && !green; ++y)
                green = ViewsTest::near(ViewsTest::pixel(image, x, y), QColor::fromRgbF(0.478f, 0.745f, 0.388f), 0.05);
        EXPECT_FALSE(green);
        bool boxed = false;
        for (int x = 12; x < 108 && !boxed; ++x)
            boxed = ViewsTest::near(ViewsTest::pixel(image, x, 50), boxGrey, 0.01);
        EXPECT_TRUE(boxed);
    }
    {
        StripFixture f;
        f.strip.setImage(waveform());
        f.strip.setDrawsMixing(true);
        const QImage image = f.picture();
        EXPECT_LT(ViewsTest::pixel(image, 30, 20).greenF(), 0.5);  // no waveform while mixing
        ViewsTest::saveScreenshot(f.strip, QStringLiteral("waveform-strip-mixing"));
    }
}

}  // namespace
