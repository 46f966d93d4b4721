#include "Views/KavioControllableTextField.h"

#include "Views/KavioControllableTextFieldDragger.h"

#include <QDoubleValidator>
#include <QIntValidator>
#include <QLocale>

#include <cmath>

KavioControllableTextField::KavioControllableTextField(QWidget* parent)
    : KavioTextField(parent), dragger_(new KavioControllableTextFieldDragger(this))
{
    cell().setReservesGrip(true);
    setTextMargins(1, 0, 11, 0);
    applyValidator();
}

void KavioControllableTextField::setBounds(double minimum, double maximum)
{
    minimum_ = minimum;
    maximum_ = maximum;
    applyValidator();
}

void KavioControllableTextField::setAllowsFloats(bool allows)
{
    allowsFloats_ = allows;
    applyValidator();
}

void KavioControllableTextField::applyValidator()
{
    const QValidator* old = validator();
    QValidator* next;
    if (allowsFloats_) {
        auto* numbers = new QDoubleValidator(minimum_, maximum_, 2, this);
        numbers->setNotation(QDoubleValidator::StandardNotation);
        next = numbers;
    } else {
        next = new QIntValidator(int(std::ceil(minimum_)), int(std::floor(maximum_)), this);
    }
    // The text is C-formatted ("%.2f"), so the validator reads it that way too.
    next->setLocale(QLocale::c());
    setValidator(next);
    delete old;
}

void KavioControllableTextField::stepByDrag(int dy)
{
    const float step = allowsFloats_ ? 0.01f : 1.0f;
    float v = text().toFloat();
    if (dy < 0)
        v += step;
    else if (dy > 0)
        v -= step;
    if (v < float(minimum_) || v > float(maximum_))
        return;
    setText(QString::asprintf(allowsFloats_ ? "%.2f" : "%.0f", double(v)));
    if (action_)
        action_();
}

void KavioControllableTextField::resizeEvent(QResizeEvent* event)
{
    KavioTextField::resizeEvent(event);
    dragger_->setGeometry(width() - 10, 0, 10, height());
}

void KavioControllableTextField::focusOutEvent(QFocusEvent* event)
{
    KavioTextField::focusOutEvent(event);
    dragger_->endDrag();
}
