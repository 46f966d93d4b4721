#pragma once
// A link: its text in the accent blue (light grey under the pointer while enabled); a click
// opens the address the text forms in the desktop's browser. A text that forms no address
// (no scheme) opens nothing. Main thread.

#include "Support/KavioTextFieldInterface.h"

#include <QWidget>

class KavioURLTextField : public QWidget, public KavioTextFieldInterface {
    Q_OBJECT
public:
    explicit KavioURLTextField(QWidget* parent = nullptr);

    QString stringValue() const override { return text_; }
    void setStringValue(const QString& value) override;
    bool isEnabled() const override { return QWidget::isEnabled(); }
    void setEnabled(bool enabled) override { QWidget::setEnabled(enabled); }
    QString toolTip() const override { return QWidget::toolTip(); }
    void setToolTip(const QString& toolTip) override { QWidget::setToolTip(toolTip); }

    QColor textColor() const { return textColor_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString text_;
    QColor textColor_;
};
