#pragma once
// Styled text for captions: UTF-16 text with runs of font, foreground, background and
// underline attributes. Stands in for the platform's attributed string, with only what the
// caption readers and the renderer use.

#include "Support/KavioColor.h"

#include <QFont>
#include <QString>

#include <optional>
#include <vector>

struct TextAttributes {
    std::optional<QFont> font;
    std::optional<KavioColor> foreground;
    std::optional<KavioColor> background;
    std::optional<int> underlineStyle;  // 1 single, 2 thick

    bool operator==(const TextAttributes&) const = default;
};

class AttributedString {
public:
    struct Run {
        QString text;
        TextAttributes attributes;
    };

    AttributedString() = default;
    AttributedString(const QString& text, const TextAttributes& attributes) { append(text, attributes); }

    const QString& string() const { return text_; }
    qsizetype length() const { return text_.size(); }
    bool isEmpty() const { return text_.isEmpty(); }

    void append(const QString& text, const TextAttributes& attributes);
    // Inserts at a UTF-16 index (clamped to the length).
    void insert(qsizetype index, const QString& text, const TextAttributes& attributes);
    // Removes the last UTF-16 unit, if any.
    void removeLast();
    // Attributes of the character at index; empty attributes past the end.
    TextAttributes attributesAt(qsizetype index) const;
    // Maximal runs of equal attributes, in text order.
    std::vector<Run> runs() const;

    bool operator==(const AttributedString&) const = default;

private:
    struct Span {
        qsizetype length;
        TextAttributes attributes;
        bool operator==(const Span&) const = default;
    };
    void normalize();

    QString text_;
    std::vector<Span> spans_;
};
