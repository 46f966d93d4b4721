#pragma once
// The program's one alert presenter: modal, warning-style message boxes whose buttons answer
// 1000, 1001, 1002 … in the order they are listed, with an optional suppression check box.
//
// Tests install an answerer: every alert is then recorded and answered by it, and no dialog is
// shown, so suites can script answers and read the exact texts.

#include <QString>
#include <QStringList>

#include <functional>

struct KavioAlertSpec {
    QString messageText;
    QString informativeText;
    QStringList buttons = {QStringLiteral("OK")};  // first to last; empty is taken as "OK"
    QString suppressionText;                        // empty: no suppression box
};

struct KavioAlertAnswer {
    long response = 1000;  // 1000 for the first button, 1001 for the second, …
    bool suppressed = false;  // the suppression box was ticked
};

namespace KavioAlert {

constexpr long FirstButtonReturn = 1000;
constexpr long SecondButtonReturn = 1001;
constexpr long ThirdButtonReturn = 1002;

// Shows the alert and waits for the operator's answer. Main thread only.
KavioAlertAnswer runModal(const KavioAlertSpec& spec);

// Shows the alert later on the main queue and hands the answer to `done` there. Any thread.
void showOnMainQueue(KavioAlertSpec spec, std::function<void(KavioAlertAnswer)> done = {});

// Tests: answers every alert with `answerer` instead of a dialog; an empty function brings the
// real dialogs back. Main thread.
using Answerer = std::function<KavioAlertAnswer(const KavioAlertSpec&)>;
void setAnswerer(Answerer answerer);

}  // namespace KavioAlert
