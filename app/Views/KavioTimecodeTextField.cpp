#include "Views/KavioTimecodeTextField.h"

#include "NotificationCenter.h"
#include "Views/KavioControlStyle.h"

#include <QPainter>

using namespace KavioControlStyle;

KavioTimecodeTextField::KavioTimecodeTextField(QWidget* parent) : QLineEdit(parent)
{
    threadsafetimecode_.store(QStringLiteral("00:00:00:00"));
    setFrame(false);
    setReadOnly(true);
    setAttribute(Qt::WA_Hover);
    setFont(cell_.font());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, restingColor());
    palette.setColor(QPalette::Highlight, grey(0.333));
    setPalette(palette);
    NotificationCenter::defaultCenter().addObserver(this, QStringLiteral("KavioUpdateUI"), nullptr,
                                                    [this](const Notification&) { updateUI(); });
}

KavioTimecodeTextField::~KavioTimecodeTextField() { NotificationCenter::defaultCenter().removeObserver(this); }

void KavioTimecodeTextField::setThreadsafeTimecode(const QString& timecode)
{
    threadsafetimecode_.store(timecode);
    timecodeChanged_.store(true, std::memory_order_release);
}

void KavioTimecodeTextField::updateUI()
{
    if (timecodeChanged_.exchange(false, std::memory_order_acquire))
        setNeedsDisplay();
    if (cachedinvalidatedrect.isNull())
        return;
    const QRect area = cachedinvalidatedrect;
    cachedinvalidatedrect = QRect();
    // The operator's typing stands until the edit ends.
    if (hasFocus() && !isReadOnly())
        return;
    const QString timecode = threadsafeTimecode();
    if (timecode != text())
        setText(timecode);
    update(area);
}

void KavioTimecodeTextField::setEditable(bool editable)
{
    setReadOnly(!editable);
    cell_.setEditable(editable);
    update();
}

void KavioTimecodeTextField::paintEvent(QPaintEvent* event)
{
    if (hasFocus() && !isReadOnly()) {
        QLineEdit::paintEvent(event);
        return;
    }
    cell_.setFont(font());
    QPainter painter(this);
    cell_.drawWithFrame(painter, QRectF(rect()), text());
}

void KavioTimecodeTextField::mousePressEvent(QMouseEvent* event)
{
    if (isReadOnly())
        return;
    QLineEdit::mousePressEvent(event);
    selectAll();
}

void KavioTimecodeTextField::enterEvent(QEnterEvent*)
{
    if (!isEnabled())
        return;
    cell_.setDrawColor(hoverColor());
    update();
}

void KavioTimecodeTextField::leaveEvent(QEvent*)
{
    if (!isEnabled())
        return;
    cell_.setDrawColor(restingColor());
    update();
}
