// The main window's shell: the side panels and the waveform strip, the cue-type labels,
// always on top, and menu validation.

#include "Shell/AppDelegate.h"

#include "Controller/KavioVideoItemManager.h"
#include "NotificationCenter.h"
#include "Shell/KavioWindow.h"
#include "Support/KavioButtonInterface.h"
#include "UserDefaults.h"
#include "Views/KavioHidingView.h"

#include <QAction>
#include <QApplication>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>

namespace {

constexpr int kPanelAnimationMilliseconds = 400;
constexpr int kRightPanelMaxWidth = 346;
constexpr int kMinimumCentreWidth = 200;
constexpr int kStatusWindowLevel = 25;
const QString kShowCueTypesKey = QStringLiteral("toggleShowCueTypes");

// The start of every panel toggle. While the panel's animation runs its button is disabled and
// a toggle only beeps (false). Else the button stays disabled until the animation ends, and a
// menu twin acts as a click on it and then shows the button's state.
bool beginPanelToggle(KavioButtonInterface& button, QAction* sender, QAction* twin, AppDelegate& app)
{
    if (!button.isEnabled()) {
        QApplication::beep();
        return false;
    }
    button.setEnabled(false);
    app.setHasUnsavedChanges(true);
    if (sender && sender == twin)
        button.setState(button.state() != 0 ? 0 : 1);
    if (twin)
        twin->setChecked(button.state() != 0);
    return true;
}

// The view's frame shifted by dx and widened by dw, or placed at x; empty without a view.
QRect moved(const QWidget* view, int dx, int dw, int x = -1)
{
    if (!view)
        return {};
    QRect frame = view->geometry();
    const int width = frame.width();
    frame.moveLeft(x >= 0 ? x : frame.x() + dx);
    frame.setWidth(width + dw);
    return frame;
}

}  // namespace

QAbstractAnimation* AppDelegate::runningPanelAnimation() const
{
    return panelAnimation_.data();
}

void AppDelegate::animatePanels(bool synchronous, const std::vector<std::pair<QWidget*, QRect>>& frames,
                                std::function<void()> done)
{
    // Owned by the first view it moves: a window that goes away takes its running animation
    // with it, and the completion never runs on views that are gone.
    auto* group = new QParallelAnimationGroup(frames.empty() ? nullptr : frames.front().first);
    for (const auto& [view, frame] : frames) {
        if (!view)
            continue;
        auto* animation = new QPropertyAnimation(view, "geometry", group);
        animation->setDuration(synchronous ? 0 : kPanelAnimationMilliseconds);
        animation->setStartValue(view->geometry());
        animation->setEndValue(frame);
        group->addAnimation(animation);
    }
    QObject::connect(group, &QAbstractAnimation::finished, group, [done = std::move(done)] {
        if (done)
            done();
    });
    panelAnimation_ = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void AppDelegate::toggleLeftView(QAction* sender)
{
    KavioButtonInterface* button = outlets_.leftViewButton;
    KavioHidingView* left = outlets_.leftView;
    KavioHidingView* middle = outlets_.middleView;
    QWidget* divider = outlets_.verticalPlaceholderLeft;
    if (!button || !left || !middle || !divider)
        return;
    if (!beginPanelToggle(*button, sender, outlets_.showHidePlaylist, *this))
        return;

    const bool synchronous = shouldUseSynchronousAnimationOnLeft_;
    shouldUseSynchronousAnimationOnLeft_ = true;
    const int width = left->maxWidth();
    const std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
    if (button->state() != 0) {
        QRect dividerFrame = divider->geometry();
        dividerFrame.moveLeft(width);
        animatePanels(synchronous,
                      {{divider, dividerFrame},
                       {middle, moved(middle, width, -width)},
                       {outlets_.waveformView, moved(outlets_.waveformView, width, -width)}},
                      [weakSelf, left, button] {
                          left->show();
                          if (const auto self = weakSelf.lock())
                              self->shouldUseSynchronousAnimationOnLeft_ = false;
                          button->setEnabled(true);
                      });
        return;
    }
    left->hide();
    QRect dividerFrame = divider->geometry();
    dividerFrame.moveLeft(0);
    const int x = divider->width();
    animatePanels(synchronous,
                  {{divider, dividerFrame}, {middle, moved(middle, 0, width, x)},
                   {outlets_.waveformView, moved(outlets_.waveformView, 0, width, x)}},
                  [weakSelf, button] {
                      if (const auto self = weakSelf.lock())
                          self->shouldUseSynchronousAnimationOnLeft_ = false;
                      button->setEnabled(true);
                  });
}

void AppDelegate::toggleRightView(QAction* sender)
{
    KavioButtonInterface* button = outlets_.rightViewButton;
    KavioHidingView* right = outlets_.rightView;
    KavioHidingView* middle = outlets_.middleView;
    QWidget* divider = outlets_.verticalPlaceholderRight;
    QAction* twin = outlets_.showHideCuePreferences;
    if (!button || !right || !middle || !divider)
        return;
    if (!beginPanelToggle(*button, sender, twin, *this))
        return;

    const bool synchronous = shouldUseSynchronousAnimationOnRight_;
    shouldUseSynchronousAnimationOnRight_ = true;
    const bool show = button->state() != 0;
    if (show) {
        if (outlets_.waveformViewButton)
            outlets_.waveformViewButton->setEnabled(true);
    } else {
        right->storeCurrentWidhtAsMaxWidth();
        right->hide();
    }
    const int width = show ? -right->maxWidth() : right->maxWidth();
    QRect dividerFrame = divider->geometry();
    dividerFrame.moveLeft(dividerFrame.x() + width);
    animatePanels(synchronous,
                  {{divider, dividerFrame}, {middle, moved(middle, 0, width)},
                   {outlets_.waveformView, moved(outlets_.waveformView, 0, width)}},
                  [weakSelf = weak_from_this(), right, button, twin, show] {
                      if (show)
                          right->show();
                      if (twin)
                          twin->setText(show ? QStringLiteral("Hide Cue Preferences") : QStringLiteral("Show Cue Preferences"));
                      if (const auto self = weakSelf.lock())
                          self->shouldUseSynchronousAnimationOnRight_ = false;
                      button->setEnabled(true);
                  });
    // This item speaks through its title.
    if (twin)
        twin->setChecked(false);
}

void AppDelegate::toggleWaveformView(QAction* sender)
{
    KavioButtonInterface* button = outlets_.waveformViewButton;
    KavioHidingView* middle = outlets_.middleView;
    QWidget* strip = outlets_.waveformView;
    QAction* twin = outlets_.showHideWaveform;
    if (!button || !middle || !strip)
        return;
    if (!beginPanelToggle(*button, sender, twin, *this))
        return;

    const bool synchronous = shouldUseSynchronousAnimationOnLeft_ || shouldUseSynchronousAnimationOnRight_;
    const bool show = button->state() != 0;
    if (!show)
        strip->hide();
    // The centre area's bottom edge moves by the strip's height (up to show it).
    QRect frame = middle->geometry();
    frame.setHeight(frame.height() + (show ? -strip->height() : strip->height()));
    animatePanels(synchronous, {{middle, frame}}, [strip, button, twin, show] {
        if (show)
            strip->show();
        if (twin)
            twin->setText(show ? QStringLiteral("Hide Waveform") : QStringLiteral("Show Waveform"));
        button->setEnabled(true);
    });
    if (twin)
        twin->setChecked(false);
}

int AppDelegate::layOutPanelsAtLaunch()
{
    if (outlets_.rightView)
        outlets_.rightView->setMaxWidth(kRightPanelMaxWidth);
    if (outlets_.leftView)
        outlets_.leftView->storeCurrentWidhtAsMaxWidth();
    int width = kMinimumCentreWidth;
    for (const QWidget* divider : {outlets_.verticalPlaceholderLeft, outlets_.verticalPlaceholderRight})
        width += divider ? divider->width() : 0;
    for (const KavioHidingView* panel : {outlets_.leftView, outlets_.rightView})
        width += panel ? panel->maxWidth() : 0;
    return width;
}

void AppDelegate::savePanels(QVariantMap& record) const
{
    if (outlets_.leftView)
        record.insert(QStringLiteral("leftViewMaxWidth"), float(outlets_.leftView->maxWidth()));
    if (outlets_.rightView)
        record.insert(QStringLiteral("rightViewMaxWidth"), float(outlets_.rightView->maxWidth()));
    for (const auto& [key, button] : {std::pair{"leftViewButton", outlets_.leftViewButton},
                                      {"rightViewButton", outlets_.rightViewButton},
                                      {"waveformViewButton", outlets_.waveformViewButton}})
        if (button)
            record.insert(QString::fromLatin1(key), button->state() != 0);
}

void AppDelegate::restorePanels(const QVariantMap& record)
{
    // "leftViewMaxWidth" is not applied: the left panel keeps the width it was laid out with.
    const QVariant rightWidth = record.value(QStringLiteral("rightViewMaxWidth"));
    bool isNumber = false;
    const double width = rightWidth.toDouble(&isNumber);
    if (outlets_.rightView && isNumber && rightWidth.typeId() != QMetaType::QString && width > 0 && width < 1e5)
        outlets_.rightView->setMaxWidth(int(width));
    const auto restore = [&record](KavioButtonInterface* button, const char* key, bool* flag,
                                   const std::function<void()>& toggle) {
        const QVariant stored = record.value(QLatin1String(key));
        bool ok = false;
        const int state = stored.toInt(&ok) != 0 ? 1 : 0;
        if (!button || !ok || stored.typeId() == QMetaType::QString || state == button->state())
            return;
        if (flag)
            *flag = true;
        // A click: the button flips, then its action runs.
        button->setState(state);
        toggle();
    };
    restore(outlets_.leftViewButton, "leftViewButton", &shouldUseSynchronousAnimationOnLeft_, [this] { toggleLeftView(); });
    restore(outlets_.rightViewButton, "rightViewButton", &shouldUseSynchronousAnimationOnRight_, [this] { toggleRightView(); });
    restore(outlets_.waveformViewButton, "waveformViewButton", nullptr, [this] { toggleWaveformView(); });
}

void AppDelegate::masterViewResized(QSize oldSize, QSize newSize)
{
    const int dw = newSize.width() - oldSize.width();
    const int dh = newSize.height() - oldSize.height();
    const auto grow = [dh](QWidget* view, int dx, int dwidth, int dy) {
        if (view)
            view->setGeometry(view->x() + dx, view->y() + dy, view->width() + dwidth, view->height() + dh * (dy == 0));
    };
    grow(outlets_.leftView, 0, 0, 0);
    grow(outlets_.verticalPlaceholderLeft, 0, 0, 0);
    grow(outlets_.middleView, 0, dw, 0);
    grow(outlets_.verticalPlaceholderRight, dw, 0, 0);
    grow(outlets_.rightView, dw, 0, 0);
    grow(outlets_.waveformView, 0, dw, dh);
}

void AppDelegate::toggleCueTypes()
{
    defaults_.setBool(!defaults_.boolForKey(kShowCueTypesKey), kShowCueTypesKey);
    defaults_.synchronize();
    NotificationCenter::defaultCenter().post(kKavioCueTypesToggledNotification);
}

int AppDelegate::mainWindowLevel() const
{
    return outlets_.window && outlets_.window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) ? kStatusWindowLevel
                                                                                                 : 0;
}

void AppDelegate::changeAlwaysOnTop()
{
    KavioWindow* window = outlets_.window;
    if (!window)
        return;
    const bool onTop = mainWindowLevel() == 0;
    // Changing the flags hides a shown window; it comes back at once.
    const bool visible = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (visible)
        window->show();
    if (outlets_.alwaysOnTopMenuItem)
        outlets_.alwaysOnTopMenuItem->setChecked(onTop);
}

bool AppDelegate::validateMenuItem(QAction* item)
{
    if (!item)
        return false;
    const auto controller = outlets_.controller;
    if (item == outlets_.newProjectMenuItem || item == outlets_.loadProjectMenuItem)
        return !(controller && controller->isTranscoding());
    // One side panel always stays.
    if (item == outlets_.showHidePlaylist)
        return !(outlets_.rightView && outlets_.rightView->isHidden());
    if (item == outlets_.showHideCuePreferences)
        return !(outlets_.leftView && outlets_.leftView->isHidden());
    // Items of the cue list controller carry the action it validates them by.
    if (const QVariant action = item->property("kavioMenuAction"); action.isValid() && controller) {
        const KavioMenuValidation validation = controller->validateUserInterfaceItem(KavioMenuAction(action.toInt()));
        if (!validation.title.isEmpty())
            item->setText(validation.title);
        return validation.enabled;
    }
    if (item == outlets_.toggleCueTypesMenuItem)
        item->setText(defaults_.boolForKey(kShowCueTypesKey) ? QStringLiteral("Hide Cue Types")
                                                             : QStringLiteral("Show Cue Types"));
    return true;
}
