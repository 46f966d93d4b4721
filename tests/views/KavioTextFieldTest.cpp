#include "ViewsTestSupport.h"

#include "DispatchQueue.h"
#include "NotificationCenter.h"
#include "Shell/KavioWindow.h"
#include "UndoManager.h"
#include "Views/KavioCharLengthFormatter.h"
#include "Views/KavioControlStyle.h"
#include "Views/KavioControllableTextField.h"
#include "Views/KavioControllableTextFieldDragger.h"
#include "Views/KavioTextField.h"
#include "Views/KavioTimecodeTextField.h"
#include "Views/KavioURLTextField.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QTest>
#include <QVBoxLayout>

#include <thread>

using namespace KavioControlStyle;

TEST(KavioTextFieldTest, EscapeRestoresTheTextLastSetInCodeAndFocusSelectsAll)
{
    QWidget window;
    auto* field = new KavioTextField(&window);
    auto* other = new KavioTextField(&window);
    field->setGeometry(10, 10, 120, 22);
    other->setGeometry(10, 40, 120, 22);
    field->setStringValue(QStringLiteral("Intro"));
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    field->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(QTest::qWaitFor([&] { return field->selectedText() == QStringLiteral("Intro"); }, 2000));
    QTest::keyClicks(field, QStringLiteral("Outro"));
    EXPECT_EQ(field->text(), QStringLiteral("Outro"));
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(field->text(), QStringLiteral("Intro"));
    EXPECT_FALSE(field->hasFocus());
    EXPECT_EQ(field->oldTitle(), QStringLiteral("Intro"));
    field->setIntegerValue(42);
    EXPECT_EQ(field->oldTitle(), QStringLiteral("42"));
}

TEST(KavioTextFieldTest, FormatterRefusesTheSeventhCharacterAndUpperCases)
{
    QWidget window;
    auto* field = new KavioTextField(&window);
    auto* formatter = new KavioCharLengthFormatter(field);
    formatter->setMaximumLength(6);
    field->setValidator(formatter);
    field->setGeometry(0, 0, 120, 22);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::keyClicks(field, QStringLiteral("abcDefg"));
    EXPECT_EQ(field->text(), QStringLiteral("ABCDEF"));
}

TEST(KavioTextFieldTest, CellTintsTheBoxWithTheTagAndShowsThePlaceholder)
{
    const auto box = [](std::int32_t tag) {
        KavioTextFieldCell cell;
        cell.setColorTag(tag);
        return ViewsTest::pixel(ViewsTest::drawn(80, 22, [&](QPainter& p) { cell.drawWithFrame(p, QRectF(0, 0, 80, 22)); }), 0, 11);
    };
    EXPECT_EQ(box(0).red(), box(0).blue());
    const QColor green = box(30);
    EXPECT_GT(green.green(), green.red() + 60) << "the outline in the tag's colour";
    EXPECT_TRUE(ViewsTest::near(box(35), box(0))) << "only the five tag codes tint the box";

    KavioTextFieldCell cell;
    cell.setPlaceholder(QStringLiteral("Notes"));
    cell.setPlaceholderStyle(lightFont(12.0), QColor(Qt::red), Qt::AlignRight);
    const QImage image = ViewsTest::drawn(120, 22, [&](QPainter& p) { cell.drawWithFrame(p, QRectF(0, 0, 120, 22)); });
    int redLeft = 0, redRight = 0;
    for (int x = 0; x < 120; ++x)
        for (int y = 0; y < 22; ++y)
            if (ViewsTest::pixel(image, x, y).red() > 200 && ViewsTest::pixel(image, x, y).green() < 80)
                ++(x < 60 ? redLeft : redRight);
    EXPECT_EQ(redLeft, 0);
    EXPECT_GT(redRight, 10) << "right-aligned in its own colour";
}

TEST(KavioTimecodeTextFieldTest, HundredSetsFromAnotherThreadDrawOnceWithTheLastText)
{
    QWidget window;
    auto* field = new KavioTimecodeTextField(&window);
    field->setGeometry(0, 0, 120, 22);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(50);
    ViewsTest::PaintCounter counter(field);

    std::thread clock([&] {
        for (int i = 0; i < 100; ++i)
            field->setThreadsafeTimecode(QString::asprintf("00:00:01:%02d", i % 25) + QString::number(i));
    });
    clock.join();
    DispatchQueue::runMainUntil([] { return false; }, 0.1);
    EXPECT_EQ(counter.paints, 0) << "nothing draws before the interface tick";
    EXPECT_EQ(field->threadsafeTimecode(), QStringLiteral("00:00:01:2499"));

    NotificationCenter::defaultCenter().post(QStringLiteral("KavioUpdateUI"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 30000));
    QTest::qWait(50);
    EXPECT_EQ(counter.paints, 1);
    EXPECT_EQ(field->text(), QStringLiteral("00:00:01:2499"));
    NotificationCenter::defaultCenter().post(QStringLiteral("KavioUpdateUI"));
    QTest::qWait(50);
    EXPECT_EQ(counter.paints, 1) << "a tick with nothing new draws nothing";
}

namespace {

// A numeric field in a window with an undo manager; the action registers its undo as an edit.
struct GripFixture {
    UndoManager undo;
    KavioWindow window{undo};
    KavioControllableTextField* field = new KavioControllableTextField;
    QWidget* other = new QWidget;
    int actions = 0;
    QString last;

    GripFixture(double minimum, double maximum, bool floats, const QString& text)
    {
        auto* central = new QWidget;
        auto* layout = new QVBoxLayout(central);
        layout->addWidget(field);
        layout->addWidget(other);
        other->setFocusPolicy(Qt::StrongFocus);
        window.setCentralWidget(central);
        field->setBounds(minimum, maximum);
        field->setAllowsFloats(floats);
        field->setStringValue(text);
        field->setFixedSize(80, 22);
        last = text;
        field->setAction([this] {
            ++actions;
            registerInverse(last);
            last = field->text();
        });
        window.show();
        window.activateWindow();
    }
    void registerInverse(const QString& value)
    {
        undo.registerUndo(field, [this, value] {
            registerInverse(field->text());
            field->setText(value);
            last = value;
        });
    }
    QPoint gripCentre() const { return field->dragger()->rect().center(); }
    void press() { QTest::mousePress(field->dragger(), Qt::LeftButton, {}, gripCentre()); }
    void moveBy(int dy) { QTest::mouseMove(field->dragger(), gripCentre() + QPoint(0, dy)); }
    void release() { QTest::mouseRelease(field->dragger(), Qt::LeftButton, {}, gripCentre()); }
};

}  // namespace

TEST(KavioControllableTextFieldTest, GripKeepsToTheBoundsAndStepsInTheFieldsFormat)
{
    GripFixture grip(0, 10, false, QStringLiteral("10"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grip.window));
    grip.press();
    grip.moveBy(-5);
    grip.release();
    EXPECT_EQ(grip.field->text(), QStringLiteral("10"));
    EXPECT_EQ(grip.actions, 0);
    EXPECT_FALSE(grip.undo.canUndo());
    grip.press();
    grip.moveBy(5);
    grip.release();
    EXPECT_EQ(grip.field->text(), QStringLiteral("9"));
    EXPECT_EQ(grip.actions, 1);

    GripFixture decimals(0, 1, true, QStringLiteral("0.5"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&decimals.window));
    decimals.press();
    decimals.moveBy(-3);
    EXPECT_EQ(decimals.field->text(), QStringLiteral("0.51"));
    decimals.moveBy(-6);
    EXPECT_EQ(decimals.field->text(), QStringLiteral("0.52"));
    decimals.release();

    // Typed text the format cannot hold is refused as typed.
    decimals.field->setFocus();
    decimals.field->selectAll();
    QTest::keyClicks(decimals.field, QStringLiteral("x7"));
    EXPECT_FALSE(decimals.field->text().contains(QLatin1Char('x')));
}

TEST(KavioControllableTextFieldTest, OneUndoGroupPerDragAndThePointerComesBack)
{
    GripFixture grip(0, 10, false, QStringLiteral("5"));
    ASSERT_TRUE(QTest::qWaitForWindowActive(&grip.window));
    grip.press();
    EXPECT_NE(QGuiApplication::overrideCursor(), nullptr) << "the pointer hides while dragging";
    for (int i = 0; i < 3; ++i)
        grip.moveBy(4);
    grip.release();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(grip.field->text(), QStringLiteral("2"));
    EXPECT_EQ(grip.undo.groupingLevel(), 0);
    ASSERT_TRUE(grip.undo.undo());
    EXPECT_EQ(grip.field->text(), QStringLiteral("5")) << "the whole drag undoes in one step";
    EXPECT_FALSE(grip.undo.canUndo());
    ASSERT_TRUE(grip.undo.redo());
    EXPECT_EQ(grip.field->text(), QStringLiteral("2"));

    // A drag whose mouse-up never comes: losing the focus gives the pointer back.
    grip.field->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return grip.field->hasFocus(); }, 2000));
    grip.press();
    grip.moveBy(4);
    grip.other->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return grip.other->hasFocus(); }, 2000));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(grip.undo.groupingLevel(), 0);
    EXPECT_FALSE(grip.field->dragger()->isDragging());
}

TEST(KavioTextFieldTest, Screenshot)
{
    QWidget panel;
    ViewsTest::darkPanel(panel);
    auto* layout = new QVBoxLayout(&panel);
    auto* plain = new KavioTextField;
    plain->setStringValue(QStringLiteral("Plain field"));
    auto* tagged = new KavioTextField;
    tagged->setStringValue(QStringLiteral("Tagged"));
    tagged->setColorTag(30);
    auto* placeholder = new KavioTextField;
    placeholder->setPlaceholder(QStringLiteral("Notes"), lightFont(11.0), grey(0.4), Qt::AlignHCenter);
    auto* readOnly = new KavioTextField;
    readOnly->setStringValue(QStringLiteral("Not editable"));
    readOnly->setEditable(false);
    auto* number = new KavioControllableTextField;
    number->setStringValue(QStringLiteral("42"));
    auto* timecode = new KavioTimecodeTextField;
    timecode->setText(QStringLiteral("01:02:03:04"));
    auto* link = new KavioURLTextField;
    link->setStringValue(QStringLiteral("https://example.org/help"));
    for (QWidget* w : std::initializer_list<QWidget*>{plain, tagged, placeholder, readOnly, number, timecode, link}) {
        w->setFixedWidth(200);
        layout->addWidget(w);
    }
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    ViewsTest::saveScreenshot(panel, QStringLiteral("text-fields"));
}
