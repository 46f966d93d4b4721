#include "Rendering/KavioOverlayFontManager.h"
#include "Caption/QVTCaptionRenderer.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

namespace {

QVTCaptionRendererLine metrics(double width, double ascent, double leading)
{
    QVTCaptionRendererLine line;
    line.width = width;
    line.ascent = ascent;
    line.leading = leading;
    return line;
}

}  // namespace

TEST(CaptionRenderer, BlockAndLineGeometry)
{
    const QSizeF hd(1920, 1080);
    const std::vector<QVTCaptionRendererLine> two{metrics(600, 30, 40), metrics(300, 30, 40)};
    const QSizeF total(600, 80);

    const auto centred = QVTCaptionRenderer::placeLines(two, total, 2, 2, hd);
    EXPECT_EQ(centred.box, QRectF(655, 49, 610, 90));  // y 49 to 139
    ASSERT_EQ(centred.origins.size(), 2u);
    EXPECT_EQ(centred.origins[0], QPointF(660, 134 - 29));       // first baseline 1 above yTop - ascent
    EXPECT_EQ(centred.origins[1], QPointF(660 + 150, 134 - 69));  // one leading lower, centred in the block

    const auto left = QVTCaptionRenderer::placeLines(two, total, 0, 0, hd);
    EXPECT_EQ(left.origins[0].x(), 192);
    EXPECT_EQ(left.origins[1].x(), 192);  // argument 0: lines start at the block's edge
}

TEST(CaptionRenderer, DrawsBoxAndTextAndTakesTransparencyFromTheSettings)
{
    auto& fonts = KavioOverlayFontManager::sharedManager();
    fonts.setSubtitleBackgroundColor({0, 0, 1, 1});  // opaque blue box
    QVTCaption caption;
    caption.alignment = 2;
    caption.drawBackgroundRectangle = true;
    caption.setHasTransparency(true);
    TextAttributes white;
    white.font = KavioOverlayFontManager::fontWithFamily("DejaVu Sans", 40, true, false);
    white.foreground = KavioColor{1, 1, 1, 1};
    caption.lines.push_back({AttributedString("MMMM", white)});

    QImage image(640, 360, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QVTCaptionRenderer::renderCaption(&caption, 2, painter, image.size());
    painter.end();
    EXPECT_FALSE(caption.hasTransparency());

    QSizeF total(0, 0);
    QVTCaptionRenderer::linesForCaption(caption, &total);
    const double boxTop = 360 - (360 * 0.05 + total.height() + 5);  // in image rows, top-down
    const double boxBottom = 360 - (360 * 0.05 - 5);
    const double boxLeft = 320 - total.width() / 2 - 5;
    // Outside the box: untouched; at the box's inner corner: its colour; inside: white text.
    EXPECT_EQ(qAlpha(image.pixel(10, 10)), 0);
    EXPECT_EQ(qAlpha(image.pixel(320, int(boxTop) - 3)), 0);
    EXPECT_EQ(image.pixel(int(boxLeft) + 2, int(boxBottom) - 2), qRgba(0, 0, 255, 255));
    int whitePixels = 0;
    for (int y = int(boxTop); y < int(boxBottom); ++y) {
        for (int x = int(boxLeft); x < 640 - int(boxLeft); ++x) {
            whitePixels += image.pixel(x, y) == qRgba(255, 255, 255, 255);
        }
    }
    EXPECT_GT(whitePixels, 200);

    fonts.setSubtitleBackgroundColor({0, 0, 0, 0.998});
    QVTCaptionRenderer::renderCaption(&caption, 2, painter, image.size());
    EXPECT_TRUE(caption.hasTransparency());
    fonts.setSubtitleBackgroundColor({0, 0, 0, 0.9995});
    QVTCaptionRenderer::linesForCaption(caption, &total);
    EXPECT_FALSE(caption.hasTransparency());
    fonts.setSubtitleBackgroundColor({0, 0, 0, 0.65});
}

TEST(CaptionRenderer, CaptionWithoutLinesDrawsOnlyItsBox)
{
    QVTCaption caption;
    caption.alignment = 2;
    caption.drawBackgroundRectangle = true;
    QImage image(200, 100, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QVTCaptionRenderer::renderCaption(&caption, 2, painter, image.size());
    QVTCaptionRenderer::renderCaption(nullptr, 2, painter, image.size());  // nothing at all
    painter.end();
    // A box of 10 × 10 around the empty block at (100, 5).
    EXPECT_NE(qAlpha(image.pixel(100, 100 - 5)), 0);
    EXPECT_EQ(qAlpha(image.pixel(100, 100 - 20)), 0);
}
