#pragma once
// KavioTextFieldCell: how a KavioTextField draws: a dark rounded box (tinted by a colour tag),
// the text in grey (white on a tagged box, faded when not editable) at the top of the box, or
// the placeholder in its own font, colour and alignment while the field is empty. Tests draw a
// cell straight into an image. Main thread.

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>

#include <cstdint>

class QPainter;

class KavioTextFieldCell {
public:
    KavioTextFieldCell();

    // Box, then the text (or placeholder) in textRect().
    void drawWithFrame(QPainter& painter, const QRectF& frame);
    void drawBox(QPainter& painter, const QRectF& frame) const;
    void drawInterior(QPainter& painter);

    QColor drawColor() const { return drawColor_; }
    void setDrawColor(const QColor& color) { drawColor_ = color; }
    std::int32_t colorTag() const { return colorTag_; }
    void setColorTag(std::int32_t tag) { colorTag_ = tag; }
    // The colour of the text as the field's state asks for it.
    QColor textColor() const;

    QString text() const { return text_; }
    void setText(const QString& text) { text_ = text; }
    QFont font() const { return font_; }
    void setFont(const QFont& font) { font_ = font; }
    // The text's horizontal alignment in the box; left unless set.
    Qt::Alignment alignment() const { return alignment_; }
    void setAlignment(Qt::Alignment alignment) { alignment_ = alignment; }
    bool isEditable() const { return editable_; }
    void setEditable(bool editable) { editable_ = editable; }
    // A field with a grip keeps its right 10 pixels for it.
    void setReservesGrip(bool reserves) { reservesGrip_ = reserves; }

    QString placeholder() const { return placeholder_; }
    void setPlaceholder(const QString& text) { placeholder_ = text; }
    void setPlaceholderStyle(const QFont& font, const QColor& color, Qt::Alignment alignment);

    // Where the text was drawn last (zero before the first draw); editing uses it too.
    QRectF textRect() const { return textRect_; }

private:
    QColor drawColor_;
    std::int32_t colorTag_ = 0;
    QString text_;
    QFont font_;
    Qt::Alignment alignment_ = Qt::AlignLeft;
    bool editable_ = true;
    bool reservesGrip_ = false;
    QString placeholder_;
    QFont placeholderFont_;
    QColor placeholderColor_;
    Qt::Alignment placeholderAlignment_ = Qt::AlignLeft;
    QRectF textRect_;
};
