#pragma once
// A text cell with a thin blue progress bar under the text (shown once wider than 3 pixels).
// Setting the progress does not redraw. Tests draw it into an image. Main thread.

#include <QFont>
#include <QRectF>
#include <QString>

class QPainter;

class KavioProgressCell {
public:
    KavioProgressCell();

    void drawWithFrame(QPainter& painter, const QRectF& frame);

    QString text() const { return text_; }
    void setText(const QString& text) { text_ = text; }
    float progress() const { return progress_; }
    void setProgress(float progress) { progress_ = progress; }

private:
    QString text_;
    QFont font_;
    float progress_ = 0.0f;
};
