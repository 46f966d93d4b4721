#include "Views/KavioButton.h"

#include "DispatchQueue.h"
#include "NotificationCenter.h"
#include "QVTOSCManager.h"
#include "Views/KavioControlStyle.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

using namespace KavioControlStyle;

KavioButton::KavioButton(QWidget* parent, std::unique_ptr<KavioButtonCell> cell)
    : QWidget(parent), cell_(cell ? std::move(cell) : std::make_unique<KavioButtonCell>())
{
    cell_->setDrawColor(restingColor());
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    NotificationCenter::defaultCenter().addObserver(this, kKavioProcessOSCFeedbackNotification, nullptr,
                                                    [this](const Notification&) { processOSCFeedback(); });
}

KavioButton::~KavioButton() { NotificationCenter::defaultCenter().removeObserver(this); }

bool KavioButton::runOnMain(std::function<void()> task)
{
    if (DispatchQueue::isMainThread())
        return true;
    DispatchQueue::main().async([guard = QPointer<KavioButton>(this), task = std::move(task)] {
        if (guard)
            task();
    });
    return false;
}

void KavioButton::setState(int state)
{
    if (!runOnMain([this, state] { setState(state); }))
        return;
    if (state_.exchange(state) != state)
        Q_EMIT stateChanged(state);
    update();
    processOSCFeedback();
}

void KavioButton::setStateByOSC(int state)
{
    if (state_.exchange(state) != state)
        Q_EMIT stateChanged(state);
    update();
}

void KavioButton::toggleStateByOSC()
{
    if (!runOnMain([this] { toggleStateByOSC(); }))
        return;
    setStateByOSC(state() == 0 ? 1 : 0);
}

void KavioButton::setEnabled(bool enabled)
{
    if (!runOnMain([this, enabled] { setEnabled(enabled); }))
        return;
    QWidget::setEnabled(enabled);
    update();
}

void KavioButton::setNeedsDisplayInRect(const QRect& rect) { redrawFromAnyThread(this, rect); }

void KavioButton::setTitle(const QString& title)
{
    cell_->setTitle(title);
    updateGeometry();
    update();
}

void KavioButton::setImageName(const QString& name)
{
    if (!runOnMain([this, name] { setImageName(name); }))
        return;
    imageName_ = name;
    cell_->clearImageCache();
    cell_->setImage(templateImage(name));
    update();
}

void KavioButton::setAlternateImageName(const QString& name)
{
    cell_->setAlternateImage(templateImage(name));
    update();
}

KavioButtonType KavioButton::buttonType() const
{
    return cell_->buttonType() == KavioButtonCell::OnOff ? KavioButtonType::OnOff : KavioButtonType::MomentaryPushIn;
}

void KavioButton::setButtonType(KavioButtonType type)
{
    setButtonTypeCode(type == KavioButtonType::OnOff ? KavioButtonCell::OnOff : KavioButtonCell::MomentaryPushIn);
}

void KavioButton::setButtonTypeCode(unsigned type)
{
    cell_->setButtonType(type);
    update();
}

void KavioButton::processOSCFeedback()
{
    const QString address = oscAddress_.load();
    if (address.isEmpty())
        return;
    std::lock_guard lock(feedbackMutex_);
    if (!oscFeedbackMessage_ || oscFeedbackMessage_->address() != address)
        oscFeedbackMessage_ = std::make_shared<QVTOSCMessage>(address);
    const auto values = oscFeedbackMessage_->values();
    if (!values.empty())
        values.front()->setValue(state());
    else
        oscFeedbackMessage_->addOSCValue(std::make_shared<QVTOSCValue>(2, state()));
    QVTOSCManager::sharedManager().sendOSCMessage(*oscFeedbackMessage_);
}

void KavioButton::removeResources()
{
    NotificationCenter::defaultCenter().removeObserver(this);
    oscAddress_.store(QString());
    std::lock_guard lock(feedbackMutex_);
    oscFeedbackMessage_.reset();
}

QSize KavioButton::sizeHint() const
{
    if (!cell_->image().isNull())
        return {24, 24};
    const QSizeF text = textSize(cell_->title(), lightFont(cell_->isBordered() ? 10.0 : 12.0));
    return {int(text.width()) + 40, 24};
}

void KavioButton::paintEvent(QPaintEvent*)
{
    cell_->setState(state());
    cell_->setEnabled(isEnabled());
    QPainter painter(this);
    cell_->drawWithFrame(painter, QRectF(rect()));
}

void KavioButton::sendAction()
{
    if (action_)
        action_();
}

void KavioButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    // The window's first control takes the focus back, ending any edit in a field.
    if (QWidget* focused = window()->focusWidget())
        focused->clearFocus();
    if (cell_->buttonType() == KavioButtonCell::MomentaryChange) {
        sendAction();
        return;
    }
    cell_->setHighlighted(true);
    update();
}

void KavioButton::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || cell_->buttonType() == KavioButtonCell::MomentaryChange)
        return;
    const bool inside = rect().contains(event->position().toPoint());
    if (inside != cell_->isHighlighted()) {
        cell_->setHighlighted(inside);
        update();
    }
}

void KavioButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !cell_->isHighlighted())
        return;
    cell_->setHighlighted(false);
    completeClick();
}

void KavioButton::performClick()
{
    if (cell_->buttonType() == KavioButtonCell::MomentaryChange) {
        sendAction();
        return;
    }
    completeClick();
}

void KavioButton::completeClick()
{
    switch (cell_->buttonType()) {
    case KavioButtonCell::PushOnPushOff:
    case KavioButtonCell::Toggle:
    case KavioButtonCell::Switch:
    case KavioButtonCell::OnOff:
        state_.store(state() == 0 ? 1 : 0);
        break;
    case KavioButtonCell::Radio:
        state_.store(1);
        break;
    default:
        break;
    }
    update();
    sendAction();
    if (cell_->buttonType() == KavioButtonCell::OnOff && actionSelector_ != QStringLiteral("togglePlay:"))
        processOSCFeedback();
}

void KavioButton::enterEvent(QEnterEvent*)
{
    if (!isEnabled())
        return;
    cell_->setDrawColor(drawsErrorColor_ ? errorHoverColor() : hoverColor());
    update();
}

void KavioButton::leaveEvent(QEvent*)
{
    if (!isEnabled())
        return;
    cell_->setDrawColor(drawsErrorColor_ ? errorRestingColor() : restingColor());
    update();
}
