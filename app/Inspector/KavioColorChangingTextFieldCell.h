#pragma once
// A read-only label whose text colour can be switched (drawColor), from any thread; it draws
// no background, no focus ring and no expansion tool tip for truncated text.

#include <QColor>
#include <QLabel>

#include <mutex>

class KavioColorChangingTextFieldCell : public QLabel {
    Q_OBJECT
public:
    explicit KavioColorChangingTextFieldCell(QWidget* parent = nullptr);

    QColor drawColor() const;
    // Stores the colour and redraws (on the main queue when called elsewhere). Any thread.
    void setDrawColor(const QColor& color);
    QColor textColor() const { return drawColor(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    mutable std::mutex mutex_;
    QColor drawColor_{QColor::fromRgbF(0.7f, 0.7f, 0.7f)};
};
