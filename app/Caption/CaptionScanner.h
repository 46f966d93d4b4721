#pragma once
// A small text scanner for the caption file formats: integers, hexadecimal numbers and literal
// strings read from a position, optionally skipping white space before each item.

#include <QString>

#include <cstdint>

// *out = a * b + c; false when that does not fit in 64 bits (time fields of absurd size).
inline bool checkedMulAdd(std::int64_t a, std::int64_t b, std::int64_t c, std::int64_t* out)
{
    return !__builtin_mul_overflow(a, b, out) && !__builtin_add_overflow(*out, c, out);
}

class CaptionScanner {
public:
    CaptionScanner(const QString& text, bool skipWhiteSpace) : text_(text), skip_(skipWhiteSpace) {}

    bool isAtEnd();
    qsizetype position() const { return pos_; }
    void advance(qsizetype count) { pos_ = std::min(pos_ + count, text_.size()); }

    // An optionally signed decimal integer; saturates instead of overflowing.
    bool scanInteger(std::int64_t* value);
    // Hexadecimal digits with an optional "0x"; more than 32 bits read as 0xFFFFFFFF.
    bool scanHexInt(std::uint32_t* value);
    bool scanString(const QString& literal);
    // Characters up to (not including) `stop` or the end; false when none were read.
    bool scanUpToString(const QString& stop, QString* into);
    // One or more characters out of `set`.
    bool scanCharactersFromSet(const QString& set);

private:
    void skip();

    const QString& text_;
    bool skip_;
    qsizetype pos_ = 0;
};
