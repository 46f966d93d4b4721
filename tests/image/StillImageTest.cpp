// Still pictures from PNG, HEIC and PDF files made by the test, delivered as renderer frames.

#include "StillImage.h"

#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

namespace {

QColor pixelOf(const VideoFrame& frame, int x, int y)
{
    // BGRA frames are QImage's premultiplied ARGB32 in memory order.
    const uint8_t* p = frame.row(y) + 4 * x;
    return QColor(p[2], p[1], p[0], p[3]);
}

// Quadrants red, green, blue and half-transparent white.
QImage quadrants(int side)
{
    QImage image(side, side, QImage::Format_ARGB32);
    const int half = side / 2;
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(0, 0, half, half, Qt::red);
    painter.fillRect(half, 0, half, half, Qt::green);
    painter.fillRect(0, half, half, half, Qt::blue);
    painter.fillRect(half, half, half, half, QColor(255, 255, 255, 128));
    return image;
}

void writeTwoPagePdf(const QString& path)
{
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::Letter));  // 612 x 792 points
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(72);
    QPainter painter(&writer);
    painter.fillRect(QRectF(100, 100, 200, 200), Qt::black);
    writer.newPage();
    painter.fillRect(QRectF(0, 0, 50, 50), Qt::black);
}

TEST(StillImage, PngWithAlphaKeepsItsPixelsInBothFormats)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("alpha.png"));
    const QImage source = quadrants(64);
    ASSERT_TRUE(source.save(path));

    const auto still = StillImage::readImage(path, MediaPixelFormat::BGRA);
    ASSERT_TRUE(still);
    EXPECT_TRUE(still->hasAlpha);
    EXPECT_EQ(still->bitsPerSample, 8);
    const VideoFrame& frame = *still->frame;
    EXPECT_EQ(frame.pixelFormat(), MediaPixelFormat::BGRA);
    const QImage expected = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ASSERT_EQ(frame.width(), 64);
    ASSERT_EQ(frame.height(), 64);
    for (int y = 0; y < 64; ++y)
        ASSERT_EQ(std::memcmp(frame.row(y), expected.constScanLine(y), 64 * 4), 0) << "row " << y;

    const auto half = StillImage::readImage(path, MediaPixelFormat::RGBAHalf);
    ASSERT_TRUE(half);
    EXPECT_EQ(half->frame->pixelFormat(), MediaPixelFormat::RGBAHalf);
    EXPECT_GE(half->frame->bytesPerRow(), 64 * 8);
}

TEST(StillImage, HeicDecodesThroughLibheifWithinCodecTolerance)
{
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("source.png"));
    const QString heic = dir.filePath(QStringLiteral("picture.heic"));
    QImage opaque = quadrants(64).convertToFormat(QImage::Format_RGB32);
    ASSERT_TRUE(opaque.save(png));
    ASSERT_EQ(QProcess::execute(QStringLiteral("heif-enc"), {QStringLiteral("-q"), QStringLiteral("95"),
                                                             QStringLiteral("-o"), heic, png}),
              0);

    const auto size = StillImage::imageSize(heic);
    ASSERT_TRUE(size);
    EXPECT_EQ(*size, QSize(64, 64));
    const auto still = StillImage::readImage(heic, MediaPixelFormat::BGRA);
    ASSERT_TRUE(still);
    ASSERT_EQ(still->frame->width(), 64);
    const struct {
        int x, y;
        QColor colour;
    } probes[] = {{16, 16, Qt::red}, {48, 16, Qt::green}, {16, 48, Qt::blue}, {48, 48, QColor(255, 255, 255)}};
    for (const auto& probe : probes) {
        const QColor seen = pixelOf(*still->frame, probe.x, probe.y);
        EXPECT_NEAR(seen.red(), probe.colour.red(), 24) << probe.x << "," << probe.y;
        EXPECT_NEAR(seen.green(), probe.colour.green(), 24) << probe.x << "," << probe.y;
        EXPECT_NEAR(seen.blue(), probe.colour.blue(), 24) << probe.x << "," << probe.y;
        EXPECT_EQ(seen.alpha(), 255);
    }
}

TEST(StillImage, APictureBeyondTheLimitIsReadScaledToIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("wide.png"));
    QImage wide(20000, 8, QImage::Format_RGB32);
    wide.fill(Qt::darkCyan);
    ASSERT_TRUE(wide.save(path));

    EXPECT_EQ(StillImage::imageSize(path), QSize(20000, 8));
    const auto scaled = StillImage::readImage(path, MediaPixelFormat::BGRA, 16383);
    ASSERT_TRUE(scaled);
    EXPECT_EQ(scaled->frame->width(), 16383);
    EXPECT_LE(scaled->frame->height(), 7);
    EXPECT_FALSE(scaled->hasAlpha);
    const auto whole = StillImage::readImage(path, MediaPixelFormat::BGRA, 0);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->frame->width(), 20000);
}

TEST(StillImage, PdfPagesRenderAtTwiceTheirPointSizeOnWhite)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("two.pdf"));
    writeTwoPagePdf(path);

    std::uint64_t count = 0;
    const auto first = StillImage::renderPdfPage(path, 1, MediaPixelFormat::BGRA, 16383, &count);
    ASSERT_TRUE(first);
    EXPECT_EQ(count, 2u);
    EXPECT_TRUE(first->hasAlpha);
    ASSERT_EQ(first->frame->width(), 1224);
    ASSERT_EQ(first->frame->height(), 1584);
    EXPECT_EQ(pixelOf(*first->frame, 10, 10), QColor(255, 255, 255, 255));
    EXPECT_EQ(pixelOf(*first->frame, 400, 400), QColor(0, 0, 0, 255));  // the square at 100..300 points
    const auto second = StillImage::renderPdfPage(path, 2, MediaPixelFormat::BGRA);
    ASSERT_TRUE(second);
    EXPECT_EQ(pixelOf(*second->frame, 10, 10), QColor(0, 0, 0, 255));

    // A cap keeps the longer side within it.
    const auto capped = StillImage::renderPdfPage(path, 1, MediaPixelFormat::BGRA, 1000);
    ASSERT_TRUE(capped);
    EXPECT_EQ(capped->frame->height(), 1000);
    EXPECT_EQ(capped->frame->width(), 772);

    QString error;
    EXPECT_FALSE(StillImage::renderPdfPage(path, 3, MediaPixelFormat::BGRA, 0, &count, &error));
    EXPECT_EQ(count, 2u);
    EXPECT_FALSE(error.isEmpty());
}

TEST(StillImage, FilesThatAreNoPicturesGiveNothing)
{
    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("text.png"));
    const QString heic = dir.filePath(QStringLiteral("text.heic"));
    const QString pdf = dir.filePath(QStringLiteral("text.pdf"));
    for (const QString& path : {text, heic, pdf}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a picture at all");
    }
    for (const QString& path : {text, heic, dir.filePath(QStringLiteral("missing.png")), dir.path()}) {
        QString error;
        EXPECT_FALSE(StillImage::imageSize(path, &error)) << path.toStdString();
        EXPECT_FALSE(StillImage::readImage(path, MediaPixelFormat::BGRA, 0, &error)) << path.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    std::uint64_t count = 7;
    EXPECT_FALSE(StillImage::renderPdfPage(pdf, 1, MediaPixelFormat::BGRA, 0, &count));
    EXPECT_EQ(count, 0u);

    // A well-formed document without a single page.
    const QByteArray objects[] = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"};
    QByteArray empty = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < 2; ++i) {
        offsets << empty.size();
        empty += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = empty.size();
    empty += "xref\n0 3\n0000000000 65535 f \n";
    for (const qsizetype offset : offsets)
        empty += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    empty += "trailer\n<< /Size 3 /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    const QString pageless = dir.filePath(QStringLiteral("pageless.pdf"));
    QFile file(pageless);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(empty);
    file.close();
    count = 7;
    QString error;
    EXPECT_FALSE(StillImage::renderPdfPage(pageless, 1, MediaPixelFormat::BGRA, 0, &count, &error));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(error.isEmpty());
}

}  // namespace
