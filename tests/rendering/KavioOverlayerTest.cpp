// Overlays: sizes from the settings, where the boxes sit, and when the texture is redrawn.

#include "CueTestSupport.h"
#include "RenderingTestSupport.h"
#include "Rendering/KavioOverlayFontManager.h"
#include "Rendering/KavioOverlayer.h"
#include "Support/KavioFonts.h"

#include "UserDefaults.h"

#include <QFontInfo>

#include <gtest/gtest.h>

namespace {

class OverlayDefaults {
public:
    OverlayDefaults(long size, long colour, long position)
    {
        auto& defaults = UserDefaults::standardUserDefaults();
        defaults.setInteger(size, "cueTimesOverlaySize");
        defaults.setInteger(colour, "cueTimesOverlayColor");
        defaults.setInteger(position, "cueTimesOverlayPosition");
    }
    ~OverlayDefaults()
    {
        auto& defaults = UserDefaults::standardUserDefaults();
        for (const char* key : {"cueTimesOverlaySize", "cueTimesOverlayColor", "cueTimesOverlayPosition"})
            defaults.removeObjectForKey(key);
        KavioOverlayFontManager::sharedManager().setOutputRenderHeight(1080);
    }
};

TEST(KavioFonts, PlatformNamesMapOntoInstalledFamiliesAtPixelSizes)
{
    struct Case {
        const char* name;
        const char* family;
        bool bold, italic;
    };
    const Case cases[] = {
        {"Helvetica", "Nimbus Sans", false, false},
        {"Helvetica Neue Bold", "Nimbus Sans", true, false},
        {"Helvetica-BoldOblique", "Nimbus Sans", true, true},
        {"Monaco", "DejaVu Sans Mono", false, false},
        {"Menlo-Regular", "DejaVu Sans Mono", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QFont font = KavioFonts::font(c.name, 59);
        // The matched family may carry its foundry: "Nimbus Sans [urw]".
        EXPECT_TRUE(QFontInfo(font).family().startsWith(c.family)) << QFontInfo(font).family().toStdString();
        EXPECT_EQ(font.pixelSize(), 59);
        EXPECT_EQ(font.bold(), c.bold);
        EXPECT_EQ(font.italic(), c.italic);
    }
}

TEST(KavioOverlayFontManager, OverlaySizesAndColoursFollowTheTags)
{
    auto& fonts = KavioOverlayFontManager::sharedManager();
    struct Case {
        long tag;
        double renderHeight;
        std::int32_t preview, output;
        float padding;
        KavioColor colour;
    };
    const Case cases[] = {
        {20, 2160, 26, 86, 8.0f, {0, 0, 0, 1}},
        {30, 1080, 32, 59, 10.0f, {1, 0, 0, 1}},
        {0, 1080, 22, 30, 7.0f, {1.0 / 3, 1.0 / 3, 1.0 / 3, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag);
        OverlayDefaults defaults(c.tag, c.tag, 0);
        fonts.setOutputRenderHeight(c.renderHeight);
        EXPECT_EQ(fonts.overlayFontSizeForPreview(), c.preview);
        EXPECT_EQ(fonts.overlayFontSizeForOutput(), c.output);
        EXPECT_EQ(fonts.overlayTextPadding(), c.padding);
        EXPECT_EQ(fonts.backgroundColor(), c.colour);
    }
}

class KavioOverlayerTest : public RenderingTest {
protected:
    // The first row, scanning down column x, whose pixel is the box colour (red), or -1.
    static int firstRedRow(const QImage& image, int x, int from = 0)
    {
        for (int y = from; y < image.height(); ++y)
            if (image.pixel(x, y) == qRgba(255, 0, 0, 255))
                return y;
        return -1;
    }
    static int lastRedRow(const QImage& image, int x)
    {
        for (int y = image.height() - 1; y >= 0; --y)
            if (image.pixel(x, y) == qRgba(255, 0, 0, 255))
                return y;
        return -1;
    }
};

TEST_F(KavioOverlayerTest, OutputSizesFollowTheRenderHeight)
{
    OverlayDefaults defaults(30, 30, 0);
    KavioOverlayer overlayer(*manager);
    ASSERT_NE(overlayer.renderWithSize({1920, 1080}, false, "00:00:01:00", {}, {}, nullptr), nullptr);
    EXPECT_EQ(overlayer.fontsize(), 59);
    EXPECT_DOUBLE_EQ(overlayer.textpadding(), 16.5);
}

TEST_F(KavioOverlayerTest, BoxesSitFivePercentFromTheirEdges)
{
    for (long position : {11L, 10L}) {
        SCOPED_TRACE(position);
        OverlayDefaults defaults(0, 30, position);
        KavioOverlayer overlayer(*manager);
        auto texture = overlayer.renderWithSize({400, 200}, true, "00:00:01:00", "00:00:09:00", "60 fps", nullptr);
        ASSERT_NE(texture, nullptr);
        const QImage& image = overlayer.image();
        const int left = 22, right = 378;  // just inside 5 % of the width from either side
        if (position == 11) {
            EXPECT_EQ(lastRedRow(image, left), 189) << "elapsed box bottom 5 % above the bottom edge";
            EXPECT_EQ(lastRedRow(image, right), 189) << "remaining box bottom";
            EXPECT_EQ(firstRedRow(image, right), 10) << "fps box top 5 % below the top edge";
        } else {
            EXPECT_EQ(firstRedRow(image, left), 10) << "elapsed box top 5 % below the top edge";
            EXPECT_EQ(lastRedRow(image, right), 189) << "fps box bottom 5 % above the bottom edge";
        }
        // What was drawn is what the texture holds.
        EXPECT_TRUE(near(pixel(*texture, left, 15), position == 11 ? kTransparent : kRed));
    }
}

TEST_F(KavioOverlayerTest, RedrawsOnlyWhatChanged)
{
    OverlayDefaults defaults(0, 30, 11);
    KavioOverlayer overlayer(*manager);
    auto first = overlayer.renderWithSize({400, 200}, true, "00:00:01:00", {}, {}, nullptr);
    const qint64 drawn = overlayer.image().cacheKey();
    EXPECT_EQ(overlayer.renderWithSize({400, 200}, true, "00:00:01:00", {}, {}, nullptr), first);
    EXPECT_EQ(overlayer.image().cacheKey(), drawn) << "unchanged input draws nothing";

    // A shorter text clears the old, wider box before filling its own.
    int farRight = -1;
    for (int x = 0; x < 400; ++x)
        if (overlayer.image().pixel(x, 185) == qRgba(255, 0, 0, 255))
            farRight = x;
    ASSERT_GT(farRight, 60);
    EXPECT_EQ(overlayer.renderWithSize({400, 200}, true, "0", {}, {}, nullptr), first) << "same size, same texture";
    EXPECT_EQ(overlayer.image().pixel(farRight, 185), qRgba(0, 0, 0, 0));
    EXPECT_TRUE(near(pixel(*first, farRight, 185), kTransparent));

    // A new size, or shouldClear, rebuilds.
    auto bigger = overlayer.renderWithSize({800, 400}, true, "0", {}, {}, nullptr);
    EXPECT_NE(bigger, first);
    EXPECT_EQ(bigger->width(), 800u);
    overlayer.setShouldClear(true);
    overlayer.renderWithSize({800, 400}, true, "0", {}, {}, nullptr);
    EXPECT_FALSE(overlayer.shouldClear());

    EXPECT_EQ(overlayer.renderWithSize({0, 400}, true, "0", {}, {}, nullptr), nullptr);
}

}  // namespace
