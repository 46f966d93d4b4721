#pragma once
// The number formatter of an inspector field: what may be typed (digits, one leading minus, one
// decimal point where fractions are allowed; letters never reach the field) and which committed values count (finite and within the bounds). A value outside the
// bounds is refused when committed, so the field can put back what it showed. The formatter's
// parent is its field.

#include <QValidator>

#include <optional>

class KavioInspectorNumberFormatter : public QValidator {
public:
    KavioInspectorNumberFormatter(double minimum, double maximum, bool allowsFractions, QObject* parent = nullptr);

    double minimum() const { return minimum_; }
    double maximum() const { return maximum_; }
    void setMinimum(double minimum) { minimum_ = minimum; }
    void setMaximum(double maximum) { maximum_ = maximum; }

    // The number the text stands for, when it is one and lies within the bounds.
    std::optional<double> valueOf(const QString& text) const;

    State validate(QString& input, int& pos) const override;
    // Text left unfinished ("-", ".", empty) becomes what the field showed before.
    void fixup(QString& input) const override;

private:
    double minimum_;
    double maximum_;
    bool allowsFractions_;
};
