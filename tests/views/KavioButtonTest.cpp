#include "ViewsTestSupport.h"

#include "DispatchQueue.h"
#include "NotificationCenter.h"
#include "QVTOSCManager.h"
#include "Views/KavioButton.h"
#include "Views/KavioColorTagButton.h"
#include "Views/KavioColorTagIndicatorButtonCell.h"
#include "Views/KavioControlStyle.h"
#include "Views/KavioGotoTextButton.h"
#include "Views/KavioStylishButtonCell.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGridLayout>
#include <QPainter>
#include <QTest>

#include <mutex>
#include <thread>
#include <vector>

using namespace KavioControlStyle;
using ViewsTest::drawn;
using ViewsTest::near;
using ViewsTest::pixel;

namespace {

// An opaque image, and an alternate one opaque only in its left half, so a probe on the right
// tells which of the two was drawn.
QImage solidImage(bool leftHalfOnly)
{
    QImage image(10, 10, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(0, 0, leftHalfOnly ? 5 : 10, 10, Qt::black);
    return image;
}

struct ImageCase {
    bool enabled;
    unsigned type;
    int state;
    bool pressed;
    bool tintWhenOn;
    bool showAlternate;
    QColor expected;  // invalid: nothing drawn
    bool alternateDrawn;
};

// A template image (black) tinted with a colour at an alpha: the tint covers the image's pixels
// source-atop, so the black shows through where the colour is translucent.
QColor tinted(const QColor& c, double alpha)
{
    return QColor::fromRgbF(float(c.redF() * alpha), float(c.greenF() * alpha), float(c.blueF() * alpha));
}

// The pressed shade, black at alpha 0.3, over an opaque colour.
QColor shaded(const QColor& c) { return tinted(c, 0.7); }

}  // namespace

TEST(KavioButtonCellTest, ImageTableFollowsEnabledTypeOnLookAndTint)
{
    const QColor g = restingColor();
    const std::vector<ImageCase> cases = {
        {true, 6, 1, false, true, false, accent(), false},
        {true, 6, -1, false, true, false, accent(), false},  // mixed counts as on
        {true, 6, 0, false, true, false, g, false},
        {true, 6, 1, false, false, false, g, false},
        {true, 6, 0, false, false, false, g, true},
        {true, 5, 1, false, true, false, g, false},
        {true, 5, 0, false, true, false, g, false},
        {true, 7, 0, true, true, false, shaded(tinted(g, 0.5)), false},
        {true, 7, 0, true, true, true, shaded(tinted(g, 0.5)), true},
        {true, 7, 0, false, true, false, g, false},
        {true, 7, 0, false, true, true, g, true},
        {true, 2, 1, false, true, false, tinted(g, 0.65), false},
        {true, 0, 1, false, true, false, QColor(), false},
        {false, 6, 1, false, true, false, tinted(accent(), 0.65), false},
        {false, 6, 0, false, true, false, tinted(g, 0.5), false},
        {false, 0, 0, false, true, false, tinted(g, 0.5), false},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const ImageCase& c = cases[i];
        KavioButtonCell cell;
        cell.setDrawColor(g);
        cell.setBordered(false);
        cell.setImage(solidImage(false));
        cell.setAlternateImage(solidImage(true));
        cell.setEnabled(c.enabled);
        cell.setButtonType(c.type);
        cell.setState(c.state);
        cell.setHighlighted(c.pressed);
        cell.setShouldTintWhenOnState(c.tintWhenOn);
        cell.setShouldShowAlternateImage(c.showAlternate);
        const QImage image = drawn(40, 40, [&](QPainter& p) { cell.drawWithFrame(p, QRectF(0, 0, 40, 40)); });
        const QColor left = pixel(image, 10, 20);
        const QColor right = pixel(image, 30, 20);
        if (!c.expected.isValid()) {
            EXPECT_EQ(left.alpha(), 0) << "case " << i;
            continue;
        }
        EXPECT_TRUE(near(left, c.expected)) << "case " << i << ": " << left.name(QColor::HexArgb).toStdString();
        EXPECT_EQ(near(right, c.expected), !c.alternateDrawn) << "case " << i;
    }
}

TEST(KavioButtonCellTest, ReturnKeyAccentPressedShadeAndTintCache)
{
    const auto border = [](const QString& key, int state) {
        KavioButtonCell cell;
        cell.setDrawColor(restingColor());
        cell.setTitle(QStringLiteral("OK"));
        cell.setKeyEquivalent(key);
        cell.setButtonType(KavioButtonCell::MomentaryPushIn);
        cell.setState(state);
        return pixel(drawn(60, 24, [&](QPainter& p) { cell.drawWithFrame(p, QRectF(0, 0, 60, 24)); }), 30, 1);
    };
    const QColor plain = border({}, 0);
    const QColor returnKey = border(QStringLiteral("\r"), 0);
    EXPECT_EQ(plain.red(), plain.blue());
    EXPECT_GT(returnKey.blue(), returnKey.red() + 80) << "the default button always shows the accent";

    KavioButtonCell pressed;
    pressed.setHighlighted(true);
    const QColor shade = pixel(drawn(40, 24, [&](QPainter& p) { pressed.drawWithFrame(p, QRectF(0, 0, 40, 24)); }), 20, 12);
    EXPECT_TRUE(near(shade, grey(0.0, 0.3)));

    KavioButtonCell cell;
    cell.setImage(solidImage(false));
    const QImage first = cell.imageWithColor(grey(0.62));
    const QImage hovered = cell.imageWithColor(grey(0.83));
    const QImage again = cell.imageWithColor(grey(0.62));
    EXPECT_EQ(first.cacheKey(), again.cacheKey()) << "back to 0.62 reuses the first tint";
    EXPECT_NE(first.cacheKey(), hovered.cacheKey());
    cell.clearImageCache();
    EXPECT_NE(cell.imageWithColor(grey(0.62)).cacheKey(), first.cacheKey());
}

TEST(KavioButtonCellTest, SwatchesAndCheckBox)
{
    const auto swatch = [](std::int32_t tag, bool highlight) {
        KavioColorTagIndicatorButtonCell cell;
        cell.setColorTag(tag);
        cell.setDrawsHighlight(highlight);
        return drawn(20, 20, [&](QPainter& p) { cell.drawWithFrame(p, QRectF(0, 0, 20, 20)); });
    };
    const QImage none = swatch(0, false);
    EXPECT_EQ(pixel(none, 10, 10).alpha(), 0);
    EXPECT_EQ(pixel(none, 0, 0).alpha(), 0);
    const QImage unknown = swatch(35, false);
    EXPECT_TRUE(near(pixel(unknown, 10, 10), colorTagColor(10)));
    EXPECT_EQ(pixel(unknown, 0, 0).alpha(), 0) << "inset by a pixel";
    EXPECT_TRUE(near(pixel(swatch(30, true), 10, 10), QColor::fromRgbF(0.572f, 1.0f, 0.596f)));

    const auto checkBox = [](int state) {
        KavioStylishButtonCell cell;
        cell.setTitle(QStringLiteral("Loop"));
        cell.setState(state);
        return drawn(80, 24, [&](QPainter& p) { cell.drawWithFrame(p, QRectF(0, 0, 80, 24)); });
    };
    EXPECT_NE(checkBox(1), checkBox(0)) << "on draws the check mark";
    EXPECT_EQ(checkBox(-1), checkBox(0)) << "mixed: square and title, no mark";
}

namespace {

// Collects what arrives at an OSC input of the shared manager that its own output sends to.
class FeedbackListener {
public:
    FeedbackListener()
    {
        QVTOSCManager& osc = QVTOSCManager::sharedManager();
        if (!osc.createInputWithName(kIn, 0))
            return;
        ok_ = osc.createOutputWithName(kOut, QStringLiteral("127.0.0.1"), osc.portOfInputWithName(kIn));
        token_ = osc.oscKitNotificationCenter().addObserver(
            this, kQVTOSCReceivedNotification, nullptr, [this](const Notification& n) {
                std::lock_guard lock(mutex_);
                received_.push_back({n.userInfo.value(kQVTOSCAddressKey).toString(),
                                     n.userInfo.value("0").toMap().value(kQVTOSCValKey).toInt()});
            });
    }
    ~FeedbackListener()
    {
        QVTOSCManager& osc = QVTOSCManager::sharedManager();
        osc.oscKitNotificationCenter().removeObserver(this);
        osc.removeOutputWithName(kOut);
        osc.removeInputWithName(kIn);
    }
    bool ok() const { return ok_; }
    std::vector<std::pair<QString, int>> received()
    {
        std::lock_guard lock(mutex_);
        return received_;
    }
    // Waits until `count` messages arrived (bounded).
    bool waitFor(size_t count)
    {
        return QTest::qWaitFor([&] { return received().size() >= count; }, 3000);
    }

private:
    inline static const QString kIn = QStringLiteral("views-feedback-in");
    inline static const QString kOut = QStringLiteral("views-feedback-out");
    bool ok_ = false;
    NotificationCenter::Token token_ = 0;
    std::mutex mutex_;
    std::vector<std::pair<QString, int>> received_;
};

}  // namespace

TEST(KavioButtonTest, OSCFeedbackOverUDP)
{
    FeedbackListener listener;
    ASSERT_TRUE(listener.ok());
    QWidget window;
    auto* onOff = new KavioButton(&window);
    auto* play = new KavioButton(&window);
    auto* marker = new KavioButton(&window);
    onOff->setGeometry(0, 0, 40, 24);
    play->setGeometry(50, 0, 40, 24);
    onOff->setButtonType(KavioButtonType::OnOff);
    play->setButtonType(KavioButtonType::OnOff);
    play->setActionSelector(QStringLiteral("togglePlay:"));
    onOff->setOSCAddress(QStringLiteral("/t/loop"));
    play->setOSCAddress(QStringLiteral("/t/play"));
    marker->setOSCAddress(QStringLiteral("/t/marker"));
    int actions = 0;
    onOff->setAction([&] { ++actions; });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    QTest::mouseClick(onOff, Qt::LeftButton);
    QTest::mouseClick(onOff, Qt::LeftButton);
    QTest::mouseClick(play, Qt::LeftButton);        // the transport sends its own feedback
    onOff->setStateByOSC(1);                         // states from OSC send nothing
    onOff->toggleStateByOSC();
    onOff->setState(0);                              // unchanged, still sent
    marker->setState(1);
    ASSERT_TRUE(listener.waitFor(4));
    QTest::qWait(50);
    const auto got = listener.received();
    const std::vector<std::pair<QString, int>> expected = {
        {"/t/loop", 1}, {"/t/loop", 0}, {"/t/loop", 0}, {"/t/marker", 1}};
    EXPECT_EQ(got, expected);
    EXPECT_EQ(actions, 2);
    EXPECT_EQ(play->state(), 1);

    // Every button with an address answers "processOSCFeedback"; a changed address is used.
    onOff->setOSCAddress(QStringLiteral("/t/loop2"));
    NotificationCenter::defaultCenter().post(kKavioProcessOSCFeedbackNotification);
    ASSERT_TRUE(listener.waitFor(7));
    QTest::qWait(50);
    auto after = listener.received();
    after.erase(after.begin(), after.begin() + 4);
    std::sort(after.begin(), after.end());
    const std::vector<std::pair<QString, int>> resent = {{"/t/loop2", 0}, {"/t/marker", 1}, {"/t/play", 1}};
    EXPECT_EQ(after, resent);
}

TEST(KavioButtonTest, OtherThreadsReachTheMainThread)
{
    KavioButton button;
    button.setButtonType(KavioButtonType::OnOff);
    std::thread([&] {
        button.toggleStateByOSC();
        button.setEnabled(false);
    }).join();
    EXPECT_EQ(button.state(), 0) << "the change waits for the main queue";
    EXPECT_TRUE(button.isEnabled());
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return button.state() == 1 && !button.isEnabled(); }, 3.0));
}

TEST(KavioButtonTest, MomentaryChangeAndGotoLabelActOnMouseDown)
{
    QWidget window;
    auto* change = new KavioButton(&window);
    change->setButtonTypeCode(KavioButtonCell::MomentaryChange);
    auto* label = new KavioGotoTextButton(&window);
    change->setGeometry(0, 0, 40, 24);
    label->setGeometry(50, 0, 60, 24);
    int changeActions = 0, labelActions = 0;
    change->setAction([&] { ++changeActions; });
    label->setAction([&] { ++labelActions; });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::mousePress(change, Qt::LeftButton);
    QTest::mousePress(label, Qt::LeftButton);
    EXPECT_EQ(changeActions, 1);
    EXPECT_EQ(labelActions, 1);
    QTest::mouseRelease(change, Qt::LeftButton);
    QTest::mouseRelease(label, Qt::LeftButton);
    EXPECT_EQ(changeActions, 1);
    EXPECT_EQ(labelActions, 1);
}

TEST(KavioButtonTest, Screenshot)
{
    QWidget panel;
    ViewsTest::darkPanel(panel);
    auto* grid = new QGridLayout(&panel);
    const auto add = [&](KavioButton* b, int row, int column) {
        b->setMinimumSize(90, 26);
        grid->addWidget(b, row, column);
        return b;
    };
    add(new KavioButton, 0, 0)->setTitle(QStringLiteral("Bordered"));
    auto* def = add(new KavioButton, 0, 1);
    def->setTitle(QStringLiteral("Default"));
    def->cell().setKeyEquivalent(QStringLiteral("\r"));
    auto* pressed = add(new KavioButton, 0, 2);
    pressed->setTitle(QStringLiteral("Pressed"));
    pressed->cell().setHighlighted(true);
    auto* disabled = add(new KavioButton, 0, 3);
    disabled->setTitle(QStringLiteral("Disabled"));
    disabled->setEnabled(false);
    for (int i = 0; i < 4; ++i) {
        auto* image = add(new KavioButton, 1, i);
        image->cell().setBordered(false);
        image->setImageName(i < 2 ? QStringLiteral("kavio_error") : QStringLiteral("kavio_close"));
        image->setButtonType(KavioButtonType::OnOff);
        image->setState(i % 2);
        if (i == 3)
            image->setEnabled(false);
    }
    for (int i = 0; i < 3; ++i) {
        auto* box = add(new KavioButton(nullptr, std::make_unique<KavioStylishButtonCell>()), 2, i);
        box->cell().setBordered(false);
        box->setTitle(QStringList{"Off", "On", "Mixed"}[i]);
        box->setState(i == 2 ? -1 : i);
    }
    auto* label = new KavioGotoTextButton;
    label->setTitle(QStringLiteral("Cue 12"));
    add(label, 2, 3);
    for (int i = 0; i < 6; ++i) {
        auto* tag = new KavioColorTagButton;
        tag->setColorTag(i * 10);
        tag->setFixedSize(20, 20);
        grid->addWidget(tag, 3, i);
    }
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    ViewsTest::saveScreenshot(panel, QStringLiteral("buttons"));
}

TEST(KavioButtonTest, HoverLightsEnabledControlsOnly)
{
    const auto hover = [](QWidget& w) {
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QApplication::sendEvent(&w, &enter);
    };
    const auto leave = [](QWidget& w) {
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(&w, &event);
    };
    KavioButton button;
    hover(button);
    EXPECT_EQ(button.cell().drawColor(), hoverColor());
    leave(button);
    EXPECT_EQ(button.cell().drawColor(), restingColor());
    button.setDrawsErrorColor(true);
    hover(button);
    EXPECT_EQ(button.cell().drawColor(), errorHoverColor());
    leave(button);
    EXPECT_EQ(button.cell().drawColor(), errorRestingColor());
    button.setDrawsErrorColor(false);
    button.setEnabled(false);
    hover(button);
    EXPECT_EQ(button.cell().drawColor(), errorRestingColor()) << "a disabled button keeps its colour";
}
