#pragma once
// KavioTimecodeTextField: the timecode display (and entry) that any thread may set: the clock's
// thread sets the running time at every frame, yet the field redraws at most once per
// interface tick ("KavioUpdateUI", 15 a second), on the main thread, with the latest text.
//
// setThreadsafeTimecode() stores the text on the field's own serial queue
// ("com.dalvek.kavio.timecodetextfield") and marks the field for the next tick; the redraw
// requests (setNeedsDisplay...) only collect the area the next tick redraws. Main thread apart
// from setThreadsafeTimecode() and threadsafeTimecode().

#include "Support/KavioTextFieldInterface.h"
#include "Views/KavioTimecodeTextFieldCell.h"

#include <QLineEdit>

#include <memory>

class DispatchQueue;

inline const QString kKavioTimecodeTextFieldQueueLabel = QStringLiteral("com.dalvek.kavio.timecodetextfield");

class KavioTimecodeTextField : public QLineEdit, public KavioTextFieldInterface {
    Q_OBJECT
public:
    explicit KavioTimecodeTextField(QWidget* parent = nullptr);
    ~KavioTimecodeTextField() override;

    KavioTimecodeTextFieldCell& cell() { return cell_; }

    // Any thread.
    void setThreadsafeTimecode(const QString& timecode);
    QString threadsafeTimecode() const;

    void setNeedsDisplay() { setNeedsDisplayInRect(rect()); }
    void setNeedsDisplayInRect(const QRect& rect) { cachedinvalidatedrect = cachedinvalidatedrect.united(rect); }
    // The interface tick: shows the latest timecode when a redraw waits.
    void updateUI();

    bool isEditable() const { return !isReadOnly(); }
    void setEditable(bool editable);

    // --- KavioTextFieldInterface
    QString stringValue() const override { return text(); }
    void setStringValue(const QString& value) override { setText(value); }
    bool isEnabled() const override { return QLineEdit::isEnabled(); }
    void setEnabled(bool enabled) override { QLineEdit::setEnabled(enabled); }
    QString toolTip() const override { return QLineEdit::toolTip(); }
    void setToolTip(const QString& toolTip) override { QLineEdit::setToolTip(toolTip); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    std::unique_ptr<DispatchQueue> queue_;
    QString threadsafetimecode_;  // guarded by queue_
    QRect cachedinvalidatedrect;
    KavioTimecodeTextFieldCell cell_;
};
