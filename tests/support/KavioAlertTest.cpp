#include "DispatchQueue.h"
#include "Support/KavioAlert.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace {

struct AnswererGuard {
    ~AnswererGuard() { KavioAlert::setAnswerer({}); }
};

}  // namespace

TEST(KavioAlert, ScriptedAnswerSeesTheExactSpecAndIsHandedBackOnTheMainQueue)
{
    AnswererGuard guard;
    std::vector<KavioAlertSpec> shown;
    KavioAlert::setAnswerer([&](const KavioAlertSpec& spec) {
        shown.push_back(spec);
        return KavioAlertAnswer{KavioAlert::ThirdButtonReturn, true};
    });
    const KavioAlertSpec spec{"Do you want to save?", "Changes are lost.", {"Save", "Cancel", "Don't Save"}, "Do not ask"};
    const KavioAlertAnswer answer = KavioAlert::runModal(spec);
    EXPECT_EQ(answer.response, 1002);
    EXPECT_TRUE(answer.suppressed);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].buttons, (QStringList{"Save", "Cancel", "Don't Save"}));

    bool delivered = false;
    bool onMain = false;
    DispatchQueue worker("com.test.alert");
    worker.sync([&] {
        KavioAlert::showOnMainQueue({"From a worker", "", {"OK"}, ""}, [&](KavioAlertAnswer a) {
            onMain = DispatchQueue::isMainThread() && a.response == 1002;
            delivered = true;
        });
    });
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return delivered; }, 5.0));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(shown.back().messageText, "From a worker");
}

// The real dialog: a warning box with the texts, the buttons in order and the suppression box.
TEST(KavioAlert, RealDialogAnswersByButtonOrderAndReportsTheSuppressionBox)
{
    QString seenText, seenInformative, seenBox;
    QStringList seenButtons;
    QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seenText = box->text();
        seenInformative = box->informativeText();
        seenIcon = box->icon();
        for (QAbstractButton* b : box->buttons()) seenButtons << b->text();
        ASSERT_NE(box->checkBox(), nullptr);
        seenBox = box->checkBox()->text();
        box->checkBox()->setChecked(true);
        for (QAbstractButton* b : box->buttons())
            if (b->text() == "Keep selection") b->click();
    });
    const KavioAlertAnswer answer = KavioAlert::runModal(
        {"Please confirm selection", "Details.", {"Use NDI & SDI", "Keep selection"}, "Do not show this warning again."});
    EXPECT_EQ(answer.response, 1001);
    EXPECT_TRUE(answer.suppressed);
    EXPECT_EQ(seenText, "Please confirm selection");
    EXPECT_EQ(seenInformative, "Details.");
    EXPECT_EQ(seenIcon, QMessageBox::Warning);
    EXPECT_TRUE(seenButtons.contains("Use NDI & SDI") && seenButtons.contains("Keep selection"));
    EXPECT_EQ(seenBox, "Do not show this warning again.");
}
