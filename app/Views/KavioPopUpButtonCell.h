#pragma once
// How a KavioPopUpButton draws: a rounded outline, the selected title centred in the light face
// (shortened with "..." to fit), two small triangles at the right, and a dark shade while the
// menu is open. Tests draw it straight into an image. Main thread.

#include <QColor>
#include <QPainterPath>
#include <QRectF>
#include <QString>

class QFont;
class QPainter;

class KavioPopUpButtonCell {
public:
    KavioPopUpButtonCell();

    void drawWithFrame(QPainter& painter, const QRectF& frame);

    // `title` as drawn in a pop-up `frameWidth` wide: whole when it fits in frameWidth − 26,
    // else its first n − 3k characters and "..." for the smallest k that fits; "..." alone
    // when no such form fits.
    static QString shortenedTitle(const QString& title, const QFont& font, double frameWidth);
    static QFont titleFont();

    QColor drawColor() const { return drawColor_; }
    void setDrawColor(const QColor& color) { drawColor_ = color; }
    QString title() const { return title_; }
    void setTitle(const QString& title) { title_ = title; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted) { highlighted_ = highlighted; }

private:
    QColor drawColor_;
    QString title_;
    bool enabled_ = true;
    bool highlighted_ = false;
    QPainterPath bezelPath_;
};
