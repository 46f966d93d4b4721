#include "OutputsTestSupport.h"

#include "Outputs/KavioVideoOutputObject.h"

#include <QtEndian>

namespace {

class KavioVideoOutputObjectTest : public OutputsTest {
protected:
    void SetUpWithDevice() override
    {
        output = std::make_shared<KavioVideoOutputObject>(QRectF(0, 0, 1280, 720), false, *manager, nullptr);
    }
    void TearDown() override
    {
        if (output)
            output->removeResources();
    }
    std::shared_ptr<KavioVideoOutputObject> output;
};

TEST_F(KavioVideoOutputObjectTest, StartsWithTheDefaults)
{
    EXPECT_EQ(output->videoOutputType(), 0);
    EXPECT_EQ(output->index(), 1u);
    EXPECT_EQ(output->frame(), QRectF(0, 0, 1280, 720));
    EXPECT_TRUE(output->isOnline());
    EXPECT_FALSE(output->isFullscreen());
    EXPECT_TRUE(output->subtitlesEnabled());
    EXPECT_EQ(output->decklinkKeyer(), "None");
    EXPECT_EQ(output->framerate().timeValue, 60000);
    EXPECT_EQ(output->cornerCoords().data(), KavioCornerCoords{}.data());
    EXPECT_EQ(output->edgeBlendSettings().leftEdgePower, 1.0f);
    EXPECT_FALSE(output->uuid().isEmpty());
}

TEST_F(KavioVideoOutputObjectTest, EveryKeyRoundTripsWithItsByteLayout)
{
    output->setFrame(QRectF(1920, 0, 1280, 720.5));
    output->setScreenName("screen (1280 x 720)");
    output->setScreenInfo({7, 0x10ac, 0x4321, 99});
    output->setOrientation(270);
    output->setWarpMode(12);
    output->setEnableSpanMode(true);
    output->setIndex(3);
    output->setEdgeBlendEnabled(true);
    output->setVideoOutputType(KavioVideoOutputTypeSyphon);
    output->setTimeOverlayEnabled(true);
    output->setSubtitlesEnabled(false);
    output->setColorMatteEnabled(true);
    output->setVideoOutputFormatString("1080p60");
    KavioEdgeBlendSettings blend;
    blend.leftEdgeWidth = 100, blend.topEdgeWidth = -1, blend.bottomEdgePower = 2.5f;
    output->setEdgeBlendSettings(blend);
    KavioCornerCoords corners;
    corners.topLeft = {-0.5f, 0.75f};
    output->setCornerCoords(corners);

    const QVariantMap saved = output->saveData();
    EXPECT_EQ(saved.value("frame").toString(), "{{1920, 0}, {1280, 720.5}}");
    const QByteArray info = saved.value("screenInfo").toByteArray();
    ASSERT_EQ(info.size(), 16);
    EXPECT_EQ(qFromLittleEndian<quint32>(info.constData() + 4), 0x10acu);
    EXPECT_EQ(qFromLittleEndian<quint32>(info.constData() + 12), 99u);
    const QByteArray edges = saved.value("edgeBlendSettings").toByteArray();
    ASSERT_EQ(edges.size(), 48);
    EXPECT_EQ(qFromLittleEndian<qint64>(edges.constData()), 100);
    EXPECT_EQ(qFromLittleEndian<qint64>(edges.constData() + 16), -1);
    float power;
    const quint32 powerBits = qFromLittleEndian<quint32>(edges.constData() + 44);
    std::memcpy(&power, &powerBits, 4);
    EXPECT_EQ(power, 2.5f);
    EXPECT_EQ(saved.value("cornerCoords").toByteArray().size(), 32);
    EXPECT_EQ(saved.value("decklinkKeyer").toString(), "None");

    auto other = std::make_shared<KavioVideoOutputObject>(QRectF(), false, *manager, nullptr);
    other->loadWithData(saved);
    EXPECT_EQ(other->saveData(), saved);
    EXPECT_EQ(other->warpMode(), 12);
    EXPECT_EQ(other->videoOutputType(), KavioVideoOutputTypeSyphon);
    other->removeResources();
}

TEST_F(KavioVideoOutputObjectTest, BadValuesKeepWhatWasThere)
{
    output->setWarpMode(3);
    output->setVideoOutputType(KavioVideoOutputTypeScreen);
    KavioEdgeBlendSettings blend;
    blend.rightEdgeWidth = 40;
    output->setEdgeBlendSettings(blend);
    const QByteArray corners = output->cornerCoords().data();
    output->setScreenInfo({1, 2, 3, 4});

    output->loadWithData({{"frame", "{{0, 0}, {wide, 720}}"},
                          {"screenInfo", QByteArray(15, 'x')},
                          {"edgeBlendSettings", QByteArray(47, 'x')},
                          {"cornerCoords", QByteArray(33, 'x')},
                          {"warpMode", 13},
                          {"videoOutputType", 50}});
    EXPECT_EQ(output->frame(), QRectF(0, 0, 1280, 720));
    EXPECT_EQ(output->screenInfo(), (KavioScreenInfo{1, 2, 3, 0}));  // the id is always re-found
    EXPECT_EQ(output->edgeBlendSettings().rightEdgeWidth, 40);
    EXPECT_EQ(output->cornerCoords().data(), corners);
    EXPECT_EQ(output->warpMode(), 3);
    EXPECT_EQ(output->videoOutputType(), KavioVideoOutputTypeScreen);
    EXPECT_EQ(output->decklinkKeyer(), "None");
}

TEST(KavioVideoOutputRecord, FrameTexts)
{
    const struct {
        const char* text;
        bool ok;
        QRectF rect;
    } cases[] = {{"{{0, 0}, {1920, 1080}}", true, {0, 0, 1920, 1080}},
                 {"{{-1280, 0.5}, {1280, 720}}", true, {-1280, 0.5, 1280, 720}},
                 {"{{0,0},{1,1}}", true, {0, 0, 1, 1}},
                 {"{0, 0, 1920, 1080}", false, {}},
                 {"{{0, 0}, {1920}}", false, {}},
                 {"", false, {}}};
    for (const auto& c : cases) {
        QRectF rect;
        EXPECT_EQ(KavioVideoOutputObject::rectFromString(c.text, rect), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(rect, c.rect) << c.text;
        }
    }
}

TEST(KavioTestCard, DrawsTheGridAndTheCentreDisc)
{
    const QImage card = KavioVideoOutputObject::drawTestCard(QSizeF(1920, 1080), 0, 0, 2);
    ASSERT_EQ(card.size(), QSize(1920, 1080));
    EXPECT_EQ(QColor(card.pixel(120, 300)), QColor(Qt::white));  // a grid column
    EXPECT_EQ(QColor(card.pixel(60, 20)).lightness(), 85);        // dark grey between lines
    EXPECT_EQ(QColor(card.pixel(960 + 300, 540)), QColor(Qt::white));  // inside the centre disc
    EXPECT_TRUE(KavioVideoOutputObject::drawTestCard(QSizeF(0, 0), 0, 0, 1).isNull());
}

TEST_F(KavioVideoOutputObjectTest, TestCardIsKeptUntilTheSizeChanges)
{
    output->setVideoOutputType(KavioVideoOutputTypeSyphon);
    output->changeFrameIfNeeded(QRectF(0, 0, 64, 36));
    output->orderFront();
    // The first passes learn the view's size and then the card's own, each marking the card
    // for one more drawing.
    for (int settle = 0; settle < 3; ++settle)
        renderFrame([&] { output->renderTestCardWithEdgeBlendPaddingX(0, 0); });
    auto first = output->testCardTexture();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->width(), 64u);
    renderFrame([&] { output->renderTestCardWithEdgeBlendPaddingX(0, 0); });
    EXPECT_EQ(output->testCardTexture(), first);
    output->generateTestCardWithSize(QSizeF(0, 0), 0, 0);
    EXPECT_EQ(output->testCardTexture(), first);
    output->changeFrameIfNeeded(QRectF(0, 0, 32, 18));
    renderFrame([&] { output->renderTestCardWithEdgeBlendPaddingX(0, 0); });  // the view's size changes here
    renderFrame([&] { output->renderTestCardWithEdgeBlendPaddingX(0, 0); });
    EXPECT_EQ(output->testCardTexture()->width(), 32u);
}

}  // namespace
