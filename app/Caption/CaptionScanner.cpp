#include "Caption/CaptionScanner.h"

#include <algorithm>
#include <limits>

void CaptionScanner::skip()
{
    if (!skip_) {
        return;
    }
    while (pos_ < text_.size() && text_.at(pos_).isSpace()) {
        ++pos_;
    }
}

bool CaptionScanner::isAtEnd()
{
    skip();
    return pos_ >= text_.size();
}

bool CaptionScanner::scanInteger(std::int64_t* value)
{
    skip();
    qsizetype p = pos_;
    bool negative = false;
    if (p < text_.size() && (text_.at(p) == u'-' || text_.at(p) == u'+')) {
        negative = text_.at(p) == u'-';
        ++p;
    }
    const qsizetype digitsStart = p;
    std::int64_t result = 0;
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max();
    while (p < text_.size() && text_.at(p) >= u'0' && text_.at(p) <= u'9') {
        const int digit = text_.at(p).unicode() - u'0';
        result = result > (limit - digit) / 10 ? limit : result * 10 + digit;
        ++p;
    }
    if (p == digitsStart) {
        return false;
    }
    pos_ = p;
    *value = negative ? -result : result;
    return true;
}

bool CaptionScanner::scanHexInt(std::uint32_t* value)
{
    skip();
    auto digitAt = [this](qsizetype i) {
        if (i >= text_.size()) {
            return -1;
        }
        const char16_t c = text_.at(i).unicode();
        if (c >= u'0' && c <= u'9') {
            return int(c - u'0');
        }
        if (c >= u'a' && c <= u'f') {
            return int(c - u'a' + 10);
        }
        if (c >= u'A' && c <= u'F') {
            return int(c - u'A' + 10);
        }
        return -1;
    };
    qsizetype p = pos_;
    if (text_.mid(p, 2).compare(QLatin1String("0x"), Qt::CaseInsensitive) == 0 && digitAt(p + 2) >= 0) {
        p += 2;
    }
    if (digitAt(p) < 0) {
        return false;
    }
    std::uint64_t result = 0;
    for (int d; (d = digitAt(p)) >= 0; ++p) {
        result = std::min<std::uint64_t>((result << 4) | unsigned(d), 0x1FFFFFFFFull);
    }
    *value = result > 0xFFFFFFFFull ? 0xFFFFFFFFu : std::uint32_t(result);
    pos_ = p;
    return true;
}

bool CaptionScanner::scanString(const QString& literal)
{
    skip();
    if (QStringView(text_).mid(pos_).startsWith(literal)) {
        pos_ += literal.size();
        return true;
    }
    return false;
}

bool CaptionScanner::scanUpToString(const QString& stop, QString* into)
{
    skip();
    qsizetype end = text_.indexOf(stop, pos_);
    if (end < 0) {
        end = text_.size();
    }
    if (end == pos_) {
        return false;
    }
    *into = text_.mid(pos_, end - pos_);
    pos_ = end;
    return true;
}

bool CaptionScanner::scanCharactersFromSet(const QString& set)
{
    skip();
    const qsizetype start = pos_;
    while (pos_ < text_.size() && set.contains(text_.at(pos_))) {
        ++pos_;
    }
    return pos_ > start;
}
