#include "ViewsTestSupport.h"

#include "Views/KavioColorWell.h"
#include "Views/KavioControlStyle.h"
#include "Views/KavioSlider.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QTest>
#include <QVBoxLayout>

#include <thread>

using ViewsTest::drawn;
using ViewsTest::pixel;

namespace {
// Light (fill or knob) pixels along the row through the track's middle.
bool lightAt(const QImage& image, int x) { return pixel(image, x, image.height() / 2).red() > 120; }

QImage drawnSlider(float minimum, float maximum, float value, int ticks, bool enabled)
{
    KavioSliderCell cell;
    cell.setBounds(minimum, maximum);
    cell.setFloatValue(value);
    cell.setNumberOfTickMarks(ticks);
    cell.setEnabled(enabled);
    return drawn(200, 22, [&](QPainter& p) { cell.drawWithFrame(p, QRectF(0, 0, 200, 22)); });
}
}  // namespace

TEST(KavioSliderTest, ValuesStayWithinTheBounds)
{
    KavioSlider slider;
    slider.setBounds(-1.0f, 1.0f);
    const std::pair<float, float> cases[] = {{0.25f, 0.25f}, {2.0f, 1.0f}, {-3.0f, -1.0f}, {1.0f, 1.0f}};
    for (const auto& [set, shown] : cases) {
        slider.setFloatValue(set);
        EXPECT_EQ(slider.floatValue(), shown) << set;
    }
    slider.setBounds(0.0f, 0.5f);
    EXPECT_EQ(slider.floatValue(), 0.5f) << "new bounds clamp the value";
    EXPECT_TRUE(std::isinf(slider.oldValue()));
    slider.cacheToOldValue();
    EXPECT_EQ(slider.oldValue(), 0.5f);
}

TEST(KavioSliderTest, TickFillGrowsFromTheMiddleAndADisabledSliderHasNoKnob)
{
    const QImage atZero = drawnSlider(-1, 1, 0.0f, 5, false);
    for (int x = 4; x < 196; ++x)
        ASSERT_FALSE(lightAt(atZero, x)) << "no fill at 0, x " << x;
    const QImage atHalf = drawnSlider(-1, 1, 0.5f, 5, false);
    EXPECT_FALSE(lightAt(atHalf, 95));
    EXPECT_TRUE(lightAt(atHalf, 103));
    EXPECT_TRUE(lightAt(atHalf, 145));
    EXPECT_FALSE(lightAt(atHalf, 152)) << "a quarter of the fill area from the middle";
    // An asymmetric range fills from the middle by where the value stands in it.
    const QImage asymmetric = drawnSlider(0, 10, 7.5f, 5, false);
    EXPECT_TRUE(lightAt(asymmetric, 145));
    EXPECT_FALSE(lightAt(asymmetric, 95));
    EXPECT_FALSE(lightAt(asymmetric, 170));

    const QImage enabled = drawnSlider(0, 1, 0.0f, 0, true);
    const QImage disabled = drawnSlider(0, 1, 0.0f, 0, false);
    EXPECT_GT(pixel(enabled, 6, 4).alpha(), 0) << "the knob at the left";
    EXPECT_EQ(pixel(disabled, 6, 4).alpha(), 0);
    EXPECT_EQ(pixel(enabled, 100, 11), pixel(disabled, 100, 11)) << "same track";
}

TEST(KavioSliderTest, RedrawFromABackgroundThreadKeepsItsRectangle)
{
    QWidget window;
    auto* slider = new KavioSlider(&window);
    slider->setGeometry(0, 0, 200, 22);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(50);
    ViewsTest::PaintCounter recorder(slider);
    std::thread([&] { slider->setNeedsDisplayInRect(QRect(20, 2, 30, 10)); }).join();
    EXPECT_EQ(recorder.paints, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.paints > 0; }, 2000));
    EXPECT_EQ(recorder.lastRect, QRect(20, 2, 30, 10));

    // While the knob is dragged every redraw covers the whole slider.
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(100, 11));
    QTest::qWait(20);
    recorder.paints = 0;
    slider->setNeedsDisplayInRect(QRect(20, 2, 30, 10));
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.paints > 0; }, 2000));
    EXPECT_EQ(recorder.lastRect, slider->rect());
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(100, 11));
    EXPECT_FALSE(slider->isDragging());
}

TEST(KavioSliderTest, Screenshot)
{
    QWidget panel;
    ViewsTest::darkPanel(panel);
    auto* layout = new QVBoxLayout(&panel);
    auto* fader = new KavioSlider;
    fader->setFloatValue(0.7f);
    auto* centred = new KavioSlider;
    centred->setBounds(-1, 1);
    centred->setNumberOfTickMarks(5);
    centred->setFloatValue(-0.4f);
    auto* disabled = new KavioSlider;
    disabled->setFloatValue(0.3f);
    disabled->setEnabled(false);
    auto* well = new KavioColorWell;
    well->setColor(QColor(220, 60, 40));
    for (QWidget* w : std::initializer_list<QWidget*>{fader, centred, disabled, well}) {
        w->setFixedWidth(200);
        layout->addWidget(w);
    }
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    ViewsTest::saveScreenshot(panel, QStringLiteral("sliders"));
}
