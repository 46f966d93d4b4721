#include "Views/KavioTimecodeTextField.h"

#include "DispatchQueue.h"
#include "NotificationCenter.h"
#include "Views/KavioControlStyle.h"

#include <QPainter>
#include <QPointer>

using namespace KavioControlStyle;

KavioTimecodeTextField::KavioTimecodeTextField(QWidget* parent)
    : QLineEdit(parent),
      queue_(std::make_unique<DispatchQueue>(kKavioTimecodeTextFieldQueueLabel.toStdString())),
      threadsafetimecode_(QStringLiteral("00:00:00:00"))
{
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

KavioTimecodeTextField::~KavioTimecodeTextField()
{
    NotificationCenter::defaultCenter().removeObserver(this);
    queue_->sync([] {});  // no store left running on the queue
}

void KavioTimecodeTextField::setThreadsafeTimecode(const QString& timecode)
{
    const QString copy(timecode.data(), timecode.size());
    queue_->async([this, copy] { threadsafetimecode_ = copy; });
    DispatchQueue::main().async([guard = QPointer<KavioTimecodeTextField>(this)] {
        if (guard)
            guard->setNeedsDisplay();
    });
}

QString KavioTimecodeTextField::threadsafeTimecode() const
{
    QString copy;
    queue_->sync([&] { copy = threadsafetimecode_; });
    return copy;
}

void KavioTimecodeTextField::updateUI()
{
    if (cachedinvalidatedrect.isNull())
        return;
    const QRect area = cachedinvalidatedrect;
    cachedinvalidatedrect = QRect();
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
