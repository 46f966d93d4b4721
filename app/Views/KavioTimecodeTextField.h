#pragma once
// KavioTimecodeTextField: the timecode display (and entry) that any thread may set: the clock's
// thread sets the running time at every frame, yet the field redraws at most once per
// interface tick ("KavioUpdateUI", 15 a second), on the main thread, with the latest text.
//
// setThreadsafeTimecode() writes the text into a lock-free buffer and marks the field for the
// next tick; it neither blocks nor allocates, as the clock thread calls it every frame. The
// redraw requests (setNeedsDisplay...) only collect the area the next tick redraws. While the
// operator types in an editable field the tick leaves the text alone. Main thread apart from
// setThreadsafeTimecode(), threadsafeTimecode() and threadsafeTimecodeEquals().

#include "Support/KavioTextFieldInterface.h"
#include "Support/KavioThreadsafeText.h"
#include "Support/KavioTimecodeTextFieldInterface.h"
#include "Views/KavioTimecodeTextFieldCell.h"

#include <QLineEdit>

#include <atomic>

class KavioTimecodeTextField : public QLineEdit,
                               public KavioTextFieldInterface,
                               public KavioTimecodeTextFieldInterface {
    Q_OBJECT
public:
    explicit KavioTimecodeTextField(QWidget* parent = nullptr);
    ~KavioTimecodeTextField() override;

    KavioTimecodeTextFieldCell& cell() { return cell_; }

    // --- KavioTimecodeTextFieldInterface
    void setThreadsafeTimecode(const QString& timecode) override;
    QString threadsafeTimecode() const override { return threadsafetimecode_.load(); }
    bool threadsafeTimecodeEquals(const QString& timecode) const override
    {
        return threadsafetimecode_.equals(timecode);
    }

    void setNeedsDisplay() { setNeedsDisplayInRect(rect()); }
    void setNeedsDisplayInRect(const QRect& rect) { cachedinvalidatedrect = cachedinvalidatedrect.united(rect); }
    // The interface tick: shows the latest timecode when a redraw waits.
    void updateUI();

    bool isEditable() const override { return !isReadOnly(); }
    void setEditable(bool editable) override;

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
    KavioThreadsafeText threadsafetimecode_;
    std::atomic<bool> timecodeChanged_{false};  // set by any thread, taken by the tick
    QRect cachedinvalidatedrect;
    KavioTimecodeTextFieldCell cell_;
};
