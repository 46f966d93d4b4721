// The size alert of a very large still as the operator meets it: a real message box whose
// suppression box is ticked by hand.

#include "CueTestSupport.h"

#include "UserDefaults.h"

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

TEST(KavioVideoItemAlert, TickingTheRealBoxSuppressesTheNextAlert)
{
    QTemporaryDir dir;
    const QString path = savedImage(dir, QStringLiteral("wide.png"), QSize(20000, 4));
    UserDefaults::standardUserDefaults().setBool(false, QStringLiteral("KavioSuppressionImageExceedsLimit"));

    QString shownText;
    int boxes = 0;
    QTimer operatorHand;
    QObject::connect(&operatorHand, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        ++boxes;
        shownText = box->text();
        QTest::mouseClick(box->checkBox(), Qt::LeftButton);
        QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
    });
    operatorHand.start(50);

    CueUnderTest first;
    ASSERT_TRUE(first.cue->initMovieCue(path, first.controller, {}));
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(shownText, "Image dimension exceeds limit.");
    EXPECT_TRUE(UserDefaults::standardUserDefaults().boolForKey(QStringLiteral("KavioSuppressionImageExceedsLimit")));
    EXPECT_EQ(first.cue->sourceSize().width(), 16383);

    CueUnderTest second;
    ASSERT_TRUE(second.cue->initMovieCue(path, second.controller, {}));
    EXPECT_EQ(boxes, 1);
}

}  // namespace
