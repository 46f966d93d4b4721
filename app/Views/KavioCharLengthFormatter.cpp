#include "Views/KavioCharLengthFormatter.h"

QValidator::State KavioCharLengthFormatter::validate(QString& input, int&) const
{
    if (input.size() > qsizetype(maxLength_))
        return Invalid;
    input = input.toUpper();
    return Acceptable;
}
