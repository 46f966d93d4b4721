#pragma once
// A validator that keeps a field's text at most maximumLength() characters and in upper case:
// a longer text is refused as typed; lower-case letters are turned to upper case as they are
// typed (the cue identifier field takes one with a maximum of 6).

#include <QValidator>

#include <cstdint>
#include <limits>

class KavioCharLengthFormatter : public QValidator {
    Q_OBJECT
public:
    explicit KavioCharLengthFormatter(QObject* parent = nullptr) : QValidator(parent) {}

    std::int32_t maximumLength() const { return maxLength_; }
    void setMaximumLength(std::int32_t length) { maxLength_ = length; }

    State validate(QString& input, int& position) const override;

private:
    std::int32_t maxLength_ = std::numeric_limits<std::int32_t>::max();
};
