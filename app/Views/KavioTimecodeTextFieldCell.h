#pragma once
// How a KavioTimecodeTextField draws: no box, the text at the top of the frame at its natural
// height, grey (faded while not editable). Tests draw it straight into an image. Main thread.

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>

class QPainter;

class KavioTimecodeTextFieldCell {
public:
    KavioTimecodeTextFieldCell();

    void drawWithFrame(QPainter& painter, const QRectF& frame, const QString& text);

    QColor drawColor() const { return drawColor_; }
    void setDrawColor(const QColor& color) { drawColor_ = color; }
    QFont font() const { return font_; }
    void setFont(const QFont& font) { font_ = font; }
    bool isEditable() const { return editable_; }
    void setEditable(bool editable) { editable_ = editable; }
    QColor textColor() const;
    // Where the text was drawn last; zero before the first draw.
    QRectF textRect() const { return textRect_; }

private:
    QColor drawColor_;
    QFont font_;
    bool editable_ = false;
    QRectF textRect_;
};
