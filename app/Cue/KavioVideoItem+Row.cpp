// The cue's row: built in code (the cue's outlets on a KavioVideoItemView), kept up to date by
// the cue, collapsed and expanded, with its type and colour-tag columns.

#include "Cue/KavioVideoItem.h"

#include "Audio/QVTAudioMeteringView.h"
#include "Controller/KavioVideoItemManager.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioFonts.h"
#include "Support/KavioPopUpButtonInterface.h"
#include "UserDefaults.h"
#include "Views/KavioAudioMeterInterface.h"
#include "Views/KavioBoxView.h"
#include "Views/KavioButton.h"
#include "Views/KavioColorTagButton.h"
#include "Views/KavioControlStyle.h"
#include "Views/KavioFlippedGeometry.h"
#include "Views/KavioGotoTextButton.h"
#include "Views/KavioImageView.h"
#include "Views/KavioItemsView.h"
#include "Views/KavioThumbnailView.h"
#include "Views/KavioVideoItemStateView.h"
#include "Views/KavioVideoItemView.h"

#include <QApplication>
#include <QLabel>

#include <cmath>

namespace {

constexpr int kColorTagColumn = 21;
constexpr int kTypeColumn = 25;
constexpr int kToggleSize = 20;
// The meter's bars end 64 points from its left edge for every channel count but 9 and 10.
constexpr int kMeterWidth = 64;
constexpr int kMeterMargin = 4;

QColor currentBlue() { return QColor::fromRgbF(0.0f, 0.656f, 0.929f); }
QColor idleGrey() { return QColor::fromRgbF(0.65f, 0.65f, 0.65f); }
QColor warningYellow() { return QColor::fromRgbF(0.98f, 0.822f, 0.0f); }

QLabel* makeLabel(QWidget* row, double pixelSize)
{
    auto* label = new QLabel(row);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setFont(KavioFonts::font(QStringLiteral("Helvetica Neue Light"), pixelSize));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, idleGrey());
    label->setPalette(p);
    return label;
}

void setTextColor(QLabel* label, const QColor& color)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
}

bool isOn(const KavioButtonInterface* checkbox)
{
    return checkbox && checkbox->state() == 1;
}

void setToggle(KavioRowButton& button, bool on, bool enabled)
{
    button.state = on ? 1 : 0;
    button.enabled = enabled;
}

// A new cue takes the list's default toggles. The pauses exclude the loop (and a pause at the
// end the transition too); a loop or transition excludes the pauses.
void applyDefaultToggles(KavioVideoItem& cue, const KavioVideoItemManagerOutlets& defaults)
{
    if (isOn(defaults.defaultToggleFadeIn))
        cue.fadeInButton().state = 1;
    if (isOn(defaults.defaultToggleFadeOut))
        cue.fadeOutButton().state = 1;
    if (isOn(defaults.defaultTogglePauseAtBeginning)) {
        cue.pauseAtBeginningButton().state = 1;
        cue.setShouldStopAtBeginning(true);
    }
    if (isOn(defaults.defaultTogglePauseAtEnd)) {
        cue.pauseAtEndButton().state = 1;
        cue.setShouldStopAtEnd(true);
    }
    if (cue.shouldStopAtBeginning() || cue.shouldStopAtEnd()) {
        setToggle(cue.loopButton(), false, false);
        if (cue.shouldStopAtEnd())
            setToggle(cue.transitionButton(), false, false);
        return;
    }
    const bool transition = isOn(defaults.defaultToggleTransition);
    if (isOn(defaults.defaultToggleLoop)) {
        setToggle(cue.loopButton(), true, true);
        cue.setIsLooping(true);
        cue.setupLoopHelper();
        setToggle(cue.transitionButton(), false, false);
    }
    if (transition) {
        setToggle(cue.loopButton(), false, false);
        cue.setHasTransition(true);
        cue.transitionButton().state = 1;
    }
    if (cue.loopButton().state == 1 || transition) {
        if (cue.loopButton().state == 1) {
            setToggle(cue.pauseAtBeginningButton(), false, false);
            cue.setShouldStopAtBeginning(false);
        }
        setToggle(cue.pauseAtEndButton(), false, false);
        cue.setShouldStopAtEnd(false);
    }
}

}  // namespace

// The media-type icons: white templates the icon column tints.
QImage KavioVideoItem::mediaTypeIconImage(int mediaType)
{
    QString name;
    switch (mediaType) {
    case KavioMediaTypeMovie: name = QStringLiteral("kavio_movie"); break;
    case KavioMediaTypeCamera: name = QStringLiteral("kavio_camera"); break;
    case KavioMediaTypeSyphon: name = QStringLiteral("kavio_syphon"); break;
    case KavioMediaTypeNDI: name = QStringLiteral("kavio_ndi"); break;
    case KavioMediaTypeStill: name = QStringLiteral("kavio_still"); break;
    case KavioMediaTypeBrowser: name = QStringLiteral("kavio_browser"); break;
    case KavioMediaTypeWindow: name = QStringLiteral("kavio_window"); break;
    case KavioMediaTypeAudio: name = QStringLiteral("kavio_audio"); break;
    default: return {};
    }
    return KavioControlStyle::templateImage(name);
}

KavioRowHandle::~KavioRowHandle()
{
    if (QObject* row = view.data())
        row->deleteLater();  // posted to the row's (main) thread
}

KavioVideoItemView* KavioVideoItem::view() const
{
    return static_cast<KavioVideoItemView*>(row_.view.data());
}

bool KavioVideoItem::loadNib()
{
    hasvideoerror_.store(false);
    // Headless runs (no widget application) have no rows.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) || !DispatchQueue::isMainThread())
        return true;
    auto* row = new KavioVideoItemView;
    row->setVideoItem(shared_from_this());
    row_.view = row;
    KLOG_VERBOSE("KavioVideoItemUI loaded");

    isCollapsed_.store(false);
    row->resize(row->width(), KavioVideoItemView::kExpandedHeight);
    setShouldStopAtEnd(false);
    setShouldStopAtBeginning(false);
    rowTimes_.loop.clear();
    soundButton_.enabled = false;

    showsCueTypes_ = UserDefaults::standardUserDefaults().boolForKey(QStringLiteral("toggleShowCueTypes"));

    if (mediaType() != KavioMediaTypeMovie)
        setItemDuration(durationOfNonMovies());
    const auto controller = manager();
    const bool loading = controller && controller->isLoadingProject();
    const auto* list = dynamic_cast<const KavioVideoItemManager*>(controller.get());
    if (list) {
        const KavioVideoItemManagerOutlets& defaults = list->outlets();
        // A duration popup's title read as seconds; a title that is not a number gives 0.
        if (defaults.defaultFadeDurationPopup)
            setFadetime(defaults.defaultFadeDurationPopup->titleOfSelectedItem().toFloat());
        if (defaults.defaultTransitionDurationPopup)
            setTransitionTime(defaults.defaultTransitionDurationPopup->titleOfSelectedItem().toFloat());
        if (!loading)
            applyDefaultToggles(*this, defaults);
    }
    // A loaded cue keeps the volume its record gives.
    if (loading)
        shouldsetvolumetorms_.store(false);
    if (mediaType() != KavioMediaTypeMovie && !loading && !isPDF())
        generateThumbnailAsync();

    colorTag_.store(0);
    colorTagButton_.hidden = true;
    // Every row starts with the colour-tag column closed.
    colortagshown_ = false;
    audioMeterHidden_ = true;

    // The row owns these observations: they end with it.
    const std::weak_ptr<KavioVideoItem> weakSelf = weak_from_this();
    auto& center = NotificationCenter::defaultCenter();
    center.addObserver(row, QStringLiteral("KavioCueTypesToggled"), nullptr, [weakSelf](const Notification&) {
        if (const auto self = weakSelf.lock())
            self->toggleCueTypes();
    }, &DispatchQueue::main());
    center.addObserver(row, kKavioColorTagsShouldToggleNotification, nullptr, [weakSelf](const Notification& n) {
        if (const auto self = weakSelf.lock())
            self->toggleColorTagsToState(n.userInfo.value(kKavioColorTagsToggleDesiredStateKey).toBool());
    }, &DispatchQueue::main());
    // The meter's levels: the tick is posted on the main thread, where the meter is written.
    center.addObserver(row, QStringLiteral("KavioUpdateUI"), nullptr, [weakSelf](const Notification&) {
        if (const auto self = weakSelf.lock())
            self->updateAudioMeter();
    });
    QObject::connect(row, &QObject::destroyed, row, [row] { NotificationCenter::defaultCenter().removeObserver(row); });

    // A row of the cue list is filled in when it comes near the list's visible part (a long list
    // would otherwise build thousands of subviews no one sees); any other row at once.
    const bool listFillsRow = list && dynamic_cast<KavioItemsView*>(list->outlets().itemsView.lock().get());
    if (listFillsRow)
        refreshTitle();
    else
        buildRowSubviews();
    return true;
}

void KavioVideoItem::buildRowSubviews()
{
    KavioVideoItemView* row = view();
    if (!row || row->hasSubviews())
        return;
    row->stateView = new KavioVideoItemStateView(row);
    row->thumbnailView = new KavioThumbnailView(row);
    row->nameField = makeLabel(row, 14);
    row->indexField = makeLabel(row, 14);
    row->indexField->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->mediaTypeIconField = new KavioImageView(row);
    row->mediaTypeIconField->setAttribute(Qt::WA_TransparentForMouseEvents);
    row->colorTagButton = new KavioColorTagButton(row);
    row->openButton = new KavioButton(row);
    row->errorButton = new KavioButton(row);
    row->togglesBox = new KavioBoxView(row);
    const std::weak_ptr<KavioVideoItem> weakSelf = weak_from_this();
    const auto toggle = [&](KavioButton*& button, const QString& title,
                            void (KavioVideoItem::*action)(KavioToggleSender), KavioRowButton& model) {
        button = new KavioButton(row);
        button->setButtonType(KavioButtonType::OnOff);
        button->setTitle(title);
        KavioRowButton* state = &model;
        button->setAction([weakSelf, button, state, action] {
            const auto self = weakSelf.lock();
            if (!self)
                return;
            // The button has flipped; the cue's model takes its state before the action reads it.
            state->state = button->state();
            ((*self).*action)(KavioToggleSender::Button);
            self->refreshRowButtons();
        });
    };
    toggle(row->soundButton, QStringLiteral("S"), &KavioVideoItem::changeAudioOnSelectedItemsFromUI, soundButton_);
    toggle(row->fadeInButton, QStringLiteral("FI"), &KavioVideoItem::changeFadeInOnSelectedItemsFromUI, fadeInButton_);
    toggle(row->fadeOutButton, QStringLiteral("FO"), &KavioVideoItem::changeFadeOutOnSelectedItemsFromUI, fadeOutButton_);
    toggle(row->pauseAtBeginningButton, QStringLiteral("PB"),
           &KavioVideoItem::changePauseAtBeginningOnSelectedItemsFromUI, pauseAtBeginningButton_);
    toggle(row->pauseAtEndButton, QStringLiteral("PE"), &KavioVideoItem::changePauseAtEndOnSelectedItemsFromUI,
           pauseAtEndButton_);
    toggle(row->loopButton, QStringLiteral("L"), &KavioVideoItem::changeLoopOnSelectedItemsFromUI, loopButton_);
    toggle(row->transitionButton, QStringLiteral("T"), &KavioVideoItem::changeTransitionOnSelectedItemsFromUI,
           transitionButton_);
    toggle(row->gotoButton, QStringLiteral("G"), &KavioVideoItem::changeGotoOnSelectedItemsFromUI, gotoButton_);
    row->gotoTargetButton = new KavioGotoTextButton(row);
    row->gotoTargetButton->setButtonType(KavioButtonType::OnOff);
    row->loopCountField = makeLabel(row, 11);
    row->startTimeField = makeLabel(row, 11);
    row->endTimeLabel = makeLabel(row, 11);
    row->endTimeField = makeLabel(row, 11);
    row->collapseExpandButton = new KavioButton(row);
    row->collapseExpandButton->setButtonType(KavioButtonType::MomentaryPushIn);
    row->collapseExpandButton->setAction([weakSelf] {
        if (const auto self = weakSelf.lock())
            self->toggleCollapse();
    });
    if (isCollapsed())
        row->collapseExpandButton->setImageName(QStringLiteral("kavio_expand2"));
    auto* meter = new QVTAudioMeteringView(row);
    meter->setAttribute(Qt::WA_TransparentForMouseEvents);  // its empty left part lies over the row
    row->audioMeterView = meter;
    row->audioMeterWidget = meter;
    setAudioMeter(meter);
    KavioAudioMeterInterface* const meterInterface = meter;
    QObject::connect(meter, &QObject::destroyed, [weakSelf, meterInterface] {
        if (const auto self = weakSelf.lock(); self && self->audioMeter_ == meterInterface)
            self->audioMeter_ = nullptr;
    });
    if (audioMeterChannels_ > 0)
        meter->initWithChannels(audioMeterChannels_);
    meter->setHidden(audioMeterHidden_);

    row->openButton->setButtonType(KavioButtonType::MomentaryPushIn);
    row->openButton->setTitle(QStringLiteral("…"));
    row->openButton->setAction([weakSelf] {
        if (const auto self = weakSelf.lock())
            self->replaceMedia();
    });
    row->errorButton->setButtonType(KavioButtonType::MomentaryPushIn);
    row->errorButton->setTitle(QStringLiteral("!"));
    row->errorButton->cell().setDrawColor(warningYellow());
    row->errorButton->setAction([weakSelf] {
        if (const auto self = weakSelf.lock())
            self->replaceMedia();
    });
    row->colorTagButton->setAction([weakSelf] {
        const auto self = weakSelf.lock();
        if (const auto controller = self ? std::dynamic_pointer_cast<KavioVideoItemManager>(self->manager()) : nullptr)
            controller->selectItemsByColorTag(self->colorTag());
    });

    setMediaTypeIcon();
    row->showPendingThumbnail();
    refreshTitle();
    refreshRowButtons();
    refreshRowTimes();
}

KavioVideoItemView* KavioVideoItem::filledRow() const
{
    KavioVideoItemView* row = view();
    return row && row->hasSubviews() ? row : nullptr;
}

void KavioVideoItem::layoutRow()
{
    KavioVideoItemView* row = filledRow();
    if (!row)
        return;
    // A shown meter takes a column at the right edge as wide as its bars; the top line's
    // buttons, the name and the end time keep left of it.
    auto* meter = qobject_cast<QVTAudioMeteringView*>(row->audioMeterWidget);
    int meterWidth = kMeterWidth;
    int meterColumn = 0;
    if (meter) {
        const QVTAudioMeteringView::Layout bars = QVTAudioMeteringView::layoutForChannels(meter->channels());
        const int barsEnd = bars.leftOffset + meter->channels() * (bars.barWidth + bars.gap) - bars.gap;
        meterWidth = std::max(kMeterWidth, barsEnd);
        if (!meter->isHidden() && meter->channels() > 0)
            meterColumn = barsEnd - bars.leftOffset + kMeterMargin;
    }
    const int fullWidth = row->width();
    const int w = fullWidth - meterColumn;
    const int tagShift = colortagshown_ ? kColorTagColumn : 0;
    const int typeShift = showsCueTypes_ ? kTypeColumn : 0;
    row->stateView->setGeometry(0, 0, 4, row->height());
    row->colorTagButton->setGeometry(6, 9, 14, 14);
    row->mediaTypeIconField->setGeometry(6 + tagShift, 6, 20, 20);
    row->indexField->setGeometry(6 + tagShift + typeShift, 6, 36, 20);
    const int nameX = 48 + tagShift + typeShift;
    row->nameField->setGeometry(nameX, 6, std::max(0, w - nameX - 56), 20);
    row->errorButton->setGeometry(w - 52, 6, 20, 20);
    row->openButton->setGeometry(w - 52, 6, 20, 20);
    row->collapseExpandButton->setGeometry(w - 28, 6, 20, 20);
    row->thumbnailView->setGeometry(10, 32, 96, 54);
    const QList<KavioButton*> toggles{row->soundButton, row->fadeInButton, row->fadeOutButton,
                                      row->pauseAtBeginningButton, row->pauseAtEndButton, row->loopButton,
                                      row->transitionButton, row->gotoButton};
    const int boxWidth = int(toggles.size()) * kToggleSize + 6 + (gotoTargetButton_.hidden ? 0 : 34);
    row->togglesBox->setGeometry(114, 32, boxWidth, kToggleSize + 4);
    for (int i = 0; i < toggles.size(); ++i)
        toggles[i]->setGeometry(117 + i * kToggleSize, 34, kToggleSize, kToggleSize);
    row->gotoTargetButton->setGeometry(117 + int(toggles.size()) * kToggleSize, 34, 32, kToggleSize);
    row->startTimeField->setGeometry(114, 58, 84, 14);
    row->endTimeLabel->setGeometry(198, 58, 30, 14);
    row->endTimeField->setGeometry(226, 58, std::max(0, w - 226 - 18), 14);
    row->loopCountField->setGeometry(114, 72, 120, 14);
    if (row->audioMeterWidget) {
        const double x = fullWidth - kMeterMargin - meterWidth;
        const QRectF frame = isCollapsed() ? QRectF(x, 4, meterWidth, 22) : QRectF(x, 10, meterWidth, 72);
        row->audioMeterWidget->setGeometry(KavioFlippedGeometry::rect(frame, row->height()).toRect());
    }
}

void KavioVideoItem::refreshRowButtons()
{
    KavioVideoItemView* row = filledRow();
    if (!row)
        return;
    const auto present = [](KavioButton* button, const KavioRowButton& model) {
        button->setState(model.state);
        button->setEnabled(model.enabled);
        button->setHidden(model.hidden);
        if (!model.title.isEmpty())
            button->setTitle(model.title);
        if (!model.imageName.isEmpty())
            button->setImageName(model.imageName);
        button->setToolTip(model.toolTip);
    };
    present(row->soundButton, soundButton_);
    present(row->fadeInButton, fadeInButton_);
    present(row->fadeOutButton, fadeOutButton_);
    present(row->transitionButton, transitionButton_);
    present(row->loopButton, loopButton_);
    present(row->pauseAtBeginningButton, pauseAtBeginningButton_);
    present(row->pauseAtEndButton, pauseAtEndButton_);
    present(row->gotoButton, gotoButton_);
    present(row->gotoTargetButton, gotoTargetButton_);
    row->colorTagButton->setHidden(colorTagButton_.hidden);
    row->colorTagButton->setColorTag(colorTag());
    row->errorButton->setHidden(!isMissing());
    row->openButton->setEnabled(openButton_.enabled);
    row->update();
}

void KavioVideoItem::refreshRowTimes()
{
    if (!DispatchQueue::isMainThread()) {
        queueOnMain([](KavioVideoItem& cue) { cue.refreshRowTimes(); });
        return;
    }
    KavioVideoItemView* row = filledRow();
    if (!row)
        return;
    row->startTimeField->setText(rowTimes_.start);
    row->endTimeLabel->setText(rowTimes_.endLabel);
    row->endTimeLabel->setToolTip(rowTimes_.endLabelToolTip);
    row->endTimeField->setText(rowTimes_.end);
    row->loopCountField->setText(rowTimes_.loop);
}

void KavioVideoItem::refreshTitle()
{
    if (!DispatchQueue::isMainThread()) {
        queueOnMain([](KavioVideoItem& cue) { cue.refreshTitle(); });
        return;
    }
    setCueName(title());
    KavioVideoItemView* row = filledRow();
    if (!row)
        return;
    const bool current = isCurrent();
    const QColor color = current ? currentBlue() : idleGrey();
    row->nameField->setFont(KavioFonts::font(current ? QStringLiteral("Helvetica Neue Medium")
                                                     : QStringLiteral("Helvetica Neue Light"), 14));
    setTextColor(row->nameField, color);
    setTextColor(row->indexField, color);
    row->mediaTypeIconField->setDrawColor(color);
    row->nameField->setText(title());
    row->indexField->show();
    row->indexField->setText(cueID().isEmpty() ? QString::number(index()) : cueID());
    showsCueTypes_ = UserDefaults::standardUserDefaults().boolForKey(QStringLiteral("toggleShowCueTypes"));
    row->mediaTypeIconField->setVisible(showsCueTypes_);
    layoutRow();
    handleStateDisplay();
}

void KavioVideoItem::handleStateDisplay()
{
    if (!DispatchQueue::isMainThread()) {
        queueOnMain([](KavioVideoItem& cue) { cue.handleStateDisplay(); });
        return;
    }
    KavioVideoItemView* row = filledRow();
    if (!row)
        return;
    if (isCurrent()) {
        row->stateView->move(0, 0);
        row->stateView->setDrawColor(currentBlue());
        row->stateView->show();
    } else {
        row->stateView->hide();
    }
    row->stateView->update();
}

void KavioVideoItem::setMediaTypeIcon()
{
    KavioVideoItemView* row = filledRow();
    if (!row)
        return;
    const QImage icon = mediaTypeIconImage(mediaType());
    if (!icon.isNull())
        row->mediaTypeIconField->setImage(icon);
}

void KavioVideoItem::hideIndexNumberBecauseOfDrag()
{
    if (KavioVideoItemView* row = filledRow())
        row->indexField->hide();
}

void KavioVideoItem::restoreIndexNumberAfterDrag()
{
    refreshTitle();
    setMediaTypeIcon();
}

void KavioVideoItem::expand()
{
    setRowCollapsed(false);
}

void KavioVideoItem::collapse()
{
    setRowCollapsed(true);
}

void KavioVideoItem::setRowCollapsed(bool collapsed)
{
    if (isCollapsed_.exchange(collapsed) == collapsed)
        return;
    KavioVideoItemView* row = view();
    if (!row)
        return;
    row->resize(row->width(), collapsed ? KavioVideoItemView::kCollapsedHeight : KavioVideoItemView::kExpandedHeight);
    if (row->hasSubviews())
        row->collapseExpandButton->setImageName(collapsed ? QStringLiteral("kavio_expand2")
                                                          : QStringLiteral("kavio_collapse2"));
    layoutRow();
}

void KavioVideoItem::toggleCollapse()
{
    if (const auto controller = std::dynamic_pointer_cast<KavioVideoItemManager>(manager()))
        controller->toggleSelectedItemsWithItem(shared_from_this());
}

void KavioVideoItem::toggleCueTypes()
{
    showsCueTypes_ = !showsCueTypes_;
    if (KavioVideoItemView* row = filledRow())
        row->mediaTypeIconField->setVisible(showsCueTypes_);
    layoutRow();
}

void KavioVideoItem::toggleColorTagsToState(bool shown)
{
    if (colortagshown_ == shown)
        return;
    colortagshown_ = shown;
    layoutRow();
}

void KavioVideoItem::setColorTag(std::int32_t tag)
{
    if (colorTag_.load() == tag)
        return;
    colorTag_.store(tag);
    colorTagButton_.hidden = tag == 0;
    if (tag == 0)
        KLOG_VERBOSE("colorTagButton is hidden!");
    refreshRowButtons();
}

void KavioVideoItem::updateTransitionIcon()
{
    if (nextItemToPlay()) {
        transitionButton_.imageName = QStringLiteral("kavio_transition");
        transitionButton_.toolTip = QStringLiteral("Transition to Next Cue");
    } else {
        transitionButton_.imageName = QStringLiteral("kavio_transition_broken");
        transitionButton_.toolTip = QStringLiteral("No next Cue! - Transition to Next Cue");
    }
    refreshRowButtons();
}

void KavioVideoItem::rebuildAudioMeter()
{
    if (audioMeter_)
        audioMeter_->initWithChannels(audioMeterChannels_);
    KavioVideoItemView* row = filledRow();
    if (row && row->audioMeterWidget) {
        row->audioMeterWidget->setHidden(audioMeterHidden_);
        layoutRow();
    }
}

void KavioVideoItem::updateAudioMeter()
{
    if (!DispatchQueue::isMainThread()) {
        queueOnMain([](KavioVideoItem& cue) { cue.updateAudioMeter(); });
        return;
    }
    const auto player = audioPlayer();
    if (!player || !audioMeter_)
        return;
    const QList<int> mapping = player->channelMapping();
    if (!isPlaying()) {
        for (int channel = 0; channel < mapping.size(); ++channel)
            audioMeter_->setLevelForChannel(-120.0f, channel);
        return;
    }
    const QList<float> levels = player->channelMeters();
    for (int channel = 0; channel < mapping.size(); ++channel)
        audioMeter_->setLevelForChannel(mapping[channel] > 0 && channel < levels.size() ? levels[channel] : -120.0f,
                                        channel);
}

void KavioVideoItem::animateCurrentStateOnFromDirection(int direction, float progress)
{
    queueOnMain([direction, progress](KavioVideoItem& cue) {
        KavioVideoItemView* row = cue.filledRow();
        if (!row)
            return;
        if (row->stateView->drawColor() != currentBlue())
            row->stateView->setDrawColor(currentBlue());
        const double h = row->height();
        // 10 rises from below, 20 sinks from above; origins are y upwards.
        const double y = direction == 10 ? h * (double(progress) - 1) : h - double(progress) * h;
        row->stateView->move(0, int(std::lround(KavioFlippedGeometry::rect({0, y, 4, h}, h).y())));
        row->stateView->show();
    });
}

void KavioVideoItem::animateCurrentStateOffFromDirection(int direction, float progress)
{
    queueOnMain([direction, progress](KavioVideoItem& cue) {
        KavioVideoItemView* row = cue.filledRow();
        if (!row)
            return;
        const double h = row->height();
        const double y = direction == 10 ? double(progress) * h : -double(progress) * h;
        row->stateView->move(0, int(std::lround(KavioFlippedGeometry::rect({0, y, 4, h}, h).y())));
    });
}
