#include "Support/KavioAlert.h"

#include "DispatchQueue.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>

namespace KavioAlert {
namespace {

Answerer& installedAnswerer() {
    static Answerer answerer;
    return answerer;
}

}  // namespace

KavioAlertAnswer runModal(const KavioAlertSpec& spec) {
    if (const Answerer& answerer = installedAnswerer()) return answerer(spec);

    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setText(spec.messageText);
    box.setInformativeText(spec.informativeText);
    const QStringList titles = spec.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : spec.buttons;
    QList<QAbstractButton*> buttons;
    for (const QString& title : titles) buttons.append(box.addButton(title, QMessageBox::AcceptRole));
    box.setDefaultButton(static_cast<QPushButton*>(buttons.first()));
    QCheckBox* suppression = nullptr;
    if (!spec.suppressionText.isEmpty()) {
        suppression = new QCheckBox(spec.suppressionText, &box);
        box.setCheckBox(suppression);
    }
    box.exec();
    KavioAlertAnswer answer;
    const long index = buttons.indexOf(box.clickedButton());
    // Closing the box without a button (window manager, Escape) counts as the last button, the
    // one that by convention cancels.
    answer.response = FirstButtonReturn + (index >= 0 ? index : buttons.size() - 1);
    answer.suppressed = suppression && suppression->isChecked();
    return answer;
}

void showOnMainQueue(KavioAlertSpec spec, std::function<void(KavioAlertAnswer)> done) {
    DispatchQueue::main().async([spec = std::move(spec), done = std::move(done)] {
        const KavioAlertAnswer answer = runModal(spec);
        if (done) done(answer);
    });
}

void setAnswerer(Answerer answerer) { installedAnswerer() = std::move(answerer); }

}  // namespace KavioAlert
